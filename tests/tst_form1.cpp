// The main window: its design, its start-up, the option boxes, and the last-resort report.
#include "imaging/common/access_keys.h"
#include "imaging/common/background_work.h"
#include "info_window/info_form.h"
#include "main_window/form1.h"
#include "main_window/option_check_box.h"
#include "main_window/single_instance.h"
#include "recording_control.h"
#include "support/german_ui.h"
#include "support/kopyra_application.h"
#include "support/module1.h"
#include "support/msg_box.h"
#include "support/unhandled_failure.h"
#include "test_support.h"

#include <QAbstractButton>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSettings>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <memory>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using imaging::Variant;

namespace {

// The three fakes of one window, sharing one log.
struct Fakes {
    RecordingLog log;
    RecordingControl* scan = nullptr;
    RecordingControl* edit = nullptr;
    RecordingControl* admin = nullptr;

    Form1::Environment environment(const QString& appFolder)
    {
        Form1::Environment env;
        env.applicationFolder = appFolder;
        env.controls = [this] {
            ImagingControls c;
            auto s = std::make_unique<RecordingControl>(QStringLiteral("ImgScan1"), log);
            auto e = std::make_unique<RecordingControl>(QStringLiteral("ImgEdit1"), log);
            auto a = std::make_unique<RecordingControl>(QStringLiteral("ImgAdmin1"), log);
            scan = s.get();
            edit = e.get();
            admin = a.get();
            // The print settings a real administration control starts with; no old page.
            admin->setResult(29, Variant::int32(1));
            admin->setResult(28, Variant::int32(0));
            admin->setResult(16, Variant::int32(0));
            admin->setResult(114, Variant::boolean(false));
            c.scan = std::move(s);
            c.edit = std::move(e);
            c.admin = std::move(a);
            return c;
        };
        return env;
    }
};

QString storedOption(const TestHome& home, const QString& key)
{
    return QSettings(home.storeFile(), QSettings::IniFormat)
        .value(QStringLiteral("Kopyra/") + key)
        .toString();
}

class ThrowingObject : public QObject {
public:
    bool event(QEvent* e) override
    {
        if (e->type() == QEvent::User)
            throw imaging::DispatchError(-2147352573, QStringLiteral("Kaputt"),
                                         QStringLiteral("Test.Quelle"));
        return QObject::event(e);
    }
};

} // namespace

class TestForm1 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void designedState();
    void startUpAccessesInOrder();
    void restoresOptions_data();
    void restoresOptions();
    void startsWhateverTheStore_data();
    void startsWhateverTheStore();
    void leftoverPageThatCannotBeShown_data();
    void leftoverPageThatCannotBeShown();
    void refusalOfMissingPageStillFails();
    void unhandledFailureEndsProgram();
    void resizing_data();
    void resizing();
    void minimisedChangesNothing();
    void copyButtonBusyWhileScanStarts();
    void lastPageGoneFromTheView();
    void questionBoxAnsweredOnScreen_data();
    void questionBoxAnsweredOnScreen();
    void buttonsReachTheirTargets();
    void oneKopyraOfTwoStartedTogether();
    void crashedKopyraTakenOver();
    void copyRequestAnswered();
    void foreignFolderRefused();
    void strangersListenerRefused();
    void startsWhereOneKopyraCannotBeDecided_data();
    void startsWhereOneKopyraCannotBeDecided();

private:
    std::unique_ptr<TestHome> m_home;
};

void TestForm1::init()
{
    m_home = std::make_unique<TestHome>();
    Module1::PageFilePath.clear();
    Module1::DesignWidth = 0;
    Module1::FirstCopyDone = 0;
    UnhandledFailure::resetForTesting();
    MsgBox::setHandler([](const MsgBox::Request& r) -> int {
        qWarning("unexpected message box: %s", qPrintable(r.text));
        return MsgBox::IdOk;
    });
}

void TestForm1::cleanup()
{
    MsgBox::setHandler({});
    m_home.reset();
}

