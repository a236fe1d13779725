#include "imaging/admin/cups_german.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QHash>
#include <QLabel>

#include <utility>

namespace imaging {

namespace {

// A catalogue line's quoted text, its escapes undone.
QString quoted(const QString& line)
{
    const qsizetype open = line.indexOf(QLatin1Char('"'));
    const qsizetype close = line.lastIndexOf(QLatin1Char('"'));
    QString text;
    for (qsizetype i = open + 1; i < close; ++i) {
        QChar c = line[i];
        if (c == QLatin1Char('\\') && i + 1 < close) {
            c = line[++i];
            if (c == QLatin1Char('n'))
                c = QLatin1Char('\n');
            else if (c == QLatin1Char('t'))
                c = QLatin1Char('\t');
        }
        text += c;
    }
    return text;
}

// The gettext catalogue CUPS reads itself: msgid and msgstr, each possibly continued on the
// lines below; translations marked fuzzy are guesses and left out.
QHash<QString, QString> readCatalogue(const QString& path)
{
    QHash<QString, QString> words;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return words;
    QString english, german;
    QString* continued = nullptr;
    bool fuzzy = false, nextFuzzy = false;
    const auto keep = [&] {
        if (!english.isEmpty() && !german.isEmpty() && !fuzzy)
            words.insert(english, german);
        english.clear();
        german.clear();
    };
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.startsWith(QLatin1String("#,"))) {
            nextFuzzy = line.contains(QLatin1String("fuzzy"));
        } else if (line.startsWith(QLatin1String("msgid "))) {
            keep();
            fuzzy = std::exchange(nextFuzzy, false);
            continued = &english;
            english = quoted(line);
        } else if (line.startsWith(QLatin1String("msgstr "))) {
            continued = &german;
            german = quoted(line);
        } else if (line.startsWith(QLatin1Char('"')) && continued) {
            *continued += quoted(line);
        } else {
            continued = nullptr;
        }
    }
    keep();
    return words;
}

// Puts Qt's page of a printer's options into German when it shows, for as long as it lives:
// the groups' titles, the options' names and their choices (Qt keeps the printer's own name of
// each choice with its entry; only the shown text changes).
class PropertiesWatch : public QObject {
public:
    explicit PropertiesWatch(QObject* parent)
        : QObject(parent)
    {
        qApp->installEventFilter(this);
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Show || !watched->inherits("QPrintPropertiesDialog"))
            return false;
        auto* page = watched->findChild<QWidget*>(QStringLiteral("cupsPropertiesPage"));
        if (!page)
            return false;
        const auto german = [](const QString& english) {
            const QString words = cupsGerman(english);
            return words.isEmpty() ? english : words;
        };
        for (QGroupBox* group : page->findChildren<QGroupBox*>())
            group->setTitle(german(group->title()));
        for (QLabel* name : page->findChildren<QLabel*>())
            name->setText(german(name->text()));
        for (QComboBox* choices : page->findChildren<QComboBox*>())
            for (int i = 0; i < choices->count(); ++i)
                choices->setItemText(i, german(choices->itemText(i)));
        return false;
    }
};

} // namespace

QString cupsGerman(const QString& english)
{
    // Where CUPS leaves a driverless printer's keywords as they are (its trays and kinds of
    // paper), words of our own.
    static const QHash<QString, QString> keywords{
        {QStringLiteral("Auto"), QStringLiteral("Automatisch")},
        {QStringLiteral("Main"), QStringLiteral("Hauptfach")},
        {QStringLiteral("Alternate"), QStringLiteral("Zweites Fach")},
        {QStringLiteral("LargeCapacity"), QStringLiteral("Großraumfach")},
        {QStringLiteral("Manual"), QStringLiteral("Manuelle Zufuhr")},
        {QStringLiteral("ByPassTray"), QStringLiteral("Mehrzweckeinzug")},
        {QStringLiteral("Stationery"), QStringLiteral("Normalpapier")},
        {QStringLiteral("StationeryLetterhead"), QStringLiteral("Briefbogen")},
        {QStringLiteral("Cardstock"), QStringLiteral("Karton")},
        {QStringLiteral("Envelope"), QStringLiteral("Umschlag")},
        {QStringLiteral("Labels"), QStringLiteral("Etiketten")},
        {QStringLiteral("Photographic"), QStringLiteral("Fotopapier")},
        {QStringLiteral("Other"), QStringLiteral("Sonstiges")},
        {QStringLiteral("FaceDown"), QStringLiteral("Schriftseite unten")},
        {QStringLiteral("FaceUp"), QStringLiteral("Schriftseite oben")},
    };
    static const QHash<QString, QString> words = [] {
        const QByteArray data = qgetenv("CUPS_DATADIR");
        return readCatalogue(
            (data.isEmpty() ? QStringLiteral("/usr/share/cups") : QFile::decodeName(data)) +
            QStringLiteral("/locale/de/cups_de.po"));
    }();
    return words.value(english, keywords.value(english));
}

void showOptionsInGerman(QDialog& printDialog) { new PropertiesWatch(&printDialog); }

} // namespace imaging
