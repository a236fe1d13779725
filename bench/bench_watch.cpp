// What watching the scanner's own buttons costs: the processor time Kopyra and its scanner
// helper use while idle, watching and not, and how long after a press the copy begins. The
// scanner is the tests' fault scanner, whose buttons are pressed through a file.
//   bench_watch <fault backend folder> <SANE configuration folders> [seconds]
#include "dispatch/members.h"
#include "imaging/scan/button_watch.h"
#include "imaging/scan/img_scan.h"
#include "imaging/scan/scan_preferences.h"
#include "imaging/scan/scanner_choice.h"
#include "support/kopyra_application.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

double seconds(const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; }

double ownCpu()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The processor time of this process's children that still run (the scanner helper).
double childrenCpu()
{
    double total = 0;
    const long tick = sysconf(_SC_CLK_TCK);
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> fields = stat.readAll().split(')').value(1).trimmed().split(' ');
        // After the name: state, parent, …; user and system time are fields 14 and 15.
        if (fields.size() > 13 && fields[1].toLongLong() == getpid())
            total += double(fields[11].toLongLong() + fields[12].toLongLong()) / double(tick);
    }
    return total;
}

// Per cent of one core used by Kopyra and its helper while idle for that long.
double idleCost(int secondsIdle)
{
    const double before = ownCpu() + childrenCpu();
    QTest::qWait(secondsIdle * 1000);
    return 100 * (ownCpu() + childrenCpu() - before) / secondsIdle;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "bench_watch <fault backend folder> <SANE configuration> [s]\n");
        return 2;
    }
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    qputenv("LD_LIBRARY_PATH", argv[1]);
    qputenv("SANE_CONFIG_DIR", argv[2]);
    const QString press = home.filePath(QStringLiteral("press"));
    qputenv("KOPYRA_FAULT_PRESS", QFile::encodeName(press));
    KopyraApplication app(argc, argv);
    const int idleSeconds = argc > 3 ? std::atoi(argv[3]) : 20;

    imaging::ScannerChoice{QStringLiteral("fault:0"), QString(), QString()}.save();
    imaging::ScanPreferences preferences;
    preferences.startButton = true;
    preferences.save();
    auto control = std::make_unique<imaging::ImgScan>(); // watching from now on
    QElapsedTimer sincePress;
    std::vector<double> latencies;
    QObject::connect(control.get(), &imaging::ImgScan::eventRaised, [&](int position) {
        if (position == imaging::ScanButtonEvent)
            latencies.push_back(double(sincePress.nsecsElapsed()) / 1e6);
    });
    QTest::qWait(2000); // the helper started, the device open
    const double watching = idleCost(idleSeconds);

    for (int i = 0; i < 20; ++i) {
        QFile file(press);
        file.open(QIODevice::WriteOnly);
        file.write(i % 2 ? "scan" : "copy");
        file.close();
        sincePress.start();
        const std::size_t before = latencies.size();
        for (QElapsedTimer wait; wait.start(), latencies.size() == before && wait.elapsed() < 5000;)
            QTest::qWait(5);
        QTest::qWait(300 + 37 * (i % 7)); // the next press anywhere in the interval
    }

    // Not watching: the device closed, the helper still there.
    control.reset();
    QTest::qWait(1000);
    const double notWatching = idleCost(idleSeconds);

    std::sort(latencies.begin(), latencies.end());
    std::printf("## Watching the scanner's own buttons\n\n");
    std::printf("`bench_watch`: the fault scanner watched every %d ms; processor time of Kopyra's "
                "scan control and its scanner helper while idle for %d s, and from a press to "
                "the copy beginning (%zu presses).\n\n",
                imaging::ButtonWatch::IntervalMs, idleSeconds, latencies.size());
    std::printf("| Idle, watching | Idle, not watching | Press to copy, median | Press to copy, "
                "slowest |\n|---:|---:|---:|---:|\n");
    std::printf("| %.2f %% of a core | %.2f %% of a core | %.0f ms | %.0f ms |\n", watching,
                notWatching, latencies.empty() ? -1.0 : latencies[latencies.size() / 2],
                latencies.empty() ? -1.0 : latencies.back());
    std::printf("\nNot watching is the benchmark's own event loop and the idle helper. A copy "
                "begun by the button is the copy button's copy, begun at most one interval "
                "after the press.\n");
    return latencies.size() == 20 ? 0 : 1;
}
