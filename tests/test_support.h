#pragma once

// What the tests share: a home of their own, the user's programs caught, the event loop's
// pauses measured, dialogs answered when they show, the test cupsd, a main with German texts.
#include "dispatch/dispatch_error.h"
#include "dispatch/variant.h"
#include "support/german_ui.h"
#include "support/kopyra_application.h"
#include "test_home.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <functional>

// Stands in for the user's browser, mail program and file viewer: what they would be asked to
// open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    UrlCatcher()
    {
        for (const char* scheme : Schemes)
            QDesktopServices::setUrlHandler(QString::fromLatin1(scheme), this, "open");
    }
    ~UrlCatcher() override
    {
        for (const char* scheme : Schemes)
            QDesktopServices::unsetUrlHandler(QString::fromLatin1(scheme));
    }
    QStringList urls;
public Q_SLOTS:
    void open(const QUrl& url) { urls.append(url.toString()); }

private:
    static constexpr const char* Schemes[] = {"file", "http", "https", "mailto"};
};

// The longest pause of the event loop (a tick is due every 10 ms) while it lives.
class Heartbeat {
public:
    Heartbeat()
    {
        QObject::connect(&m_timer, &QTimer::timeout,
                         [this] { m_longest = std::max(m_longest, m_sinceTick.restart()); });
        m_sinceTick.start();
        m_timer.start(10);
    }
    // From now on only.
    void restart()
    {
        m_longest = 0;
        m_sinceTick.restart();
    }
    qint64 longestGap()
    {
        QTest::qWait(30); // the next tick measures a pause that lasted until now
        return m_longest;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    qint64 m_longest = 0;
};

// Hands the first modal dialog of that type to answer once it shows, as long as the returned
// timer lives; answer says whether it was the one wanted.
template <class Dialog>
std::unique_ptr<QTimer> whenShown(std::function<bool(Dialog*)> answer, int everyMs = 20)
{
    auto timer = std::make_unique<QTimer>();
    QTimer* t = timer.get();
    QObject::connect(t, &QTimer::timeout, [t, answer = std::move(answer)] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget()))
            if (answer(dialog))
                t->stop();
    });
    t->start(everyMs);
    return timer;
}

// What a call that failed through the dispatch contract said: "<number> <description>", or
// nothing when it did not fail.
template <class Call> QString failureOf(Call call, QString* source = nullptr)
{
    try {
        call();
    } catch (const imaging::DispatchError& e) {
        if (source)
            *source = e.source();
        return QString::number(e.number()) + QLatin1Char(' ') + e.description();
    }
    return {};
}

// Every control a user works with, below root as a screen reader sees it (Qt's accessibility
// interfaces), that has no name or not the role of its kind: "role 'name' (object name)".
inline QStringList unnamedControls(QWidget* root)
{
    static const QList<QAccessible::Role> working{
        QAccessible::PushButton,   QAccessible::CheckBox,   QAccessible::RadioButton,
        QAccessible::ComboBox,     QAccessible::SpinBox,    QAccessible::Slider,
        QAccessible::EditableText, QAccessible::ButtonMenu, QAccessible::ButtonDropDown,
        QAccessible::PageTab};
    QStringList found;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* at) {
        if (!at || at->state().invisible)
            return;
        QWidget* widget = qobject_cast<QWidget*>(at->object());
        const bool button = qobject_cast<QAbstractButton*>(at->object()) != nullptr;
        const bool buttonRole =
            at->role() == QAccessible::PushButton || at->role() == QAccessible::CheckBox ||
            at->role() == QAccessible::RadioButton || at->role() == QAccessible::ButtonMenu ||
            at->role() == QAccessible::ButtonDropDown;
        if ((working.contains(at->role()) && at->text(QAccessible::Name).trimmed().isEmpty()) ||
            (button && !buttonRole))
            found << QStringLiteral("%1 '%2' (%3)")
                         .arg(int(at->role()))
                         .arg(at->text(QAccessible::Name),
                              widget ? widget->objectName() : QString());
        for (int i = 0; i < at->childCount(); ++i)
            walk(at->child(i));
    };
    walk(QAccessible::queryAccessibleInterface(root));
    return found;
}

// The edit control's Display arguments for a page file (member 343).
inline QList<imaging::Variant> showArgs(QString* file)
{
    using imaging::Variant;
    return {Variant::textRef(file), Variant::missing(), Variant::missing(),
            Variant::missing(),     Variant::missing(), Variant::boolean(false)};
}

inline QByteArray contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
inline bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// The help file as it ships, for the tests that hold it to the program's texts.
inline QString helpText()
{
    return QString::fromUtf8(contents(QFINDTESTDATA("../resources/hilfe.htm")));
}

// Tests that print through the private cupsd that tools/test.sh starts. Run by hand without
// it they are skipped; under tools/test.sh (KOPYRA_SERVICES_STARTED) a missing cupsd fails.
#define KOPYRA_REQUIRE_TEST_CUPSD()                                                                \
    do {                                                                                           \
        if (qEnvironmentVariableIsEmpty("CUPS_SERVER")) {                                          \
            if (!qEnvironmentVariableIsEmpty("KOPYRA_SERVICES_STARTED"))                           \
                QFAIL("tools/test.sh started a cupsd, but CUPS_SERVER is not set");                \
            QSKIP("no test cupsd (tools/test.sh starts one)");                                     \
        }                                                                                          \
    } while (false)

// A test program's main: the application as the program has it, with Qt's German texts.
#define KOPYRA_TEST_MAIN(TestClass)                                                                \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        KopyraApplication app(argc, argv);                                                         \
        installGermanTranslations(app);                                                            \
        TestClass test;                                                                            \
        return QTest::qExec(&test, argc, argv);                                                    \
    }
