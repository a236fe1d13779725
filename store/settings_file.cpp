#include "store/settings_file.h"

#include <QApplication>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMessageBox>
#include <QMutex>
#include <QSet>
#include <QSettings>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <sys/statvfs.h>

namespace {

// Settings are read and written on background threads too (the printer's options, the
// scanner's buttons): what follows is shared by all of them, behind this lock.
std::mutex& memoryGuard()
{
    static std::mutex guard;
    return guard;
}

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

QVariantMap unsavedOf(const QString& path)
{
    const std::lock_guard lock(memoryGuard());
    return unsaved().value(path);
}

bool isUntouchable(const QString& path)
{
    const std::lock_guard lock(memoryGuard());
    return untouchable().contains(path);
}

// The window a notice belongs to: the program's main window once it is shown (a notice
// without owner can open behind it, where nobody finds it).
QWidget* noticeOwner()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowType() == Qt::Window && !qobject_cast<QDialog*>(w))
            return w;
    return nullptr;
}

// Tells the user once per file and kind of trouble, without stopping anything: in the log as
// every box is, and in a box over the main window once the event loop runs (on its thread,
// whichever thread found the trouble).
void tellOnce(const QString& path, const char* kind, const QString& text)
{
    static QSet<QString> told;
    static QMutex guard;
    {
        const QMutexLocker lock(&guard);
        const QString what = path + QLatin1Char('\n') + QLatin1String(kind);
        if (told.contains(what))
            return;
        told.insert(what);
    }
    qInfo("Kopyra: Meldung: %s", qPrintable(text));
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (!app)
        return;
    QMetaObject::invokeMethod(
        app,
        [text] {
            auto* box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Kopyra"), text,
                                        QMessageBox::Ok, noticeOwner());
            box->setObjectName(QStringLiteral("SettingsNotice"));
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::NonModal);
            box->show();
        },
        Qt::QueuedConnection);
}

// Keys that garbage read as settings makes: outside every section (neither file keeps any
// there), or with names no program writes (control characters, bytes that are no UTF-8).
bool soundKey(const QString& key)
{
    const qsizetype slash = key.indexOf(QLatin1Char('/'));
    if (slash <= 0 || slash == key.size() - 1)
        return false;
    return std::all_of(key.begin(), key.end(),
                       [](QChar c) { return c.isPrint() && c != QChar::ReplacementCharacter; });
}

// A damaged file is kept as it is, and the original made sound with what could be read.
void repairIfDamaged(const QString& path)
{
    // Settings are read on background threads too.
    static QMutex guard;
    const QMutexLocker lock(&guard);
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
        {
            const std::lock_guard memory(memoryGuard());
            untouchable().insert(path);
        }
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
            if (soundKey(key))
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

void tellUnwritable(const QString& path, const QString& why)
{
    tellOnce(path, "unwritable",
             QStringLiteral("Die Einstellungen können nicht gespeichert werden: %1 (Datei „%2“). "
                            "Sie gelten nur, bis Kopyra beendet wird.")
                 .arg(why, path));
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
    const QVariantMap mine = unsavedOf(m_path);
    const auto it = mine.constFind(key);
    if (it != mine.constEnd())
        return *it;
    return m_store->value(key, defaultValue);
}

void SettingsFile::setValue(const QString& key, const QVariant& value)
{
    if (!isUntouchable(m_path))
        m_store->setValue(key, value);
    {
        const std::lock_guard lock(memoryGuard());
        unsaved()[m_path].insert(key, value);
    }
    sync();
}

QStringList SettingsFile::childKeys(const QString& section) const
{
    m_store->beginGroup(section);
    QStringList keys = m_store->childKeys();
    m_store->endGroup();
    const QString prefix = section + QLatin1Char('/');
    const QVariantMap mine = unsavedOf(m_path);
    for (auto it = mine.constBegin(); it != mine.constEnd(); ++it)
        if (it.key().startsWith(prefix) && !keys.contains(it.key().mid(prefix.size())))
            keys.append(it.key().mid(prefix.size()));
    return keys;
}

void SettingsFile::removeSection(const QString& section)
{
    if (!isUntouchable(m_path))
        m_store->remove(section);
    {
        const std::lock_guard lock(memoryGuard());
        QVariantMap& mine = unsaved()[m_path];
        const QString prefix = section + QLatin1Char('/');
        for (auto it = mine.begin(); it != mine.end();)
            it = it.key().startsWith(prefix) ? mine.erase(it) : std::next(it);
    }
    sync();
}

void SettingsFile::sync()
{
    if (isUntouchable(m_path))
        return;
    m_store->sync();
    if (m_store->status() == QSettings::NoError) {
        const std::lock_guard lock(memoryGuard());
        unsaved().remove(m_path);
        return;
    }
    tellUnwritable(m_path, whyUnwritable(m_path));
}

void SettingsFile::check(const QString& path)
{
    if (QFileInfo(path).isFile())
        repairIfDamaged(path);
    // Nothing is written here: only what is sure to stop a write is told before one.
    const QFileInfo file(path);
    const QFileInfo folder(file.absolutePath());
    const bool blocked = file.isDir() || (file.exists() && !file.isWritable()) ||
                         (folder.exists() && (!folder.isDir() || !folder.isWritable()));
    if (blocked)
        tellUnwritable(path, whyUnwritable(path));
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