// The window as designed, by its effects: every control inside its parent, no two visible
// ones overlapping, no caption clipped, the captions as written, the tab order through every
// control, option boxes greyed until start-up sets them.
void TestForm1::designedState()
{
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    QCOMPARE(form.size(), QSize(Form1::DesignedClientWidth / 15, Form1::DesignedClientHeight / 15));
    const QList<QWidget*> controls = form.findChildren<QWidget*>(
        QRegularExpression(QStringLiteral("^(Btn|.*Chk|SubLayer|ButtonFrame|ImgEdit1Frame3D)")));
    QCOMPARE(controls.size(), 7 + 4 + 3);
    for (QWidget* w : controls) {
        QRect inParent = w->parentWidget()->rect();
        if (w == form.ButtonFrame) // the column reaches above the window, as designed
            inParent.setTop(-4);
        QVERIFY2(inParent.contains(w->geometry()), qPrintable(w->objectName()));
        for (QWidget* other : controls)
            if (other != w && other->parentWidget() == w->parentWidget())
                QVERIFY2(!w->geometry().intersects(other->geometry()),
                         qPrintable(w->objectName() + QLatin1Char('/') + other->objectName()));
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            QVERIFY2(button->sizeHint().width() <= button->width(), qPrintable(button->text()));
    }
    QStringList captions;
    for (QToolButton* b : form.Btn) {
        captions << b->text();
        QVERIFY2(!b->toolTip().isEmpty(), qPrintable(b->objectName())); // says what it does
    }
    QCOMPARE(form.Btn[0]->toolTip(), QStringLiteral("Kopieren: Seite scannen und drucken"));
    // As a screen reader finds them: every control with a name and the role of its kind, the
    // copy button (a picture) by what it does, its tooltip as its description.
    form.show();
    QCOMPARE(unnamedControls(&form), QStringList());
    QAccessibleInterface* copy = QAccessible::queryAccessibleInterface(form.Btn[0]);
    QCOMPARE(copy->role(), QAccessible::PushButton);
    QCOMPARE(copy->text(QAccessible::Name), QStringLiteral("Kopieren"));
    QCOMPARE(copy->text(QAccessible::Description),
             QStringLiteral("Kopieren: Seite scannen und drucken"));
    QCOMPARE(imaging::duplicateAccessKeys(&form), QStringList());
    for (OptionCheckBox* box : {form.ExtViewChk, form.AskBeforePrintChk, form.ShowSpecificSetupChk,
                                form.ShowSpecificSetupFirstPageChk}) {
        captions << box->text();
        QCOMPARE(box->Value(), std::int16_t(2));
    }
    // The help names the buttons and boxes as they are written, access keys included.
    const QRegularExpression named(
        QStringLiteral("<dt>([^<]*)<span class=\"key\">(.)</span>([^<(]*)"));
    int helpNames = 0;
    for (auto it = named.globalMatch(helpText()); it.hasNext(); ++helpNames) {
        const auto m = it.next();
        const QString caption = m.captured(1) + QLatin1Char('&') + m.captured(2) + m.captured(3);
        QVERIFY2(captions.contains(caption.trimmed()), qPrintable(caption));
    }
    QCOMPARE(helpNames, 9);
    QCOMPARE(captions.join(QLatin1Char('|')),
             QStringLiteral("|&Scanner|&Drucker|&Optionen|&Hilfe|&Info|&Ende|Erweiterte &Ansicht|"
                            "Ausdruck &quittieren|Scan-Setup &zeigen|&Nur beim 1. Mal"));
    QVERIFY(form.PicHolder[0]->pixmap().toImage() != form.PicHolder[1]->pixmap().toImage());

    // Tab order as designed, starting at the copy button.
    QStringList order{form.Btn[0]->objectName()};
    for (QWidget* w = form.Btn[0]; order.size() < 11; order << w->objectName())
        do
            w = w->nextInFocusChain();
        while (!(w->focusPolicy() & Qt::TabFocus));
    QCOMPARE(order.join(QLatin1Char(' ')),
             QStringLiteral("Btn0 ExtViewChk Btn1 Btn2 Btn4 Btn3 Btn5 Btn6 AskBeforePrintChk "
                            "ShowSpecificSetupChk ShowSpecificSetupFirstPageChk"));

    // A click moves a box between checked and unchecked, never into the greyed state.
    form.AskBeforePrintChk->setValue(1);
    form.AskBeforePrintChk->click();
    QCOMPARE(form.AskBeforePrintChk->Value(), std::int16_t(0));
    form.AskBeforePrintChk->click();
    QCOMPARE(form.AskBeforePrintChk->Value(), std::int16_t(1));
}

void TestForm1::startUpAccessesInOrder()
{
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    form.Form_Load();
    const QString p = m_home->path() + QStringLiteral("/Kopyra.tif");
    QCOMPARE(Module1::PageFilePath, p);
    const QStringList expected{
        QStringLiteral("ImgEdit1 put 1 (BSTR:%1)").arg(p),
        QStringLiteral("ImgEdit1 put 21 (I4:3)"),
        QStringLiteral("ImgEdit1 call 349 (I4:210, I4:300)"),
        QStringLiteral("ImgEdit1 call 352 (I2:0)"),
        QStringLiteral("ImgEdit1 call 343 (BYREF BSTR:%1, MISSING, MISSING, MISSING, MISSING, "
                       "BOOL:0)")
            .arg(p),
        QStringLiteral("ImgScan1 put 1 (BSTR:%1)").arg(p),
        QStringLiteral("ImgScan1 put 9 (I4:1)"),
        QStringLiteral("ImgScan1 put 13 (BOOL:0)"),
        QStringLiteral("ImgScan1 put 14 (I4:1)"),
        QStringLiteral("ImgScan1 put 6 (I4:0)"),
        QStringLiteral("ImgAdmin1 put 4 (BSTR:%1)").arg(p),
    };
    QCOMPARE(fakes.log.describe(), expected);
    // The edit control gets the program's own page path by reference.
    QCOMPARE(fakes.log.entries()[4].args[0].kind(), imaging::VarKind::TextRef);
}

