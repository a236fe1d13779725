#include "imaging/common/imaging_settings.h"

#include "store/settings_file.h"

#include <QStandardPaths>

namespace imaging {

namespace Settings {
const Setting ScannerName{"Scanner", "Name", QString()};
const Setting ScannerVendor{"Scanner", "Vendor", QString()};
const Setting ScannerModel{"Scanner", "Model", QString()};
const Setting ScanMode{"ScanPreferences", "Mode", QStringLiteral("Color")};
const Setting ScanResolution{"ScanPreferences", "Resolution", 300, 25, 4800};
const Setting ScanPaper{"ScanPreferences", "Paper", QStringLiteral("A4")};
const Setting ScanTone{"ScanPreferences", "Tone", 0, -2, 2};
const Setting ScanSource{"ScanPreferences", "Source", QString()};
const Setting ScanOriginal{"ScanPreferences", "Original", QStringLiteral("Mixed")};
const Setting ScanStartButton{"ScanPreferences", "StartButton", 0, 0, 1};
const Setting ScanEdgeErase{"ScanPreferences", "EdgeErase", 0, 0, 15};
const Setting PrintPrinter{"Print", "Printer", QString()};
const Setting PrintCopies{"Print", "Copies", 1, 1, 999};
const Setting PrintSizeMode{"Print", "SizeMode", 0};
const Setting PrintPageSize{"Print", "PageSize", -1};
const Setting PrintZoom{"Print", "Zoom", 100, 25, 400};
const Setting PrintTwoSided{"Print", "TwoSided", 0, 0, 1};
const Setting PrintCollate{"Print", "Collate", 1, 0, 1};
const Setting PrintReverse{"Print", "Reverse", 0, 0, 1};
const Setting PrintPagesPerSheet{"Print", "PagesPerSheet", 1, 1, 4};
} // namespace Settings

namespace {

QString keyOf(const Setting& setting)
{
    return QLatin1String(setting.section) + QLatin1Char('/') + QLatin1String(setting.key);
}

} // namespace

ImagingSettings::ImagingSettings()
    : m_store(std::make_unique<SettingsFile>(path()))
{
}

ImagingSettings::~ImagingSettings() = default;

QString ImagingSettings::path()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/kopyra-imaging.conf");
}

void ImagingSettings::check() { SettingsFile::check(path()); }

QVariant ImagingSettings::stored(const Setting& setting) const
{
    return m_store->value(keyOf(setting), setting.defaultValue);
}

QString ImagingSettings::text(const Setting& setting) const { return stored(setting).toString(); }

int ImagingSettings::number(const Setting& setting) const
{
    // A value outside its range is damage, not a wish at the limit: 100000 copies from a
    // typo would be 999 sheets of paper lost. The default stands in for it.
    bool ok = false;
    const int value = stored(setting).toInt(&ok);
    const bool inRange =
        setting.max < setting.min || (value >= setting.min && value <= setting.max);
    return ok && inRange ? value : setting.defaultValue.toInt();
}

void ImagingSettings::set(const Setting& setting, const QVariant& value)
{
    m_store->setValue(keyOf(setting), value);
}

QVariantMap ImagingSettings::section(const QString& name) const
{
    QVariantMap map;
    for (const QString& key : m_store->childKeys(name))
        map.insert(key, m_store->value(name + QLatin1Char('/') + key));
    return map;
}

void ImagingSettings::replaceSection(const QString& name, const QVariantMap& values)
{
    m_store->removeSection(name);
    for (auto it = values.constBegin(); it != values.constEnd(); ++it)
        m_store->setValue(name + QLatin1Char('/') + it.key(), it.value());
}

} // namespace imaging
