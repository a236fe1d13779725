#include "test_home.h"

#include <QDir>
#include <QFile>

TestHome::TestHome()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME"))
    , m_oldCache(qgetenv("XDG_CACHE_HOME"))
    , m_oldHome(qgetenv("HOME"))
{
    QDir().mkpath(configHome());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome()));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(cacheHome()));
    qputenv("HOME", QFile::encodeName(path()));
}

TestHome::~TestHome()
{
    qputenv("XDG_CONFIG_HOME", m_oldConfig);
    qputenv("XDG_CACHE_HOME", m_oldCache);
    qputenv("HOME", m_oldHome);
}

void TestHome::seedStore(const QByteArray& ini) const
{
    QFile f(storeFile());
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(ini);
}

QByteArray TestHome::readStore() const
{
    QFile f(storeFile());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