void TestForm1::restoresOptions_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::addColumn<QList<int>>("values"); // AskBeforePrint, ExtView, Setup, SetupFirstPage
    QTest::addColumn<bool>("damaged");
    QTest::newRow("all checked") << QByteArray("AskBeforePrint=1\nExtView=1\nShowSpecificSetup=1\n"
                                               "ShowSpecificSetupFirstPage=1\n")
                                 << QList<int>{1, 1, 1, 1} << false;
    QTest::newRow("a stored 0 wins over the default 1")
        << QByteArray("ShowSpecificSetup=0\n") << QList<int>{0, 0, 0, 0} << false;
    QTest::newRow("extended view only")
        << QByteArray("ExtView=1\n") << QList<int>{0, 1, 1, 0} << false;
    // Written back in plain form: proves every start writes, also unchanged values.
    QTest::newRow("leading zero") << QByteArray("ExtView=01\nAskBeforePrint=+0\n")
                                  << QList<int>{0, 1, 1, 0} << false;
    // The greyed value is a valid box value; it is kept as it is.
    QTest::newRow("greyed") << QByteArray("AskBeforePrint=2\n") << QList<int>{2, 0, 1, 0} << false;
    // A damaged value is said once and healed: the default, written back.
    const QList<int> defaults{0, 0, 1, 0};
    QTest::newRow("not a number") << QByteArray("ExtView=x\n") << defaults << true;
    QTest::newRow("empty") << QByteArray("ShowSpecificSetup=\n") << defaults << true;
    QTest::newRow("out of range") << QByteArray("AskBeforePrint=3\n") << defaults << true;
    QTest::newRow("negative") << QByteArray("ShowSpecificSetup=-1\n") << defaults << true;
    QTest::newRow("beyond 16 bits")
        << QByteArray("ShowSpecificSetupFirstPage=70000\n") << defaults << true;
    QTest::newRow("fraction") << QByteArray("ExtView=1.5\n") << defaults << true;
}

void TestForm1::restoresOptions()
{
    QFETCH(QByteArray, store);
    QFETCH(QList<int>, values);
    QFETCH(bool, damaged);
    m_home->seedStore("[Kopyra]\n" + store);
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    if (damaged)
        QTest::ignoreMessage(
            QtWarningMsg, QRegularExpression(QStringLiteral("Option %1=.* ungültig")
                                                 .arg(QString::fromLatin1(store.split('=')[0]))));
    form.Form_Load();
    const OptionCheckBox* boxes[] = {form.AskBeforePrintChk, form.ExtViewChk,
                                     form.ShowSpecificSetupChk, form.ShowSpecificSetupFirstPageChk};
    for (int i = 0; i < 4; ++i) { // each stored under its box's name without "Chk"
        QCOMPARE(boxes[i]->Value(), values[i]);
        QCOMPARE(storedOption(*m_home, boxes[i]->objectName().chopped(3)),
                 QString::number(values[i]));
    }
    QCOMPARE(form.SubLayer->isHidden(), values[1] == 0);
}

void TestForm1::startsWhateverTheStore_data()
{
    QTest::addColumn<bool>("garbage"); // else a folder where the store should be
    QTest::newRow("garbage") << true;
    QTest::newRow("folder in its place") << false;
}

// A store that cannot be read or written costs a notice, never the start or the copy.
void TestForm1::startsWhateverTheStore()
{
    QFETCH(bool, garbage);
    if (garbage)
        m_home->seedStore("[Kopyra]\nExtView=1\n\xff\xfe garbage [[\n");
    else
        QVERIFY(QDir().mkpath(m_home->storeFile()));
    QTest::ignoreMessage(QtInfoMsg, QRegularExpression(QStringLiteral("Meldung: .*Einstellung")));
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    form.Form_Load();
    QCOMPARE(form.ExtViewChk->Value(), std::int16_t(garbage ? 1 : 0));
    form.show();
    // Over the main window, which would otherwise hide it (shown after it, owned by it).
    const auto notices = [&form] {
        QList<QWidget*> found;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QStringLiteral("SettingsNotice") && w->isVisible() &&
                !w->isModal() && w->parentWidget() == &form)
                found.append(w);
        return found;
    };
    QTRY_COMPARE(notices().size(), 1);
    notices().first()->close();
    form.ExtViewChk->click();
    form.Btn[0]->click();
    QVERIFY(fakes.log.describe().contains(QStringLiteral("ImgScan1 call 102 ()")));
}

void TestForm1::leftoverPageThatCannotBeShown_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("not an image") << "garbage";
    QTest::newRow("cut short") << "truncated";
    QTest::newRow("a folder") << "folder";
}

