#include "support/aab.h"

#include "store/settings_file.h"

#include <QStandardPaths>

namespace AAB {

namespace {

const QString Application = QStringLiteral("Tandrelwerk");
const QString Section = QStringLiteral("Kopyra");

QString qualified(const QString& key) { return Section + QLatin1Char('/') + key; }

} // namespace

QString storeFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + Application + QStringLiteral(".conf");
}

void SaveOption(const QString& key, std::int16_t value) { SaveOption(key, QString::number(value)); }

void SaveOption(const QString& key, const QString& value)
{
    SettingsFile(storeFile()).setValue(qualified(key), value);
}

QString LoadOption(const QString& key, std::int16_t defaultValue)
{
    return LoadOption(key, QString::number(defaultValue));
}

QString LoadOption(const QString& key, const QString& defaultValue)
{
    const QVariant value = SettingsFile(storeFile()).value(qualified(key));
    return value.isValid() ? value.toString() : defaultValue;
}

} // namespace AAB
