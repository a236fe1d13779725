#pragma once

#include <QString>

// The application folder and the page file's place in it.
namespace AAM {

// A copy of the path with the platform's separator appended unless it already ends in one;
// only the platform's own separator counts. An empty path gives the separator alone.
QString WithTrailingSeparator(const QString& path);

// The folder of the running executable (not the working directory), with its trailing
// separator.
QString AppFolder();

// The folder of the running executable as the platform reports it: no trailing separator
// except for the root folder.
QString applicationFolder();

// The folder that holds the page file: the application folder when the user can create files
// in it; otherwise (a system-wide install) the user's cache folder for Kopyra.
QString pageFileFolder(const QString& applicationFolder);

// Folder, separator, "Kopyra.tif"; the separator is added without looking at the folder.
QString pageFilePath(const QString& folder);

// The user's cache folder for Kopyra ($XDG_CACHE_HOME/Kopyra, else ~/.cache/Kopyra).
QString cacheFolder();

bool canCreateFilesIn(const QString& folder);

} // namespace AAM