void TestForm1::leftoverPageThatCannotBeShown()
{
    QFETCH(QString, kind);
    const QString page = m_home->path() + QStringLiteral("/Kopyra.tif");
    if (kind == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(page));
    } else {
        QImage image(300, 400, QImage::Format_RGB32);
        image.fill(Qt::blue);
        QVERIFY(image.save(page, "TIFF"));
        QFile f(page);
        QVERIFY(f.open(QIODevice::ReadWrite));
        if (kind == QLatin1String("garbage")) {
            f.write("Dies ist keine Seite.");
            f.resize(21);
        } else {
            f.resize(f.size() / 3);
        }
    }
    // The real components this time.
    Form1::Environment env;
    env.applicationFolder = m_home->path();
    Form1 form(env);
    // The page is read while the window comes up; what cannot be read is only a warning.
    QTest::ignoreMessage(QtWarningMsg,
                         QRegularExpression(QStringLiteral("kann nicht angezeigt werden")));
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    imaging::waitForBackgroundWork();
    QCoreApplication::processEvents();
    // Start-up went on to the options; the leftover stays for the next copy to replace.
    QCOMPARE(form.ShowSpecificSetupChk->Value(), std::int16_t(1));
    QVERIFY(QFileInfo::exists(page));
}

void TestForm1::refusalOfMissingPageStillFails()
{
    // Only a leftover page may fail quietly; a control refusing start-up is still a failure.
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    fakes.edit->failOn(343, 9999, QStringLiteral("nein"), QStringLiteral("ImgEdit"));
    QVERIFY_THROWS_EXCEPTION(imaging::DispatchError, form.Form_Load());
}

void TestForm1::unhandledFailureEndsProgram()
{
    // A real box this time, answered the way a user would.
    MsgBox::setHandler({});
    QString shownText, shownTitle;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [] {
        ThrowingObject thrower;
        QEvent event(QEvent::User);
        QCoreApplication::sendEvent(&thrower, &event);
    });
    int buttons = 0;
    const auto closer = whenShown<QMessageBox>([&](QMessageBox* box) {
        shownText = box->text();
        shownTitle = box->windowTitle();
        shownIcon = box->icon();
        buttons = int(box->buttons().size());
        box->buttons().first()->click();
        return true;
    });
    QTimer::singleShot(10000, [] { QCoreApplication::exit(99); }); // never hang
    const int rc = QCoreApplication::exec();

    QCOMPARE(rc, EXIT_FAILURE);
    QCOMPARE(buttons, 1);
    QVERIFY(UnhandledFailure::reported());
    QCOMPARE(shownTitle, QStringLiteral("Kopyra"));
    QCOMPARE(shownIcon, QMessageBox::Critical);
    // The carriage returns of the text show as line breaks.
    QCOMPARE(shownText, QStringLiteral("Laufzeitfehler -2147352573:\n\nKaputt\n\nOrt: "
                                       "Test.Quelle\n\nKopyra wird beendet."));
}

void TestForm1::resizing_data()
{
    QTest::addColumn<QSize>("change");
    QTest::addColumn<QSize>("clientAfter");
    QTest::addColumn<int>("columnLeft");
    QTest::addColumn<QSize>("panel");
    QTest::newRow("designed size") << QSize(0, 0) << QSize(417, 422) << 4260 << QSize(4065, 6075);
    QTest::newRow("wider") << QSize(60, 0) << QSize(477, 422) << 4260 + 900 << QSize(4965, 6075);
    QTest::newRow("higher") << QSize(0, 40) << QSize(417, 462) << 4260 << QSize(4065, 6675);
    QTest::newRow("narrower snaps back")
        << QSize(-50, 30) << QSize(417, 452) << 4260 << QSize(4065, 6525);
    QTest::newRow("lower snaps back")
        << QSize(20, -30) << QSize(437, 422) << 4260 + 300 << QSize(4365, 6075);
    QTest::newRow("both smaller") << QSize(-100, -100) << QSize(417, 422) << 4260
                                  << QSize(4065, 6075);
}

void TestForm1::resizing()
{
    QFETCH(QSize, change);
    QFETCH(QSize, clientAfter);
    QFETCH(int, columnLeft);
    QFETCH(QSize, panel);
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const auto fitsBefore = fakes.log.describe().count(QStringLiteral("ImgEdit1 call 352 (I2:0)"));

    form.resize(form.size() + change);
    QTRY_COMPARE(form.size(), clientAfter);
    QCOMPARE(form.ButtonFrame->x() * 15, columnLeft);
    QCOMPARE(form.ButtonFrame->y() * 15, -60); // the column never moves down
    QCOMPARE(form.ImgEdit1Frame3D->size() * 15, panel);
    QCOMPARE(form.ImgEdit1->geometry(), form.ImgEdit1Frame3D->contentsRect());
    // Every layout fits the page anew.
    if (!change.isNull())
        QVERIFY(fakes.log.describe().count(QStringLiteral("ImgEdit1 call 352 (I2:0)")) >
                fitsBefore);
}

