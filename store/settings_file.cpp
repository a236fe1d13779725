#include "store/settings_file.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMessageBox>
#include <QSet>
#include <QSettings>

#include <cstdio>
#include <sys/statvfs.h>

namespace {

// Values that could not be written, by file: they hold until the program ends.
QHash<QString, QVariantMap>& unsaved()
{
    static QHash<QString, QVariantMap> values;
    return values;
}

// Damaged files that could not be kept: never written, so that nothing more of them is lost.
QSet<QString>& untouchable()
{
    static QSet<QString> paths;
    return paths;
}

// Tells the user once per file and kind of trouble, without stopping anything.
void tellOnce(const QString& path, const char* kind, const QString& text)
{
    static QSet<QString> told;
    const QString what = path + QLatin1Char('\n') + QLatin1String(kind);
    if (told.contains(what))
        return;
    told.insert(what);
    qWarning("Kopyra: %s", qPrintable(text));
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    auto* box =
        new QMessageBox(QMessageBox::Warning, QStringLiteral("Kopyra"), text, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("SettingsNotice"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->show();
}

// A damaged file is kept as it is, and the original made sound with what could be read.
void repairIfDamaged(const QString& path)
{
    static QSet<QString> checked;
    if (checked.contains(path))
        return;
    checked.insert(path);
    QSettings probe(path, QSettings::IniFormat);
    const QStringList keys = probe.allKeys();
    if (probe.status() != QSettings::FormatError)
        return;
    const QString kept =
        path + QStringLiteral(".beschädigt-") +
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd_HH-mm-ss"));
    if (!QFile::copy(path, kept)) {
        untouchable().insert(path);
        tellOnce(path, "damaged",
                 QStringLiteral("Die Einstellungsdatei „%1“ ist beschädigt und lässt sich nicht "
                                "sichern. Kopyra verwendet, was sich lesen ließ, und ändert die "
                                "Datei nicht.")
                     .arg(path));
        return;
    }
    const QString fresh = path + QStringLiteral(".neu");
    QFile::remove(fresh);
    {
        QSettings sound(fresh, QSettings::IniFormat);
        for (const QString& key : keys)
            sound.setValue(key, probe.value(key));
        sound.sync();
    }
    const bool replaced =
        std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path).constData()) == 0;
    QFile::remove(fresh);
    tellOnce(path, "damaged",
             replaced ? QStringLiteral("Die Einstellungsdatei „%1“ war beschädigt. Eine Kopie "
                                       "liegt unter „%2“; was sich lesen ließ, wurde übernommen.")
                            .arg(path, kept)
                      : QStringLiteral("Die Einstellungsdatei „%1“ ist beschädigt (eine Kopie "
                                       "liegt unter „%2“) und lässt sich nicht erneuern. Kopyra "
                                       "verwendet, was sich lesen ließ.")
                            .arg(path, kept));
}

} // namespace

SettingsFile::SettingsFile(const QString& path)
    : m_path(path)
{
    if (QFileInfo(path).isFile())
        repairIfDamaged(path);
    m_store = std::make_unique<QSettings>(path, QSettings::IniFormat);
}

SettingsFile::~SettingsFile() = default;

QVariant SettingsFile::value(const QString& key, const QVariant& defaultValue) const
{
    const QVariantMap mine = unsaved().value(m_path);
    const auto it = mine.constFind(key);
    if (it != mine.constEnd())
        return *it;
    return m_store->value(key, defaultValue);
}

void SettingsFile::setValue(const QString& key, const QVariant& value)
{
    if (!untouchable().contains(m_path))
        m_store->setValue(key, value);
    unsaved()[m_path].insert(key, value);
    sync();
}

QStringList SettingsFile::childKeys(const QString& section) const
{
    m_store->beginGroup(section);
    QStringList keys = m_store->childKeys();
    m_store->endGroup();
    const QString prefix = section + QLatin1Char('/');
    const QVariantMap mine = unsaved().value(m_path);
    for (auto it = mine.constBegin(); it != mine.constEnd(); ++it)
        if (it.key().startsWith(prefix) && !keys.contains(it.key().mid(prefix.size())))
            keys.append(it.key().mid(prefix.size()));
    return keys;
}

void SettingsFile::removeSection(const QString& section)
{
    if (!untouchable().contains(m_path))
        m_store->remove(section);
    QVariantMap& mine = unsaved()[m_path];
    const QString prefix = section + QLatin1Char('/');
    for (auto it = mine.begin(); it != mine.end();)
        it = it.key().startsWith(prefix) ? mine.erase(it) : std::next(it);
    sync();
}

void SettingsFile::sync()
{
    if (untouchable().contains(m_path))
        return;
    m_store->sync();
    if (m_store->status() == QSettings::NoError) {
        unsaved().remove(m_path);
        return;
    }
    tellOnce(m_path, "unwritable",
             QStringLiteral("Die Einstellungen können nicht gespeichert werden: %1 (Datei „%2“). "
                            "Sie gelten nur, bis Kopyra beendet wird.")
                 .arg(whyUnwritable(m_path), m_path));
}

QString SettingsFile::whyUnwritable(const QString& path)
{
    const QFileInfo file(path);
    if (file.isDir())
        return QStringLiteral("an ihrer Stelle steht ein Ordner");
    const QFileInfo folder(file.absolutePath());
    if (!folder.exists())
        return QStringLiteral("der Ordner „%1“ lässt sich nicht anlegen")
            .arg(folder.absoluteFilePath());
    if (!folder.isDir())
        return QStringLiteral("„%1“ ist kein Ordner").arg(folder.absoluteFilePath());
    if (file.exists() && !file.isWritable())
        return QStringLiteral("die Datei ist schreibgeschützt");
    if (!folder.isWritable())
        return QStringLiteral("der Ordner „%1“ ist schreibgeschützt")
            .arg(folder.absoluteFilePath());
    struct statvfs disk {};
    if (statvfs(QFile::encodeName(folder.absoluteFilePath()).constData(), &disk) == 0 &&
        disk.f_bavail == 0)
        return QStringLiteral("auf dem Datenträger ist kein Platz mehr");
    return QStringLiteral("das Schreiben ist fehlgeschlagen");
}
