#include "imaging/common/cups_catalogue.h"

#include <QFile>
#include <QHash>

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

QString cupsQuoted(const QString& text)
{
    const QString plain = text.trimmed();
    const QString german = cupsGerman(plain);
    const QString said = german.isEmpty() ? plain : german;
    // A sentence that ends inside the quote ends the outer one too; else the quote is closed
    // with a full stop of its own.
    const bool ends = said.endsWith(QLatin1Char('.')) || said.endsWith(QLatin1Char('!')) ||
                      said.endsWith(QLatin1Char('?'));
    return QStringLiteral("„%1“").arg(said) + (ends ? QString() : QStringLiteral("."));
}

} // namespace imaging