void TestForm1::minimisedChangesNothing()
{
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.resize(480, 500);
    QTRY_COMPARE(form.size(), QSize(480, 500));
    const QRect panel = form.ImgEdit1Frame3D->geometry();
    fakes.log.clear();
    form.showMinimized();
    QTRY_VERIFY(form.isMinimized());
    QCOMPARE(form.ImgEdit1Frame3D->geometry(), panel);
    QVERIFY(fakes.log.describe().isEmpty());
    // Restoring lays the window out again.
    form.showNormal();
    QTRY_VERIFY(!fakes.log.describe().isEmpty());
    QCOMPARE(form.ImgEdit1Frame3D->geometry(), panel);
}

void TestForm1::copyButtonBusyWhileScanStarts()
{
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    form.Form_Load();
    const QImage idle = form.PicHolder[0]->pixmap().toImage();
    const QImage busy = form.PicHolder[1]->pixmap().toImage();
    QImage duringScan;
    int readied = 0; // the scanner, told while the button was held
    fakes.scan->onAccess(102, [&] {
        duringScan = form.Btn[0]->icon().pixmap(82, 82).toImage();
        readied = fakes.scan->expectedUses;
    });
    fakes.admin->setResult(114, Variant::boolean(false));
    fakes.log.clear();
    form.Btn[0]->click();
    QCOMPARE(duringScan, busy);
    QCOMPARE(readied, 1);
    QCOMPARE(form.Btn[0]->icon().pixmap(82, 82).toImage(), idle);
    QVERIFY(fakes.log.describe().contains(QStringLiteral("ImgScan1 call 102 ()")));
}

// The press deletes the last page before the scan: from then on the view shows none (the scan
// may be cancelled and bring no new one).
void TestForm1::lastPageGoneFromTheView()
{
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    form.Form_Load();
    QFile page(Module1::PageFilePath);
    QVERIFY(page.open(QIODevice::WriteOnly) && page.write("II*") == 3);
    page.close();
    fakes.admin->setResult(114, Variant::boolean(true));
    fakes.log.clear();
    form.Btn[0]->click();
    QVERIFY(!page.exists());
    const QStringList log = fakes.log.describe();
    const auto shown =
        log.indexOf(QStringLiteral("ImgEdit1 call 343 (BYREF BSTR:%1)").arg(Module1::PageFilePath));
    QVERIFY2(shown >= 0 && shown < log.indexOf(QStringLiteral("ImgScan1 call 102 ()")),
             qPrintable(log.join(QLatin1Char('\n'))));
}

void TestForm1::questionBoxAnsweredOnScreen_data()
{
    QTest::addColumn<bool>("yes");
    QTest::newRow("Ja") << true;
    QTest::newRow("Nein") << false;
}

// A real question box on screen, answered by a key press as a user would.
void TestForm1::questionBoxAnsweredOnScreen()
{
    QFETCH(bool, yes);
    MsgBox::setHandler({});
    m_home->seedStore("[Kopyra]\nAskBeforePrint=1\n");
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QString text, yesText, noText;
    bool hasIcon = true, yesIsDefault = false;
    const auto answerer = whenShown<QMessageBox>([&](QMessageBox* box) {
        text = box->text();
        hasIcon = box->icon() != QMessageBox::NoIcon;
        yesText = box->button(QMessageBox::Yes)->text();
        noText = box->button(QMessageBox::No)->text();
        yesIsDefault = box->defaultButton() == box->button(QMessageBox::Yes);
        (yes ? box->defaultButton() : box->button(QMessageBox::No))->click();
        return true;
    });
    fakes.scan->fireEvent(10);
    QCOMPARE(text, QStringLiteral("Soll die eingescannte Seite jetzt gedruckt werden?"));
    QVERIFY(!hasIcon);
    QCOMPARE(yesText, QStringLiteral("&Ja"));
    QCOMPARE(noText, QStringLiteral("&Nein"));
    QVERIFY(yesIsDefault);
    const bool printed =
        fakes.log.describe().last().startsWith(QStringLiteral("ImgEdit1 call 351"));
    QCOMPARE(printed, yes);
    QCOMPARE(Module1::FirstCopyDone, std::int16_t(yes ? -1 : 0));
}

void TestForm1::buttonsReachTheirTargets()
{
    Fakes fakes;
    Form1 form(fakes.environment(m_home->path()));
    form.Form_Load();
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    fakes.log.clear();
    form.Btn[1]->click();
    form.Btn[3]->click();
    form.Btn[2]->click();
    QCOMPARE(
        fakes.log.describe(),
        (QStringList{QStringLiteral("ImgScan1 call 105 ()"), QStringLiteral("ImgScan1 call 112 ()"),
                     QStringLiteral("ImgAdmin1 call 104 (I4:%1)")
                         .arg(static_cast<std::int32_t>(form.winId()))}));
    QCOMPARE(fakes.scan->expectedUses, 2); // Scanner and Optionen use it, Drucker not

    // Return and Enter press the focused button, as Space does.
    fakes.log.clear();
    for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(form.Btn[2], key);
        QTRY_VERIFY(fakes.log.describe().size() == 1);
        QCOMPARE(fakes.log.describe()[0], QStringLiteral("ImgAdmin1 call 104 (I4:%1)")
                                              .arg(static_cast<std::int32_t>(form.winId())));
        fakes.log.clear();
    }

    // The info window, with the program's name and version.
    QString infoText;
    const auto closer = whenShown<QDialog>([&infoText](QDialog* info) {
        infoText = info->findChild<QLabel*>(QStringLiteral("Label0"))->text();
        info->reject();
        return true;
    });
    form.Btn[5]->click(); // returns once the info window is closed
    QVERIFY2(infoText.startsWith(
                 QStringLiteral("Kopyra – der handliche Fotokopierer für Windows (V2.0.6)\n")),
             qPrintable(infoText));

    UrlCatcher catcher;
    form.Btn[4]->click();
    // In the root folder the help file is right there, with no doubled separator.
    Form1 inRoot(fakes.environment(QStringLiteral("/")));
    inRoot.Btn[4]->click();
    QCOMPARE(
        catcher.urls,
        (QStringList{QUrl::fromLocalFile(m_home->path() + QStringLiteral("/hilfe.htm")).toString(),
                     QStringLiteral("file:///hilfe.htm")}));
}

