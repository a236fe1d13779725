#pragma once

#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class QSettings;

// A settings file (INI) that no state of the disk can turn against the program:
//  - a file that cannot be parsed is kept as it is beside the original, named
//    "<name>.beschädigt-<date and time>", and the original is rewritten with what could be
//    read of it (other programs of the maker may keep their sections in the same file);
//  - a file that cannot be written (read-only, a folder in its place, no configuration
//    folder, a full disk) keeps the values set for the rest of the run only.
// Either is told to the user once per file and run, in the log and in a box over the main
// window that stops nothing.
class SettingsFile {
public:
    explicit SettingsFile(const QString& path);
    ~SettingsFile();
    SettingsFile(const SettingsFile&) = delete;
    SettingsFile& operator=(const SettingsFile&) = delete;

    // "Section/Key"; the value set in this run when it could not be written.
    QVariant value(const QString& key, const QVariant& defaultValue = {}) const;
    // Written at once.
    void setValue(const QString& key, const QVariant& value);
    QStringList childKeys(const QString& section) const;
    void removeSection(const QString& section);

    // At start-up: a damaged file made sound, and a file that cannot be written told, before
    // anything is set (a run that only reads would never tell it).
    static void check(const QString& path);

    // Why the file cannot be written, in the user's words; empty when it can.
    static QString whyUnwritable(const QString& path);

private:
    void sync();

    QString m_path;
    std::unique_ptr<QSettings> m_store;
};
