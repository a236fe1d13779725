#include "support/aab.h"

#include "dispatch/dispatch_error.h"

#include <QSettings>
#include <QStandardPaths>

namespace AAB {

namespace {

const QString Application = QStringLiteral("Tandrelwerk");
const QString Section = QStringLiteral("Kopyra");
constexpr std::int32_t StoreFailed = 9001;

QString qualified(const QString& key) { return Section + QLatin1Char('/') + key; }

[[noreturn]] void storeFailure(const QString& action, const QString& key)
{
    throw imaging::DispatchError(
        StoreFailed,
        QStringLiteral("Die Einstellung „%1“ konnte nicht %2 werden (Datei „%3“).")
            .arg(key, action, storeFile()),
        QStringLiteral("Kopyra.AAB"));
}

} // namespace

QString storeFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + Application + QStringLiteral(".conf");
}

void SaveOption(const QString& key, std::int16_t value) { SaveOption(key, QString::number(value)); }

void SaveOption(const QString& key, const QString& value)
{
    QSettings store(storeFile(), QSettings::IniFormat);
    store.setValue(qualified(key), value);
    store.sync();
    if (store.status() != QSettings::NoError)
        storeFailure(QStringLiteral("gespeichert"), key);
}

QString LoadOption(const QString& key, std::int16_t defaultValue)
{
    return LoadOption(key, QString::number(defaultValue));
}

QString LoadOption(const QString& key, const QString& defaultValue)
{
    const QSettings store(storeFile(), QSettings::IniFormat);
    if (store.status() != QSettings::NoError)
        storeFailure(QStringLiteral("gelesen"), key);
    const QVariant value = store.value(qualified(key));
    return value.isValid() ? value.toString() : defaultValue;
}

} // namespace AAB