namespace {

QProcess* startKopyra(QObject* parent, const QString& folder, const QByteArray& request,
                      const QStringList& more = {})
{
    auto* start = new QProcess(parent);
    start->setProgram(QCoreApplication::applicationFilePath());
    start->setArguments(
        QStringList{QStringLiteral("--one-kopyra"), folder, QString::fromUtf8(request)} + more);
    start->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    return start;
}

QString outcomeOf(QProcess* start)
{
    start->waitForReadyRead(15000);
    return QString::fromUtf8(start->readLine()).trimmed();
}

} // namespace

// Two starts in the same moment, ten times: one is the Kopyra that runs, the other hands its
// request to it and ends, never a second Kopyra beside the first.
void TestForm1::oneKopyraOfTwoStartedTogether()
{
    QTemporaryDir program;
    for (int round = 0; round < 10; ++round) {
        const QString folder = program.filePath(QString::number(round));
        QProcess* first =
            startKopyra(this, folder, SingleInstance::Show, {QString(), QStringLiteral("300")});
        QProcess* second =
            startKopyra(this, folder, SingleInstance::Show, {QString(), QStringLiteral("300")});
        first->start();
        second->start();
        QStringList outcomes{outcomeOf(first), outcomeOf(second)};
        outcomes.sort();
        QCOMPARE(outcomes, (QStringList{QStringLiteral("done"), QStringLiteral("run")}));
        QVERIFY(first->waitForFinished(10000) && second->waitForFinished(10000));
        delete first;
        delete second;
    }
}

// A Kopyra that crashed leaves its lock and socket behind: the next start takes both over at
// once and runs, and the start after that finds it.
void TestForm1::crashedKopyraTakenOver()
{
    QTemporaryDir program;
    std::unique_ptr<QProcess> crashed(startKopyra(nullptr, program.path(), SingleInstance::Show));
    crashed->start();
    QCOMPARE(outcomeOf(crashed.get()), QStringLiteral("run"));
    ::kill(pid_t(crashed->processId()), SIGKILL);
    crashed->waitForFinished();
    SingleInstance probe(program.path(), QStringLiteral("settings"));
    QVERIFY(QFileInfo::exists(probe.socketPath())); // left behind
    QElapsedTimer clock;
    clock.start();
    std::unique_ptr<QProcess> next(startKopyra(nullptr, program.path(), SingleInstance::Show));
    next->start();
    QCOMPARE(outcomeOf(next.get()), QStringLiteral("run"));
    QVERIFY2(clock.elapsed() < 5000, "waited for the crashed one");
    std::unique_ptr<QProcess> after(startKopyra(nullptr, program.path(), SingleInstance::Show));
    after->start();
    QCOMPARE(outcomeOf(after.get()), QStringLiteral("done"));
    after->waitForFinished();
    ::kill(pid_t(next->processId()), SIGTERM);
    next->waitForFinished();
}

// `kopyra --kopieren` hears what the running Kopyra did: a copy begun, or why not.
void TestForm1::copyRequestAnswered()
{
    QTemporaryDir program;
    std::unique_ptr<QProcess> running(
        startKopyra(nullptr, program.path(), SingleInstance::Show, {QStringLiteral("busy")}));
    running->start();
    QCOMPARE(outcomeOf(running.get()), QStringLiteral("run"));
    std::unique_ptr<QProcess> copy(startKopyra(nullptr, program.path(), SingleInstance::Copy));
    copy->start();
    QCOMPARE(outcomeOf(copy.get()), QStringLiteral("not Kopyra kopiert gerade."));
    copy->waitForFinished();
    std::unique_ptr<QProcess> show(startKopyra(nullptr, program.path(), SingleInstance::Show));
    show->start();
    QCOMPARE(outcomeOf(show.get()), QStringLiteral("done"));
    show->waitForFinished();
    running->waitForFinished();
}

