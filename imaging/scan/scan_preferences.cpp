#include "imaging/scan/scan_preferences.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"
#include "imaging/common/imaging_settings.h"
#include "imaging/scan/wire/scan_option.h"

#include <sane/saneopts.h>

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>

#include <algorithm>

namespace imaging {

namespace {

QString optionName(const char* name) { return QString::fromLatin1(name); }

const char* modeKey(ScanPreferences::Mode m)
{
    switch (m) {
    case ScanPreferences::Mode::Gray:
        return "Gray";
    case ScanPreferences::Mode::Lineart:
        return "Lineart";
    case ScanPreferences::Mode::Color:
        break;
    }
    return "Color";
}

const char* paperKey(ScanPreferences::Paper p)
{
    switch (p) {
    case ScanPreferences::Paper::A5:
        return "A5";
    case ScanPreferences::Paper::Letter:
        return "Letter";
    case ScanPreferences::Paper::WholeArea:
        return "WholeArea";
    case ScanPreferences::Paper::A4:
        break;
    }
    return "A4";
}

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

const char* sourceKey(ScanPreferences::Source s)
{
    switch (s) {
    case ScanPreferences::Source::Flatbed:
        return "Flatbed";
    case ScanPreferences::Source::Feeder:
        return "Feeder";
    case ScanPreferences::Source::FeederDuplex:
        return "FeederDuplex";
    case ScanPreferences::Source::Device:
        break;
    }
    return "";
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

} // namespace

ScanPreferences ScanPreferences::load()
{
    ScanPreferences p;
    const ImagingSettings s;
    const QString mode = s.text(Settings::ScanMode);
    for (Mode m : {Mode::Color, Mode::Gray, Mode::Lineart})
        if (mode == QLatin1String(modeKey(m)))
            p.mode = m;
    p.dpi = s.number(Settings::ScanResolution);
    const QString paper = s.text(Settings::ScanPaper);
    for (Paper x : {Paper::A4, Paper::A5, Paper::Letter, Paper::WholeArea})
        if (paper == QLatin1String(paperKey(x)))
            p.paper = x;
    p.tone = s.number(Settings::ScanTone);
    const QString source = s.text(Settings::ScanSource);
    for (Source x : {Source::Flatbed, Source::Feeder, Source::FeederDuplex})
        if (source == QLatin1String(sourceKey(x)))
            p.source = x;
    return p;
}

void ScanPreferences::save() const
{
    ImagingSettings s;
    s.set(Settings::ScanMode, QString::fromLatin1(modeKey(mode)));
    s.set(Settings::ScanResolution, dpi);
    s.set(Settings::ScanPaper, QString::fromLatin1(paperKey(paper)));
    s.set(Settings::ScanTone, tone);
    s.set(Settings::ScanSource, QString::fromLatin1(sourceKey(source)));
}

QStringList ScanPreferences::managedOptions(const ScanPreferences& preferences)
{
    QStringList names{
        optionName(SANE_NAME_SCAN_MODE),         optionName(SANE_NAME_SCAN_RESOLUTION),
        optionName(SANE_NAME_SCAN_X_RESOLUTION), optionName(SANE_NAME_SCAN_Y_RESOLUTION),
        optionName(SANE_NAME_SCAN_TL_X),         optionName(SANE_NAME_SCAN_TL_Y),
        optionName(SANE_NAME_SCAN_BR_X),         optionName(SANE_NAME_SCAN_BR_Y)};
    // Line art on a device without a line-art mode is a matter of depth; lighter or darker,
    // of the threshold.
    if (preferences.mode == Mode::Lineart)
        names << optionName(SANE_NAME_BIT_DEPTH);
    if (preferences.mode == Mode::Lineart && preferences.tone != 0)
        names << optionName(SANE_NAME_THRESHOLD);
    // The source is the set-up dialog's unless the preferences name one.
    if (preferences.source != Source::Device)
        names << optionName(SANE_NAME_SCAN_SOURCE);
    return names;
}

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

sane::Treatment ScanPreferences::applyTo(sane::OptionAccess& device) const
{
    sane::Treatment treatment;
    treatment.tone = mode == Mode::Lineart ? 0 : tone;
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
    if (source != Source::Device) {
        const int sourceIndex = device.find(optionName(SANE_NAME_SCAN_SOURCE));
        QString name;
        if (sourceIndex >= 0)
            for (const QString& offered : device.option(sourceIndex).strings)
                if (sourceKind(offered) == source && name.isEmpty())
                    name = offered;
        if (name.isEmpty() || !device.setByName(optionName(SANE_NAME_SCAN_SOURCE), name))
            throw DispatchError(
                ErrorNumber::NoSuchSource,
                source == Source::FeederDuplex
                    ? QStringLiteral("Der Scanner kann nicht beidseitig einziehen. Bitte wählen "
                                     "Sie unter „Optionen“ eine andere Vorlage.")
                : source == Source::Feeder
                    ? QStringLiteral("Der Scanner hat keinen Vorlageneinzug. Bitte wählen Sie "
                                     "unter „Optionen“ das Vorlagenglas.")
                    : QStringLiteral("Der Scanner hat kein Vorlagenglas. Bitte wählen Sie unter "
                                     "„Optionen“ den Einzug."),
                scanProgId());
    }
    if (mode == Mode::Lineart && tone != 0 && !setThreshold(device)) {
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
    const QSizeF size = paperMm(paper);
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

bool ScanPreferences::setThreshold(sane::OptionAccess& device) const
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

ScanPreferencesDialog::ScanPreferencesDialog(const ScanPreferences& current, QWidget* parent)
    : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Optionen – Scan-Einstellungen"));
    auto* form = new QFormLayout(this);
    modeBox = new QComboBox(this);
    modeBox->addItem(QStringLiteral("Farbe"), int(ScanPreferences::Mode::Color));
    modeBox->addItem(QStringLiteral("Graustufen"), int(ScanPreferences::Mode::Gray));
    modeBox->addItem(QStringLiteral("Strichzeichnung (schwarz/weiß)"),
                     int(ScanPreferences::Mode::Lineart));
    modeBox->setCurrentIndex(modeBox->findData(int(current.mode)));
    form->addRow(QStringLiteral("&Farbmodus:"), modeBox);

    dpiBox = new QComboBox(this);
    for (int dpi : {75, 100, 150, 200, 300, 400, 600, 1200})
        dpiBox->addItem(QStringLiteral("%1 dpi").arg(dpi), dpi);
    if (dpiBox->findData(current.dpi) < 0)
        dpiBox->addItem(QStringLiteral("%1 dpi").arg(current.dpi), current.dpi);
    dpiBox->setCurrentIndex(dpiBox->findData(current.dpi));
    form->addRow(QStringLiteral("&Auflösung:"), dpiBox);

    paperBox = new QComboBox(this);
    paperBox->addItem(QStringLiteral("A4 (210 × 297 mm)"), int(ScanPreferences::Paper::A4));
    paperBox->addItem(QStringLiteral("A5 (148 × 210 mm)"), int(ScanPreferences::Paper::A5));
    paperBox->addItem(QStringLiteral("Letter (8,5 × 11 Zoll)"),
                      int(ScanPreferences::Paper::Letter));
    paperBox->addItem(QStringLiteral("Ganze Scanfläche"), int(ScanPreferences::Paper::WholeArea));
    paperBox->setCurrentIndex(paperBox->findData(int(current.paper)));
    form->addRow(QStringLiteral("&Papierformat:"), paperBox);

    toneBox = new QComboBox(this);
    const char* const tones[] = {"Heller", "Etwas heller", "Normal", "Etwas dunkler", "Dunkler"};
    for (int step = -2; step <= 2; ++step)
        toneBox->addItem(QString::fromUtf8(tones[step + 2]), step);
    toneBox->setCurrentIndex(toneBox->findData(current.tone));
    form->addRow(QStringLiteral("&Helligkeit:"), toneBox);

    sourceBox = new QComboBox(this);
    sourceBox->addItem(QStringLiteral("Wie am Scanner eingestellt"),
                       int(ScanPreferences::Source::Device));
    sourceBox->addItem(QStringLiteral("Vorlagenglas"), int(ScanPreferences::Source::Flatbed));
    sourceBox->addItem(QStringLiteral("Einzug"), int(ScanPreferences::Source::Feeder));
    sourceBox->addItem(QStringLiteral("Einzug beidseitig"),
                       int(ScanPreferences::Source::FeederDuplex));
    sourceBox->setCurrentIndex(sourceBox->findData(int(current.source)));
    form->addRow(QStringLiteral("&Vorlage:"), sourceBox);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);
}

ScanPreferences ScanPreferencesDialog::preferences() const
{
    ScanPreferences p;
    p.mode = static_cast<ScanPreferences::Mode>(modeBox->currentData().toInt());
    p.dpi = dpiBox->currentData().toInt();
    p.paper = static_cast<ScanPreferences::Paper>(paperBox->currentData().toInt());
    p.tone = toneBox->currentData().toInt();
    p.source = static_cast<ScanPreferences::Source>(sourceBox->currentData().toInt());
    return p;
}

} // namespace imaging
