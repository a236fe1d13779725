// The option store and the application folder.
#include "dispatch/dispatch_error.h"
#include "support/aab.h"
#include "support/aam.h"
#include "test_home.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestSupport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void trailingSeparator_data();
    void trailingSeparator();
    void pageFilePath_data();
    void pageFilePath();
    void pageFolderFallsBackToCache_data();
    void pageFolderFallsBackToCache();
    void storeLivesInUserConfigFolder();
    void saveThenLoad_data();
    void saveThenLoad();
    void missingEntryGivesDefault_data();
    void missingEntryGivesDefault();
    void storedValueWinsOverDefault();
    void onlyOwnSectionIsTouched();
    void unwritableStoreFails();
};

void TestSupport::trailingSeparator_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ordinary folder") << "/opt/kopyra"
                                     << "/opt/kopyra/";
    QTest::newRow("already ends in separator") << "/opt/kopyra/"
                                               << "/opt/kopyra/";
    QTest::newRow("root") << "/"
                          << "/";
    QTest::newRow("empty") << ""
                           << "/";
    // Only the platform's separator counts.
    QTest::newRow("ends in backslash") << "/opt/odd\\"
                                       << "/opt/odd\\/";
}

void TestSupport::trailingSeparator()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    const QString before = path;
    QCOMPARE(AAM::WithTrailingSeparator(path), expected);
    QCOMPARE(path, before);
}

void TestSupport::pageFilePath_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ordinary folder") << "/opt/kopyra"
                                     << "/opt/kopyra/Kopyra.tif";
    // The separator is added without looking; a doubled slash still names the same file.
    QTest::newRow("root") << "/"
                          << "//Kopyra.tif";
}

void TestSupport::pageFilePath()
{
    QFETCH(QString, folder);
    QFETCH(QString, expected);
    QCOMPARE(AAM::pageFilePath(folder), expected);
}

void TestSupport::pageFolderFallsBackToCache_data()
{
    QTest::addColumn<QString>("folder");
    QTest::addColumn<bool>("writable");
    QTest::newRow("writable folder") << QString() << true;
    // Nobody, root included, can create files in /proc: it stands for a system-wide install.
    QTest::newRow("folder nobody can write to") << "/proc" << false;
    QTest::newRow("folder that does not exist") << "/nonexistent/kopyra" << false;
}

void TestSupport::pageFolderFallsBackToCache()
{
    QFETCH(QString, folder);
    QFETCH(bool, writable);
    TestHome home;
    if (folder.isEmpty())
        folder = home.path();
    const QString chosen = AAM::pageFileFolder(folder);
    if (writable) {
        QCOMPARE(chosen, folder);
        QVERIFY(QDir(folder).entryList(QDir::Files | QDir::Hidden).isEmpty()); // probe removed
    } else {
        QCOMPARE(chosen, home.cacheHome() + QStringLiteral("/Kopyra"));
        QVERIFY(QFileInfo(chosen).isDir());
    }
}

void TestSupport::storeLivesInUserConfigFolder()
{
    TestHome home;
    QCOMPARE(AAB::storeFile(), home.storeFile());
    AAB::SaveOption(QStringLiteral("ExtView"), std::int16_t(1));
    QVERIFY(home.readStore().contains("[Kopyra]\nExtView=1"));

    // Without XDG_CONFIG_HOME the store is in ~/.config.
    qunsetenv("XDG_CONFIG_HOME");
    QCOMPARE(AAB::storeFile(), home.path() + QStringLiteral("/.config/Tandrelwerk.conf"));
}

void TestSupport::saveThenLoad_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("unchecked") << 0 << "0";
    QTest::newRow("checked") << 1 << "1";
    QTest::newRow("greyed") << 2 << "2";
    QTest::newRow("negative") << -5 << "-5";
    QTest::newRow("largest") << 32767 << "32767";
}

void TestSupport::saveThenLoad()
{
    QFETCH(int, value);
    QFETCH(QString, text);
    TestHome home;
    AAB::SaveOption(QStringLiteral("AskBeforePrint"), static_cast<std::int16_t>(value));
    QCOMPARE(AAB::LoadOption(QStringLiteral("AskBeforePrint"), std::int16_t(7)), text);
    QVERIFY(home.readStore().contains("AskBeforePrint=" + text.toUtf8() + "\n"));
    // Replacing keeps one entry.
    AAB::SaveOption(QStringLiteral("AskBeforePrint"), std::int16_t(0));
    QCOMPARE(home.readStore().count("AskBeforePrint="), 1);
}

void TestSupport::missingEntryGivesDefault_data()
{
    QTest::addColumn<QByteArray>("store");
    QTest::newRow("no store file") << QByteArray();
    QTest::newRow("no section") << QByteArray("[Other]\nExtView=1\n");
    QTest::newRow("no key") << QByteArray("[Kopyra]\nAskBeforePrint=1\n");
}

void TestSupport::missingEntryGivesDefault()
{
    QFETCH(QByteArray, store);
    TestHome home;
    if (!store.isEmpty())
        home.seedStore(store);
    QCOMPARE(AAB::LoadOption(QStringLiteral("ExtView"), std::int16_t(0)), QStringLiteral("0"));
    QCOMPARE(AAB::LoadOption(QStringLiteral("ExtView"), std::int16_t(1)), QStringLiteral("1"));
    // Reading never writes.
    QCOMPARE(home.readStore(), store);
    QCOMPARE(QFile::exists(home.storeFile()), !store.isEmpty());
}

void TestSupport::storedValueWinsOverDefault()
{
    TestHome home;
    home.seedStore("[Kopyra]\nShowSpecificSetup=0\n");
    QCOMPARE(AAB::LoadOption(QStringLiteral("ShowSpecificSetup"), std::int16_t(1)),
             QStringLiteral("0"));
}

void TestSupport::onlyOwnSectionIsTouched()
{
    TestHome home;
    home.seedStore("[Other]\nExtView=7\n\n[Kopyra]\nExtView=0\n");
    AAB::SaveOption(QStringLiteral("ExtView"), std::int16_t(1));
    const QByteArray after = home.readStore();
    QVERIFY(after.contains("[Other]\nExtView=7"));
    QVERIFY(after.contains("[Kopyra]\nExtView=1"));
}

void TestSupport::unwritableStoreFails()
{
    TestHome home;
    // The configuration "folder" is a file: the store can neither be created nor written.
    QDir(home.configHome()).removeRecursively();
    QFile blocker(home.configHome());
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    try {
        AAB::SaveOption(QStringLiteral("ExtView"), std::int16_t(1));
        QFAIL("a store that cannot be written must not report success");
    } catch (const imaging::DispatchError& e) {
        QVERIFY(e.description().contains(QStringLiteral("ExtView")));
        QCOMPARE(e.source(), QStringLiteral("Kopyra.AAB"));
    }
}

QTEST_GUILESS_MAIN(TestSupport)
#include "tst_support.moc"
