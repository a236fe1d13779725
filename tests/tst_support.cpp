// The option store and the application folder.
#include "imaging/common/imaging_settings.h"
#include "imaging/common/print_settings.h"
#include "store/settings_file.h"
#include "support/aab.h"
#include "support/aam.h"
#include "test_support.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <csignal>
#include <sys/resource.h>
#include <thread>
#include <vector>

namespace {

// The warnings the store gives, caught while the catcher lives.
struct NoticeCatcher {
    NoticeCatcher()
    {
        notices().clear();
        m_previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&,
                                               const QString& text) { notices().append(text); });
    }
    ~NoticeCatcher() { qInstallMessageHandler(m_previous); }
    static QStringList& notices()
    {
        static QStringList list;
        return list;
    }

private:
    QtMessageHandler m_previous;
};

constexpr int NotSaved = -1000;

} // namespace

class TestSupport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void trailingSeparator_data();
    void trailingSeparator();
    void pageFolderFallsBackToCache_data();
    void pageFolderFallsBackToCache();
    void storeLivesInUserConfigFolder();
    void optionStore_data();
    void optionStore();
    void damagedOrUnwritableStore_data();
    void damagedOrUnwritableStore();
    void storedNumberOutOfRange_data();
    void storedNumberOutOfRange();
    void settingsFromSeveralThreads();
};

void TestSupport::trailingSeparator_data()
{
    QTest::addColumn<QString>("pathAndExpected"); // the two parted by "|"
    QTest::newRow("ordinary folder") << "/opt/kopyra|/opt/kopyra/";
    QTest::newRow("already ends in separator") << "/opt/kopyra/|/opt/kopyra/";
    QTest::newRow("root") << "/|/";
    QTest::newRow("empty") << "|/";
    // Only the platform's separator counts.
    QTest::newRow("ends in backslash") << "/opt/odd\\|/opt/odd\\/";
}

