#include "imaging/common/access_keys.h"

#include <QAbstractButton>
#include <QLabel>
#include <QSet>
#include <QTabBar>

#include <functional>

namespace imaging {

namespace {

struct Caption {
    QString text;
    std::function<void(const QString&)> set;
};

// Captions of what the dialog shows now, in the order of its widgets.
QList<Caption> captions(QWidget* dialog)
{
    QList<Caption> list;
    for (QWidget* w : dialog->findChildren<QWidget*>()) {
        if (!w->isVisibleTo(dialog))
            continue;
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            list.append({button->text(), [button](const QString& t) { button->setText(t); }});
        else if (auto* label = qobject_cast<QLabel*>(w); label && label->buddy())
            list.append({label->text(), [label](const QString& t) { label->setText(t); }});
        else if (auto* tabs = qobject_cast<QTabBar*>(w))
            for (int i = 0; i < tabs->count(); ++i)
                list.append(
                    {tabs->tabText(i), [tabs, i](const QString& t) { tabs->setTabText(i, t); }});
    }
    return list;
}

// The letter after a single "&", lower case; none for "&&".
QChar accessKey(const QString& text)
{
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&'))
            continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text[i + 1].toLower();
    }
    return {};
}

} // namespace

QStringList duplicateAccessKeys(QWidget* dialog)
{
    QStringList duplicates;
    QSet<QChar> seen;
    for (const Caption& c : captions(dialog)) {
        const QChar key = accessKey(c.text);
        if (key.isNull())
            continue;
        if (seen.contains(key))
            duplicates.append(c.text);
        seen.insert(key);
    }
    return duplicates;
}

void makeAccessKeysUnique(QWidget* dialog)
{
    const QList<Caption> all = captions(dialog);
    QSet<QChar> used;
    for (const Caption& c : all)
        if (const QChar key = accessKey(c.text); !key.isNull())
            used.insert(key);
    QSet<QChar> kept;
    for (const Caption& c : all) {
        const QChar key = accessKey(c.text);
        if (key.isNull())
            continue;
        if (!kept.contains(key)) {
            kept.insert(key);
            continue;
        }
        QString plain = c.text;
        plain.remove(plain.indexOf(QLatin1Char('&')), 1);
        for (int i = 0; i < plain.size(); ++i) {
            const QChar letter = plain[i].toLower();
            if (letter.isLetter() && !used.contains(letter)) {
                used.insert(letter);
                kept.insert(letter);
                c.set(plain.left(i) + QLatin1Char('&') + plain.mid(i));
                break;
            }
        }
    }
}

} // namespace imaging
