#include "support/aam.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QTemporaryFile>

namespace AAM {

namespace {
const QChar Separator = QDir::separator();
}

QString WithTrailingSeparator(const QString& path)
{
    return path.endsWith(Separator) ? path : path + Separator;
}

QString applicationFolder()
{
    return QDir::toNativeSeparators(QCoreApplication::applicationDirPath());
}

QString AppFolder() { return WithTrailingSeparator(applicationFolder()); }

bool canCreateFilesIn(const QString& folder)
{
    // Permission bits alone say little (root ignores them, read-only mounts don't show in
    // them), so try it.
    QTemporaryFile probe(WithTrailingSeparator(folder) + QStringLiteral(".kopyra-probe-XXXXXX"));
    return probe.open();
}

QString cacheFolder()
{
    return QDir::toNativeSeparators(
        QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
        QStringLiteral("/Kopyra"));
}

QString pageFileFolder(const QString& appFolder)
{
    if (canCreateFilesIn(appFolder))
        return appFolder;
    // The page is the user's own: the folder is made for the user alone.
    const QString cache = cacheFolder();
    QDir().mkpath(cache);
    QFile::setPermissions(cache, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return cache;
}

QString pageFilePath(const QString& folder)
{
    return folder + Separator + QStringLiteral("Kopyra.tif");
}

} // namespace AAM