// A runtime folder that is not the user's own (another user's, or open to others) is not
// used: the lock and socket go into a folder of the user's own in the cache folder.
void TestForm1::foreignFolderRefused()
{
    QTemporaryDir runtime;
    QVERIFY(::chmod(QFile::encodeName(runtime.path()).constData(), 0777) == 0);
    const QByteArray before = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    QString why, refused;
    QString folder = privateFolder(&why, &refused);
    QVERIFY2(!folder.isEmpty() && folder != runtime.path(), qPrintable(folder + why));
    QVERIFY2(refused.contains(runtime.path()), qPrintable(refused));
    QCOMPARE(QFileInfo(folder).permissions() & (QFile::ReadOther | QFile::ReadGroup),
             QFileDevice::Permissions());
    // A file named as the runtime folder is told as what it is.
    const QString file = runtime.filePath(QStringLiteral("file"));
    QVERIFY(QFile(file).open(QIODevice::WriteOnly));
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(file));
    folder = privateFolder(&why, &refused);
    QVERIFY2(!folder.isEmpty() && refused.contains(QLatin1String("ist kein Ordner")),
             qPrintable(refused));
    if (::getuid() == 0) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        QVERIFY(::chmod(QFile::encodeName(runtime.path()).constData(), 0700) == 0);
        QVERIFY(::chown(QFile::encodeName(runtime.path()).constData(), 65534, 65534) == 0);
        folder = privateFolder(&why);
        QVERIFY2(!folder.isEmpty() && folder != runtime.path(), qPrintable(folder + why));
    }
    qputenv("XDG_RUNTIME_DIR", before);
}

// Another user's program listening where the running Kopyra's socket should be (as only
// root can arrange: the folder is the user's own) is not told anything, and the start says so.
void TestForm1::strangersListenerRefused()
{
    if (::getuid() != 0)
        QSKIP("a second user needs root");
    QTemporaryDir program;
    std::unique_ptr<QProcess> running(startKopyra(nullptr, program.path(), SingleInstance::Show,
                                                  {QString(), QStringLiteral("20000")}));
    running->start();
    QCOMPARE(outcomeOf(running.get()), QStringLiteral("run"));
    const QByteArray path =
        QFile::encodeName(SingleInstance(program.path(), QStringLiteral("settings")).socketPath());
    ::unlink(path.constData());
    int ready[2];
    QVERIFY(::pipe(ready) == 0);
    const pid_t stranger = ::fork();
    if (stranger == 0) {
        // As "nobody", answering "ok" to whatever comes.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof(address.sun_path) - 1);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            ::setgid(65534) != 0 || ::setuid(65534) != 0 || ::listen(fd, 4) != 0)
            ::_exit(1);
        (void)!::write(ready[1], "r", 1);
        for (int asker; (asker = ::accept(fd, nullptr, nullptr)) >= 0; ::close(asker))
            (void)!::write(asker, "ok\n", 3);
        ::_exit(0);
    }
    char r = 0;
    QCOMPARE(::read(ready[0], &r, 1), ssize_t(1));
    std::unique_ptr<QProcess> copy(startKopyra(nullptr, program.path(), SingleInstance::Copy));
    copy->start();
    const QString outcome = outcomeOf(copy.get());
    copy->waitForFinished();
    ::kill(stranger, SIGKILL);
    ::waitpid(stranger, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    ::kill(pid_t(running->processId()), SIGTERM);
    running->waitForFinished();
    QVERIFY2(outcome.startsWith(QLatin1String("not ")) &&
                 outcome.contains(QLatin1String("anderer Benutzer")),
             qPrintable(outcome));
}

void TestForm1::startsWhereOneKopyraCannotBeDecided_data()
{
    QTest::addColumn<QString>("setUp");
    QTest::addColumn<QString>("outcome"); // how the output begins
    QTest::addColumn<QString>("told");    // in the reason
    // People link ~/.cache to another disk: the folder it leads to is the user's own.
    QTest::newRow("cache folder a link to a folder of one's own") << "link"
                                                                  << "run"
                                                                  << "";
    QTest::newRow("a folder where the lock belongs") << "folder"
                                                     << "alone"
                                                     << "Sperrdatei";
    QTest::newRow("a file typed by hand where the lock belongs") << "garbage"
                                                                 << "alone"
                                                                 << "Sperrdatei";
    QTest::newRow("a lock naming a living program that is no Kopyra") << "forged"
                                                                      << "run"
                                                                      << "";
    QTest::newRow("a home of 100 characters") << "long"
                                              << "alone"
                                              << "zu lang";
    QTest::newRow("a lock that cannot be made") << "unmakeable"
                                                << "alone"
                                                << "anlegen";
}

// Where one Kopyra cannot be decided, this one starts all the same and says why; a link to a
// folder of one's own and a lock of another program are no reason not to decide.
void TestForm1::startsWhereOneKopyraCannotBeDecided()
{
    QFETCH(QString, setUp);
    QFETCH(QString, outcome);
    QFETCH(QString, told);
    QTemporaryDir top;
    QTemporaryDir program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    const QString runtime = top.filePath(QStringLiteral("runtime"));
    QVERIFY(QDir().mkpath(runtime) && ::chmod(QFile::encodeName(runtime).constData(), 0700) == 0);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
    // Where the lock of a Kopyra with that runtime folder lies.
    const QString lock = [&] {
        const QByteArray before = qgetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        QString path = SingleInstance(program.path(), QStringLiteral("settings")).socketPath();
        qputenv("XDG_RUNTIME_DIR", before);
        return path.chopped(5) + QStringLiteral(".lock");
    }();
    QProcess holder; // the living program the forged lock names
    QStringList wrap;
    if (setUp == QLatin1String("link")) {
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        const QString disk = top.filePath(QStringLiteral("disk/kopyra"));
        QVERIFY(QDir().mkpath(disk) && ::chmod(QFile::encodeName(disk).constData(), 0700) == 0);
        QVERIFY(QDir().mkpath(top.filePath(QStringLiteral("cache"))));
        QVERIFY(QFile::link(disk, top.filePath(QStringLiteral("cache/kopyra"))));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), top.filePath(QStringLiteral("cache")));
    } else if (setUp == QLatin1String("folder")) {
        QVERIFY(QDir().mkpath(lock));
    } else if (setUp == QLatin1String("garbage")) {
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("meine Notizen\n") > 0);
    } else if (setUp == QLatin1String("forged")) {
        holder.start(QStringLiteral("sleep"), {QStringLiteral("30")});
        QVERIFY(holder.waitForStarted());
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(holder.processId()) + "\nsleep\n" +
                   QSysInfo::machineHostName().toUtf8() + '\n');
    } else if (setUp == QLatin1String("long")) {
        env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        env.remove(QStringLiteral("XDG_CACHE_HOME"));
        QString home = top.filePath(QStringLiteral("h"));
        home += QString(100 - home.size(), QLatin1Char('h'));
        QVERIFY(QDir().mkpath(home));
        env.insert(QStringLiteral("HOME"), home);
    } else if (setUp == QLatin1String("unmakeable")) {
        // A runtime folder of one's own that cannot be written in: as root, the folder is
        // another user's for a start made as that user.
        if (::getuid() == 0) {
            QVERIFY(::chown(QFile::encodeName(runtime).constData(), 65534, 65534) == 0);
            QVERIFY(::chmod(QFile::encodeName(top.path()).constData(), 0755) == 0);
            QVERIFY(::chmod(QFile::encodeName(program.path()).constData(), 0755) == 0);
            wrap = QStringList{QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                               QStringLiteral("--clear-groups"),
                               QCoreApplication::applicationFilePath()};
        }
        QVERIFY(::chmod(QFile::encodeName(runtime).constData(), 0500) == 0);
    }
    std::unique_ptr<QProcess> start(startKopyra(nullptr, program.path(), SingleInstance::Show));
    if (!wrap.isEmpty()) {
        start->setArguments(wrap + start->arguments());
        start->setProgram(QStringLiteral("setpriv"));
    }
    start->setProcessEnvironment(env);
    QElapsedTimer clock;
    clock.start();
    start->start();
    const QString said = outcomeOf(start.get());
    qInfo("%s", qPrintable(said));
    QVERIFY2(said.startsWith(outcome) && said.contains(told), qPrintable(said));
    QVERIFY2(clock.elapsed() < 5000, "waited for a Kopyra that is none");
    ::kill(pid_t(start->processId()), SIGTERM);
    start->waitForFinished();
    holder.kill();
    holder.waitForFinished();
}

