#include "imaging/scan/setup/scan_setup.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"

#include <sane/saneopts.h>

#include <algorithm>

namespace imaging {

namespace {

QString optionName(const char* name) { return QString::fromLatin1(name); }

// The device's name for a mode: the standard names first, then what devices commonly use.
QString deviceMode(const QStringList& offered, ScanPreferences::Mode m)
{
    QStringList wanted;
    switch (m) {
    case ScanPreferences::Mode::Color:
        wanted = {QStringLiteral("Color"), QStringLiteral("Colour"), QStringLiteral("24bit Color")};
        break;
    case ScanPreferences::Mode::Gray:
        wanted = {QStringLiteral("Gray"), QStringLiteral("Grayscale"), QStringLiteral("Grey")};
        break;
    case ScanPreferences::Mode::Lineart:
        wanted = {QStringLiteral("Lineart"), QStringLiteral("Binary"),
                  QStringLiteral("Black & White")};
        break;
    }
    for (const QString& w : wanted)
        for (const QString& o : offered)
            if (o.compare(w, Qt::CaseInsensitive) == 0)
                return o;
    return {};
}

// What a backend's name for a source means: backends name them freely ("Flatbed", "ADF",
// "Automatic Document Feeder", "ADF Front", "ADF Duplex", "Duplex", "Document Table", …).
ScanPreferences::Source sourceKind(const QString& name)
{
    const QString n = name.toLower();
    if (n.contains(QLatin1String("duplex")))
        return ScanPreferences::Source::FeederDuplex;
    if (n.contains(QLatin1String("adf")) || n.contains(QLatin1String("feeder")) ||
        n.contains(QLatin1String("automatic")))
        return ScanPreferences::Source::Feeder;
    return ScanPreferences::Source::Flatbed;
}

// The options the preferences decide; remembered set-up values leave them alone.
QStringList managedOptions(const ScanPreferences& preferences)
{
    QStringList names{
        optionName(SANE_NAME_SCAN_MODE),         optionName(SANE_NAME_SCAN_RESOLUTION),
        optionName(SANE_NAME_SCAN_X_RESOLUTION), optionName(SANE_NAME_SCAN_Y_RESOLUTION),
        optionName(SANE_NAME_SCAN_TL_X),         optionName(SANE_NAME_SCAN_TL_Y),
        optionName(SANE_NAME_SCAN_BR_X),         optionName(SANE_NAME_SCAN_BR_Y)};
    // Line art on a device without a line-art mode is a matter of depth; lighter or darker,
    // of the threshold.
    if (preferences.mode == ScanPreferences::Mode::Lineart)
        names << optionName(SANE_NAME_BIT_DEPTH);
    if (preferences.mode == ScanPreferences::Mode::Lineart && preferences.tone != 0)
        names << optionName(SANE_NAME_THRESHOLD);
    // The source is the set-up dialog's unless the preferences name one.
    if (preferences.source != ScanPreferences::Source::Device)
        names << optionName(SANE_NAME_SCAN_SOURCE);
    return names;
}

// Moves the device's line-art threshold by the tone; false when it has none to move.
bool setThreshold(sane::OptionAccess& device, int tone)
{
    // The threshold is the brightness above which a point is white: higher is darker. Each
    // step moves it an eighth of its range from the middle.
    const int index = device.find(optionName(SANE_NAME_THRESHOLD));
    if (index < 0)
        return false;
    const sane::OptionInfo threshold = device.option(index);
    if (!threshold.active || !threshold.settable ||
        threshold.constraint != sane::OptionInfo::Constraint::Range)
        return false;
    const double middle = (threshold.min + threshold.max) / 2;
    const double step = (threshold.max - threshold.min) / 8;
    return device.setByName(optionName(SANE_NAME_THRESHOLD), middle + tone * step);
}

} // namespace

QSizeF ScanPreferences::paperMm(Paper paper)
{
    switch (paper) {
    case Paper::A4:
        return {210, 297};
    case Paper::A5:
        return {148, 210};
    case Paper::Letter:
        return {215.9, 279.4};
    case Paper::WholeArea:
        break;
    }
    return {};
}

QSizeF ScanPreferences::areaMm() const
{
    // An ID-1 card (85.6 × 54 mm), and room for one laid a few millimetres off the corner; an
    // open book on the whole glass.
    return source == Source::IdCard ? QSizeF(96, 64)
           : source == Source::Book ? QSizeF()
                                    : paperMm(paper);
}

sane::Treatment ScanPreferences::applyTo(sane::OptionAccess& device) const
{
    sane::Treatment treatment;
    treatment.tone = mode == Mode::Lineart ? 0 : tone;
    treatment.original = mode == Mode::Lineart ? int(Original::Photo) : int(original);
    treatment.edgeEraseMm = edgeErase;
    if (source == Source::Book) {
        // The glass is split into the book's pages afterwards, and each page is made then, on
        // its own paper and with its own border: the scan is kept as it is.
        treatment.edgeEraseMm = 0;
        if (treatment.original != int(Original::Photo))
            treatment.tone = 0;
        treatment.original = int(Original::Photo);
    }
    const int modeIndex = device.find(optionName(SANE_NAME_SCAN_MODE));
    const int depthIndex = device.find(optionName(SANE_NAME_BIT_DEPTH));
    bool lineartByDepth = false;
    if (modeIndex >= 0) {
        const QStringList offered = device.option(modeIndex).strings;
        QString name = deviceMode(offered, mode);
        if (name.isEmpty() && mode == Mode::Lineart) {
            // No line-art mode of its own: grey with one bit per pixel.
            name = deviceMode(offered, Mode::Gray);
            lineartByDepth = true;
        }
        if (!name.isEmpty())
            device.setByName(optionName(SANE_NAME_SCAN_MODE), name);
    }
    // A card, and originals one after the other, lie on the glass; the backs after the fronts
    // come through the feeder. A scanner without a choice of source has nothing but glass.
    const Source wanted =
        source == Source::IdCard || source == Source::FlatbedPages || source == Source::Book
            ? Source::Flatbed
        : source == Source::FeederBacksAfter ? Source::Feeder
                                             : source;
    const int sourceIndex = device.find(optionName(SANE_NAME_SCAN_SOURCE));
    if (source != Source::Device && !(wanted == Source::Flatbed && sourceIndex < 0)) {
        QString name;
        if (sourceIndex >= 0)
            for (const QString& offered : device.option(sourceIndex).strings)
                if (sourceKind(offered) == wanted && name.isEmpty())
                    name = offered;
        if (name.isEmpty() || !device.setByName(optionName(SANE_NAME_SCAN_SOURCE), name))
            throw DispatchError(
                ErrorNumber::NoSuchSource,
                source == Source::FeederDuplex
                    ? QStringLiteral("Der Scanner kann nicht beidseitig einziehen. Bitte wählen "
                                     "Sie unter „Optionen“ eine andere Vorlage.")
                : wanted == Source::Feeder
                    ? QStringLiteral("Der Scanner hat keinen Vorlageneinzug. Bitte wählen Sie "
                                     "unter „Optionen“ das Vorlagenglas.")
                : source == Source::IdCard || source == Source::Book
                    ? QStringLiteral("Der Scanner hat kein Vorlagenglas, auf das ein %1 "
                                     "gelegt werden könnte. Bitte wählen Sie unter „Optionen“ "
                                     "den Einzug.")
                          .arg(source == Source::Book ? QStringLiteral("Buch")
                                                      : QStringLiteral("Ausweis"))
                    : QStringLiteral("Der Scanner hat kein Vorlagenglas. Bitte wählen Sie unter "
                                     "„Optionen“ den Einzug."),
                scanProgId());
    }
    if (mode == Mode::Lineart && tone != 0 && !setThreshold(device, tone)) {
        // No threshold to move: grey, made line art on the way into the page file, black
        // below a level that rises with each step darker.
        lineartByDepth = false;
        treatment.lineArtLevel = 128 + 32 * tone;
        if (modeIndex >= 0)
            device.setByName(optionName(SANE_NAME_SCAN_MODE),
                             deviceMode(device.option(modeIndex).strings, Mode::Gray));
    }
    if (depthIndex >= 0 && device.option(depthIndex).active) {
        const sane::OptionInfo depth = device.option(depthIndex);
        const int current = device.value(depthIndex).toInt();
        if (lineartByDepth && depth.words.contains(1))
            device.setByName(optionName(SANE_NAME_BIT_DEPTH), 1);
        else if (!lineartByDepth && current == 1)
            device.setByName(optionName(SANE_NAME_BIT_DEPTH), 8);
    }
    device.setByName(optionName(SANE_NAME_SCAN_RESOLUTION), dpi);

    const int brx = device.find(optionName(SANE_NAME_SCAN_BR_X));
    const int bry = device.find(optionName(SANE_NAME_SCAN_BR_Y));
    if (brx < 0 || bry < 0)
        return treatment;
    const sane::OptionInfo x = device.option(brx);
    const sane::OptionInfo y = device.option(bry);
    device.setByName(optionName(SANE_NAME_SCAN_TL_X), 0);
    device.setByName(optionName(SANE_NAME_SCAN_TL_Y), 0);
    const QSizeF size = areaMm();
    // Only millimetre areas can be compared with paper; the whole area otherwise.
    const bool mm = x.unit == sane::OptionInfo::Unit::Mm && y.unit == sane::OptionInfo::Unit::Mm &&
                    !size.isEmpty();
    device.setByName(optionName(SANE_NAME_SCAN_BR_X), mm ? std::min(size.width(), x.max) : x.max);
    device.setByName(optionName(SANE_NAME_SCAN_BR_Y), mm ? std::min(size.height(), y.max) : y.max);
    return treatment;
}

bool ScanPreferences::feedsPages(sane::OptionAccess& device)
{
    const int index = device.find(optionName(SANE_NAME_SCAN_SOURCE));
    return index >= 0 && sourceKind(device.value(index).toString()) != Source::Flatbed;
}

DeviceAbilities DeviceAbilities::of(sane::OptionAccess& device)
{
    DeviceAbilities abilities;
    const int index = device.find(optionName(SANE_NAME_SCAN_SOURCE));
    if (index >= 0) {
        const QStringList offered = device.option(index).strings;
        abilities.glass = std::any_of(offered.begin(), offered.end(), [](const QString& name) {
            return sourceKind(name) == ScanPreferences::Source::Flatbed;
        });
        abilities.feeder = std::any_of(offered.begin(), offered.end(), [](const QString& name) {
            return sourceKind(name) == ScanPreferences::Source::Feeder;
        });
    }
    for (const char* button : {SANE_NAME_COPY, SANE_NAME_SCAN})
        if (const int at = device.find(optionName(button)); at >= 0) {
            const sane::OptionInfo o = device.option(at);
            if (o.hardware && o.kind == sane::OptionInfo::Kind::Bool)
                abilities.startButtons << o.name;
        }
    return abilities;
}

sane::Treatment setUp(sane::OptionAccess& device, const ScanPreferences& preferences,
                      QVariantMap remembered)
{
    const sane::Treatment treatment = preferences.applyTo(device);
    for (const QString& managed : managedOptions(preferences))
        remembered.remove(managed);
    // Twice: some options only become active once others are set.
    for (int pass = 0; pass < 2; ++pass)
        for (auto it = remembered.constBegin(); it != remembered.constEnd(); ++it)
            device.setByName(it.key(), it.value());
    return treatment;
}

QDataStream& operator<<(QDataStream& out, const ScanPreferences& p)
{
    return out << qint32(p.mode) << qint32(p.dpi) << qint32(p.paper) << qint32(p.tone)
               << qint32(p.source) << qint32(p.original) << qint32(p.edgeErase);
}

QDataStream& operator>>(QDataStream& in, ScanPreferences& p)
{
    qint32 mode = 0, dpi = 0, paper = 0, tone = 0, source = 0, original = 0, edgeErase = 0;
    in >> mode >> dpi >> paper >> tone >> source >> original >> edgeErase;
    p.edgeErase = edgeErase;
    p.original = static_cast<ScanPreferences::Original>(original);
    p.mode = static_cast<ScanPreferences::Mode>(mode);
    p.dpi = dpi;
    p.paper = static_cast<ScanPreferences::Paper>(paper);
    p.tone = tone;
    p.source = static_cast<ScanPreferences::Source>(source);
    return in;
}

} // namespace imaging