void TestSupport::trailingSeparator()
{
    QFETCH(QString, pathAndExpected);
    QCOMPARE(AAM::WithTrailingSeparator(pathAndExpected.section(QLatin1Char('|'), 0, 0)),
             pathAndExpected.section(QLatin1Char('|'), 1));
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
        QCOMPARE(QFile::permissions(chosen) & 0x7077,
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner); // nothing for others
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

void TestSupport::optionStore_data()
{
    QTest::addColumn<QByteArray>("store"); // as found; empty: no file
    QTest::addColumn<int>("saved");        // before loading; NotSaved: nothing
    QTest::addColumn<QString>("loaded");   // ExtView loaded with the default 7
    QTest::newRow("no store file") << QByteArray() << NotSaved << "7";
    QTest::newRow("no section") << QByteArray("[Other]\nExtView=1\n") << NotSaved << "7";
    QTest::newRow("no key") << QByteArray("[Kopyra]\nAskBeforePrint=1\n") << NotSaved << "7";
    QTest::newRow("stored value wins") << QByteArray("[Kopyra]\nExtView=0\n") << NotSaved << "0";
    for (int value : {0, 1, 2, -5, 32767})
        QTest::addRow("saved %d", value) << QByteArray() << value << QString::number(value);
    QTest::newRow("saved beside another section")
        << QByteArray("[Other]\nExtView=7\n\n[Kopyra]\nExtView=0\n") << 1 << "1";
}

// Texts stored under [Kopyra], the caller's default for a missing entry, reading never writes,
// a value replaced keeps one entry, other sections stay.
void TestSupport::optionStore()
{
    QFETCH(QByteArray, store);
    QFETCH(int, saved);
    QFETCH(QString, loaded);
    TestHome home;
    if (!store.isEmpty())
        home.seedStore(store);
    const QString key = QStringLiteral("ExtView");
    if (saved != NotSaved) {
        AAB::SaveOption(key, std::int16_t(saved + 1));
        AAB::SaveOption(key, std::int16_t(saved));
    }
    QCOMPARE(AAB::LoadOption(key, std::int16_t(7)), loaded);
    const QByteArray after = home.readStore();
    if (saved == NotSaved) {
        QCOMPARE(after, store);
        QCOMPARE(QFile::exists(home.storeFile()), !store.isEmpty());
    } else {
        QVERIFY(after.contains("[Kopyra]\nExtView=" + loaded.toUtf8() + "\n"));
        QCOMPARE(after.count("ExtView="), store.count("ExtView=7") + 1);
        QCOMPARE(after.contains("[Other]\nExtView=7"), store.contains("[Other]\nExtView=7"));
    }
}

void TestSupport::damagedOrUnwritableStore_data()
{
    QTest::addColumn<QString>("state");
    QTest::addColumn<bool>("imaging"); // kopyra-imaging.conf rather than the option store
    // (Read-only files and folders are no obstacle to root, who runs the tests in CI: the
    // folder in the file's place and the size limit stand for them.)
    for (const char* state :
         {"garbage", "folder in its place", "no configuration folder", "file size limit"})
        for (bool imaging : {false, true})
            QTest::addRow("%s, %s", state, imaging ? "imaging" : "options")
                << QString::fromLatin1(state) << imaging;
}

// Whatever state the store is in, nothing throws, what is set holds for the run, the user is
// told once, and nothing of a damaged file is lost.
void TestSupport::damagedOrUnwritableStore()
{
    QFETCH(QString, state);
    QFETCH(bool, imaging);
    TestHome home;
    const QString file = imaging ? imaging::ImagingSettings::path() : AAB::storeFile();
    const QString section = imaging ? QStringLiteral("Print") : QStringLiteral("Kopyra");
    const QString key = imaging ? QStringLiteral("Copies") : QStringLiteral("ExtView");
    // Garbage that reads as keys too: one outside every section, one that is no UTF-8.
    const QByteArray garbage = "\x89PNG\x01=\x02junk\n[Other]\nKeep=1\n\xff\xfe\x01\x02[[[\n"
                               "\xc3\x28x=5\n[" +
                               section.toUtf8() + "]\n" + key.toUtf8() + "=2\n";
    QDir().mkpath(home.configHome());
    if (state == QLatin1String("garbage")) {
        QVERIFY(writeFile(file, garbage));
    } else if (state == QLatin1String("folder in its place")) {
        QVERIFY(QDir().mkpath(file));
    } else if (state == QLatin1String("no configuration folder")) {
        QDir(home.configHome()).removeRecursively();
        QFile blocker(home.configHome()); // a file where the folder should be
        QVERIFY(blocker.open(QIODevice::WriteOnly));
    }
    struct rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    if (state == QLatin1String("file size limit")) {
        std::signal(SIGXFSZ, SIG_IGN); // a write beyond the limit fails instead
        struct rlimit tiny = before;
        tiny.rlim_cur = 4;
        setrlimit(RLIMIT_FSIZE, &tiny);
    }
    const auto read = [&] {
        return imaging ? QString::number(
                             imaging::ImagingSettings().number(imaging::Settings::PrintCopies))
                       : AAB::LoadOption(key, std::int16_t(0));
    };
    const auto write = [&](int value) {
        if (imaging)
            imaging::ImagingSettings().set(imaging::Settings::PrintCopies, value);
        else
            AAB::SaveOption(key, std::int16_t(value));
    };
    NoticeCatcher catcher;
    // At start-up, before anything is written: told, except what only a write can find.
    SettingsFile::check(file);
    QCOMPARE(catcher.notices().size(), state == QLatin1String("file size limit") ? 0 : 1);
    if (state == QLatin1String("garbage"))
        QCOMPARE(read(), QStringLiteral("2")); // what could be read is read
    write(1);
    write(1);
    const QString value = read();
    setrlimit(RLIMIT_FSIZE, &before);
    QCOMPARE(value, QStringLiteral("1"));
    QCOMPARE(catcher.notices().size(), 1);
    QVERIFY2(catcher.notices()[0].startsWith(QStringLiteral("Kopyra: Meldung: ")) &&
                 catcher.notices()[0].contains(file),
             qPrintable(catcher.notices()[0]));
    if (state == QLatin1String("garbage")) {
        const QStringList kept =
            QDir(home.configHome())
                .entryList({QFileInfo(file).fileName() + QStringLiteral(".beschädigt-*")});
        QCOMPARE(kept.size(), 1);
        QCOMPARE(contents(home.configHome() + QLatin1Char('/') + kept[0]), garbage);
        const QByteArray rewritten = contents(file);
        QVERIFY(rewritten.contains("[Other]\nKeep=1"));
        QVERIFY2(!rewritten.contains("General") && rewritten.count('=') == 2, rewritten);
    }
}

void TestSupport::storedNumberOutOfRange_data()
{
    QTest::addColumn<QString>("key"); // in kopyra-imaging.conf
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("read");
    // Outside its range a value is damage (a typo), not a wish at the limit: the default.
    QTest::newRow("copies far too many") << "Print/Copies"
                                         << "100000" << 1;
    QTest::newRow("no copies") << "Print/Copies"
                               << "0" << 1;
    QTest::newRow("copies, the most") << "Print/Copies"
                                      << "999" << 999;
    QTest::newRow("copies, not a number") << "Print/Copies"
                                          << "viele" << 1;
    QTest::newRow("zoom too small") << "Print/Zoom"
                                    << "10" << 100;
    QTest::newRow("zoom too large") << "Print/Zoom"
                                    << "401" << 100;
    QTest::newRow("zoom, the least") << "Print/Zoom"
                                     << "25" << 25;
    QTest::newRow("resolution too fine") << "ScanPreferences/Resolution"
                                         << "9600" << 300;
    QTest::newRow("resolution, the finest") << "ScanPreferences/Resolution"
                                            << "4800" << 4800;
    QTest::newRow("tone beyond darker") << "ScanPreferences/Tone"
                                        << "3" << 0;
    QTest::newRow("tone, the lightest") << "ScanPreferences/Tone"
                                        << "-2" << -2;
}

void TestSupport::storedNumberOutOfRange()
{
    QFETCH(QString, key);
    QFETCH(QString, stored);
    QFETCH(int, read);
    TestHome home;
    QDir().mkpath(home.configHome());
    const QString section = key.section(QLatin1Char('/'), 0, 0);
    const QString name = key.section(QLatin1Char('/'), 1);
    QVERIFY(writeFile(imaging::ImagingSettings::path(),
                      QStringLiteral("[%1]\n%2=%3\n").arg(section, name, stored).toUtf8()));
    const imaging::Setting* settings[] = {
        &imaging::Settings::PrintCopies, &imaging::Settings::PrintZoom,
        &imaging::Settings::ScanResolution, &imaging::Settings::ScanTone};
    const auto* setting = std::find_if(std::begin(settings), std::end(settings), [&](auto* s) {
        return QLatin1String(s->section) == section && QLatin1String(s->key) == name;
    });
    QVERIFY(setting != std::end(settings));
    QCOMPARE(imaging::ImagingSettings().number(**setting), read);
}

QTEST_GUILESS_MAIN(TestSupport)
// The settings are read and written on several threads at once (the printer's options on a
// background thread, the scanner's choice on the scanner thread, the window's on its own), also
// while a file cannot be written and its values are held in memory: every value read back is
// one that was written. Run under ThreadSanitizer in the test command.
void TestSupport::settingsFromSeveralThreads()
{
    TestHome home;
    // A folder where the option store should be: nothing can be written, all is held.
    QVERIFY(QDir().mkpath(home.storeFile()));
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 100; ++i) {
                imaging::ImagingSettings settings;
                settings.set(imaging::Settings::PrintCopies, 1 + (t + i) % 9);
                const int copies = settings.number(imaging::Settings::PrintCopies);
                QVERIFY(copies >= 1 && copies <= 9);
                imaging::savePrinterOptions(
                    QStringLiteral("P%1").arg(t),
                    {{QStringLiteral("InputSlot"), QStringLiteral("Tray%1").arg(i % 3)}});
                QCOMPARE(imaging::printerOptions(QStringLiteral("P%1").arg(t)).size(), 1);
                AAB::SaveOption(QStringLiteral("ExtView"), std::int16_t(i % 2));
                const QString shown = AAB::LoadOption(QStringLiteral("ExtView"), std::int16_t(7));
                QVERIFY(shown == QLatin1String("0") || shown == QLatin1String("1"));
            }
        });
    for (std::thread& thread : threads)
        thread.join();
}

#include "tst_support.moc"