namespace {

// A start of Kopyra as far as deciding which is the one that runs: prints what became of its
// request ("run", "done" or "not <why>"); the one that runs answers for a while ("busy" makes
// it refuse copies, as while it copies), or until it is killed.
int oneKopyra(const QStringList& args)
{
    SingleInstance instance(args.value(2), QStringLiteral("settings"));
    const SingleInstance::Outcome outcome = instance.handOver(args.value(3).toUtf8());
    const char* kinds[] = {"run", "done", "not", "alone"};
    std::printf("%s %s\n", kinds[outcome.kind], qPrintable(outcome.why));
    std::fflush(stdout);
    if (outcome.kind != SingleInstance::Outcome::Run)
        return 0;
    const bool busy = args.value(4) == QLatin1String("busy");
    // Copies are answered a moment later, as a copy is begun from the event loop.
    instance.onRequest([busy](const QByteArray& request, const SingleInstance::Reply& reply) {
        if (request != SingleInstance::Copy)
            return reply({});
        QTimer::singleShot(300, qApp, [busy, reply] {
            reply(busy ? QStringLiteral("Kopyra kopiert gerade.") : QString());
        });
    });
    QTimer::singleShot(args.value(5, QStringLiteral("3000")).toInt(), qApp,
                       &QCoreApplication::quit);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char** argv)
{
    KopyraApplication app(argc, argv);
    if (app.arguments().value(1) == QLatin1String("--one-kopyra"))
        return oneKopyra(app.arguments());
    installGermanTranslations(app);
    TestForm1 test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_form1.moc"
