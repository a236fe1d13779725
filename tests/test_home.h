#pragma once

#include <QString>
#include <QTemporaryDir>

// A fresh home for one test: configuration, cache and home folders of its own, so the
// user's real settings are never touched and no test sees another's files.
class TestHome {
public:
    TestHome();
    ~TestHome();

    QString path() const { return m_dir.path(); }
    QString configHome() const { return path() + QStringLiteral("/config"); }
    QString cacheHome() const { return path() + QStringLiteral("/cache"); }
    QString storeFile() const { return configHome() + QStringLiteral("/Tandrelwerk.conf"); }

    // Writes the store file as given (INI text).
    void seedStore(const QByteArray& ini) const;
    QByteArray readStore() const;

private:
    QTemporaryDir m_dir;
    QByteArray m_oldConfig, m_oldCache, m_oldHome;
};
