// What one copy costs, against the pipeline a shell user would write:
//
//     scanimage --format=tiff > page.tif && lp page.tif
//
// Each measurement runs in a process of its own (this program started again with a role), so
// every copy starts with a fresh SANE and its own peak memory:
//   bare MODE DPI       the device alone: open, set up, read every byte and throw it away
//   copy MODE DPI [ZOOM TONE [feeder|feeder-2up]]
//                       one press of the copy button in the real main window, with the real
//                       imaging components, up to the print job accepted by CUPS;
//                       zoomed (per cent) and lighter or darker (-2 … 2) as the copier's
//                       controls say; "feeder": the ten sheets of the test scanner's feeder
//                       ("feeder-2up": two on a sheet)
//   slow                a copy from a slowly delivering scanner (SANE test's read-delay)
//   paper-copy MODE DPI PRINTER [feeder]  a copy until the printer's job is completed
//   paper RUNS PRINTER…  press → paper on those printers against the shell's pipeline
//   feeder RUNS [MODE DPI]  ten pages from the feeder against the shell's pipeline
//   first-sheet RUNS      the slowed feeder's ten pages: when the first and the last sheet are on
//                         paper, against scanimage --batch and a job a page
//   two-up RUNS           the feeder's ten pages two on a sheet against one on a sheet
// Without a role it measures everything and writes a Markdown report to standard output.
// Needs SANE's test scanner (SANE_CONFIG_DIR) and a CUPS printer "KopyraPDF", for "paper" also
// the driverless "KopyraIPP" with its spool folder (KOPYRA_TEST_IPP_SPOOL) and the scheduler's
// log at LogLevel debug; tools/bench.sh provides them.
#include "bench/peak_memory.h"
#include "imaging/common/print_settings.h"
#include "imaging/controls.h"
#include "imaging/scan/img_scan.h"
#include "imaging/scan/sane/sane_device.h"
#include "imaging/scan/scan_preferences.h"
#include "imaging/scan/scanner_choice.h"
#include "main_window/form1.h"
#include "support/german_ui.h"
#include "support/kopyra_application.h"
#include "support/module1.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <QThread>
#include <QTimer>
#include <QToolButton>

#include <cups/cups.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using imaging::ScanPreferences;
using imaging::Variant;

namespace {

const QString Device = QStringLiteral("test:0");
const QString Printer = QStringLiteral("KopyraPDF");

QElapsedTimer& benchClock()
{
    static QElapsedTimer timer;
    return timer;
}
double nowMs() { return double(benchClock().nsecsElapsed()) / 1e6; }

ScanPreferences::Mode modeOf(const QString& name)
{
    if (name == QLatin1String("grey"))
        return ScanPreferences::Mode::Gray;
    if (name == QLatin1String("lineart"))
        return ScanPreferences::Mode::Lineart;
    return ScanPreferences::Mode::Color;
}

double rawPageMb(const QString& mode, int dpi)
{
    const double pixels = std::round(210 / 25.4 * dpi) * std::round(297 / 25.4 * dpi);
    const double bytesPerPixel = mode == QLatin1String("colour") ? 3
                                 : mode == QLatin1String("grey") ? 1
                                                                 : 1.0 / 8;
    return pixels * bytesPerPixel / 1e6;
}

// ---- bare: what the device needs to deliver the pixels ----------------------------------

int runBare(const QString& mode, int dpi)
{
    ScanPreferences preferences;
    preferences.mode = modeOf(mode);
    preferences.dpi = dpi;
    // In this process, without the helper: the device alone.
    SANE_Int version = 0;
    sane_init(&version, nullptr);
    const double seconds = [&] {
        QElapsedTimer t;
        t.start();
        imaging::sane::Device device;
        device.open(Device);
        preferences.applyTo(device);
        if (sane_start(device.handle()) != SANE_STATUS_GOOD)
            throw std::runtime_error("sane_start failed");
        std::vector<SANE_Byte> buffer(64 * 1024);
        SANE_Int got = 0;
        SANE_Status status = SANE_STATUS_GOOD;
        while ((status = sane_read(device.handle(), buffer.data(), SANE_Int(buffer.size()),
                                   &got)) == SANE_STATUS_GOOD) {
        }
        if (status != SANE_STATUS_EOF)
            throw std::runtime_error("sane_read failed");
        device.close();
        return double(t.nsecsElapsed()) / 1e9;
    }();
    sane_exit();
    std::printf("bare=%.4f\n", seconds);
    return 0;
}

// ---- copy: one press of the copy button -------------------------------------------------

// The steps of a copy, as the copy run calls them on the controls.
const std::map<int, std::string> Steps = {{102, "scan"}, {343, "show"}, {351, "print"}};

struct Timeline {
    std::map<std::string, double> duration;   // per step, ms
    std::map<std::string, double> longestGap; // of the event loop, per step, ms
    std::map<std::string, double> overlap;    // of the running gap with each step, ms
    std::string current = "idle";
    double since = 0; // the running gap's part in the current step began then
    double lastTick = 0;
    double printReturned = -1;

    void enter(const std::string& step)
    {
        const double now = nowMs();
        overlap[current] += now - since;
        since = now;
        current = step;
    }
    // A gap counts for the step it lies in most.
    void tick()
    {
        const double now = nowMs();
        overlap[current] += now - since;
        const auto most =
            std::max_element(overlap.begin(), overlap.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        longestGap[most->first] = std::max(longestGap[most->first], now - lastTick);
        overlap.clear();
        since = lastTick = now;
    }
};
Timeline timeline;

// Puts a real control behind the window and notes when each step of the copy runs.
class TimedControl : public imaging::DispatchControl {
public:
    explicit TimedControl(std::unique_ptr<imaging::DispatchControl> real)
        : m_real(std::move(real))
    {
        connect(m_real.get(), &imaging::DispatchControl::eventRaised, this,
                [this](int position) { raiseEvent(position); });
    }
    QString progId() const override { return m_real->progId(); }
    void put(std::int32_t member, const Variant& value) override { m_real->put(member, value); }
    Variant read(std::int32_t member) override { return m_real->read(member); }
    QWidget* createView(QWidget* site) override { return m_real->createView(site); }
    void expectUse() override { m_real->expectUse(); }
    Variant call(std::int32_t member, const QList<Variant>& args) override
    {
        const auto step = Steps.find(member);
        if (step == Steps.end())
            return m_real->call(member, args);
        timeline.enter(step->second);
        const double start = nowMs();
        Variant result = m_real->call(member, args);
        timeline.duration[step->second] += nowMs() - start;
        timeline.enter("between");
        if (member == 351)
            timeline.printReturned = nowMs();
        return result;
    }

private:
    std::unique_ptr<imaging::DispatchControl> m_real;
};

// A copy as the copier's controls make it: zoomed (per cent) and lighter or darker (-2 … 2).
struct Controls {
    int zoom = 100;
    int tone = 0;
    bool feeder = false; // the whole stack from SANE's test feeder (ten sheets)
    QString printer = Printer;
    bool untilPaper = false; // until the printer has the job, not only CUPS
    int perSheet = 1;        // originals on one sheet
    int copies = 1;
    bool collate = true;
};

// SANE's test scanner's feeder slowed to about a second a page at 150 dpi (it waits after each
// buffer of 16 KB), as a real feeder.
const QVariantMap SlowFeeder{{QStringLiteral("read-limit"), true},
                             {QStringLiteral("read-limit-size"), 16384},
                             {QStringLiteral("read-delay"), true},
                             {QStringLiteral("read-delay-duration"), 7500}};

int activeJobs(const QString& printer)
{
    cups_job_t* jobs = nullptr;
    const int n = cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer.toUtf8().constData(), 0,
                               CUPS_WHICHJOBS_ACTIVE);
    cupsFreeJobs(n, jobs);
    return n;
}

// Seconds since the epoch, to compare with file times.
double wallClock() { return double(QDateTime::currentMSecsSinceEpoch()) / 1000; }

// When the printer had the last byte of its newest job: the time of the newest file in the
// driverless printer's spool folder, or of the newest PDF that cups-pdf wrote. CUPS's own
// "completed" comes later by up to a second for an IPP printer, whose backend asks the printer
// about the job once a second.
double lastByteAt(const QString& printer)
{
    const QString folder = printer == QLatin1String("KopyraIPP")
                               ? qEnvironmentVariable("KOPYRA_TEST_IPP_SPOOL")
                               : qEnvironmentVariable("KOPYRA_TEST_PDF_DIR");
    // Not sorted by QDir::Time, whose sort does not survive a file being written meanwhile.
    const QFileInfoList files =
        QDir(folder).entryInfoList({QStringLiteral("*.pwg"), QStringLiteral("*.pdf")}, QDir::Files);
    if (files.isEmpty())
        throw std::runtime_error("the printer has no file");
    qint64 last = 0;
    for (const QFileInfo& file : files)
        last = std::max(last, file.lastModified().toMSecsSinceEpoch());
    return double(last) / 1000;
}

// When the printer had the first of the files it got since then (see lastByteAt).
double firstFileAt(const QString& printer, double since)
{
    const QString folder = printer == QLatin1String("KopyraIPP")
                               ? qEnvironmentVariable("KOPYRA_TEST_IPP_SPOOL")
                               : qEnvironmentVariable("KOPYRA_TEST_PDF_DIR");
    qint64 first = std::numeric_limits<qint64>::max();
    for (const QFileInfo& file : QDir(folder).entryInfoList(
             {QStringLiteral("*.pwg"), QStringLiteral("*.pdf")}, QDir::Files))
        if (const qint64 at = file.lastModified().toMSecsSinceEpoch(); double(at) >= since * 1000)
            first = std::min(first, at);
    if (first == std::numeric_limits<qint64>::max())
        throw std::runtime_error("the printer has no new file");
    return double(first) / 1000;
}

// Until the printer's jobs are completed (for cups-pdf: the PDF file written; for an IPP
// printer: the printer has taken the last byte), asked every 5 ms.
void waitForPaper(const QString& printer)
{
    QElapsedTimer limit;
    limit.start();
    while (activeJobs(printer) > 0) {
        if (limit.elapsed() > 300000)
            throw std::runtime_error("the job did not complete");
        QThread::msleep(5);
    }
}

void seedSettings(const QString& mode, int dpi, const QVariantMap& deviceOptions,
                  const Controls& controls = {})
{
    QFile store(
        QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath(QStringLiteral("Tandrelwerk.conf")));
    if (!store.open(QIODevice::WriteOnly))
        throw std::runtime_error("cannot write the option store");
    store.write("[Kopyra]\nShowSpecificSetup=0\nAskBeforePrint=0\n");
    store.close();
    imaging::ScannerChoice{Device, QString(), QString()}.save();
    ScanPreferences preferences;
    preferences.mode = modeOf(mode);
    preferences.dpi = dpi;
    preferences.tone = controls.tone;
    preferences.source =
        controls.feeder ? ScanPreferences::Source::Feeder : ScanPreferences::Source::Device;
    preferences.save();
    imaging::ImgScan::rememberOptions(Device, deviceOptions);
    imaging::PrintSettings print;
    print.printer = controls.printer;
    print.zoomPercent = controls.zoom;
    print.pagesPerSheet = controls.perSheet;
    print.copies = controls.copies;
    print.collate = controls.collate;
    print.save();
}

int runCopy(const QString& mode, int dpi, const QVariantMap& deviceOptions,
            const Controls& controls = {})
{
    seedSettings(mode, dpi, deviceOptions, controls);
    QTemporaryDir folder;
    Form1::Environment environment;
    environment.applicationFolder = folder.path();
    environment.controls = [] {
        ImagingControls real = makeImagingControls();
        ImagingControls timed;
        timed.scan = std::make_unique<TimedControl>(std::move(real.scan));
        timed.edit = std::make_unique<TimedControl>(std::move(real.edit));
        timed.admin = std::make_unique<TimedControl>(std::move(real.admin));
        return timed;
    };
    Form1 form(environment);
    form.Form_Load();
    form.show();
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 300)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    const double before = peakMb();

    QTimer heartbeat;
    heartbeat.setTimerType(Qt::PreciseTimer);
    QObject::connect(&heartbeat, &QTimer::timeout, [] { timeline.tick(); });
    timeline.lastTick = timeline.since = nowMs();
    heartbeat.start(10);

    // Pressed as a user presses it: held down for KOPYRA_BENCH_HOLD_MS (a tenth of a second
    // unless set; 0: down and up at once), the copy timed from the release that starts it.
    const int hold = qEnvironmentVariableIsSet("KOPYRA_BENCH_HOLD_MS")
                         ? qEnvironmentVariableIntValue("KOPYRA_BENCH_HOLD_MS")
                         : 100;
    QTest::mousePress(form.Btn[0], Qt::LeftButton);
    QElapsedTimer held;
    held.start();
    while (held.elapsed() < hold)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    Module1::FirstCopyDone = 0;
    const double pressed = wallClock();
    const double start = nowMs();
    timeline.enter("between");
    QTest::mouseRelease(form.Btn[0], Qt::LeftButton);
    QElapsedTimer limit;
    limit.start();
    while (Module1::FirstCopyDone != -1 && limit.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    if (timeline.printReturned < 0) {
        std::fprintf(stderr, "the copy did not reach the printer\n");
        return 1;
    }
    double paper = 0, first = 0;
    if (controls.untilPaper) {
        waitForPaper(controls.printer);
        paper = lastByteAt(controls.printer) - pressed;
        first = firstFileAt(controls.printer, pressed) - pressed;
    }
    // The copy's peak, before the view pages through a stack.
    const double copied = peakMb();
    // Through the stack in the view, a page every 100 ms, as a user pages quickly.
    if (auto* next = form.findChild<QToolButton*>(QStringLiteral("NextPage"));
        controls.feeder && next) {
        timeline.enter("paging");
        for (int page = 1; page < 10; ++page) {
            next->click();
            QElapsedTimer wait;
            wait.start();
            while (wait.elapsed() < 100)
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        }
        timeline.enter("between");
    }
    std::printf("total=%.4f scan=%.4f show=%.4f print=%.4f gapScan=%.1f gapShow=%.1f "
                "gapPrint=%.1f gapPaging=%.1f peakBefore=%.1f peakCopy=%.1f peak=%.1f paper=%.4f "
                "first=%.4f\n",
                (timeline.printReturned - start) / 1000, timeline.duration["scan"] / 1000,
                timeline.duration["show"] / 1000, timeline.duration["print"] / 1000,
                timeline.longestGap["scan"], timeline.longestGap["show"],
                timeline.longestGap["print"], timeline.longestGap["paging"], before, copied,
                peakMb(), paper, first);
    return 0;
}

// ---- the driver --------------------------------------------------------------------------

using Figures = std::map<std::string, double>;

Figures parseFigures(const QByteArray& output)
{
    Figures figures;
    for (const QByteArray& pair : output.simplified().split(' ')) {
        const auto eq = pair.indexOf('=');
        if (eq > 0)
            figures[pair.left(eq).toStdString()] = pair.mid(eq + 1).toDouble();
    }
    return figures;
}

Figures runRole(const QStringList& arguments, const QString& home)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QDir(home).mkpath(QStringLiteral("config"));
    QDir(home).mkpath(QStringLiteral("cache"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    if (!process.waitForFinished(900000) || process.exitCode() != 0)
        throw std::runtime_error("role failed: " + arguments.join(QLatin1Char(' ')).toStdString());
    return parseFigures(process.readAllStandardOutput());
}

// Until CUPS holds no job any more.
void emptyQueue(const QString& printer = Printer)
{
    cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.toUtf8().constData(), CUPS_JOBID_ALL, 1);
    for (int i = 0; i < 600; ++i) {
        cups_job_t* jobs = nullptr;
        const int active =
            cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, nullptr, 0, CUPS_WHICHJOBS_ACTIVE);
        cupsFreeJobs(active, jobs);
        if (active == 0)
            return;
        QThread::msleep(100);
    }
}

// The shell's pipeline; with untilPaper, the time until the printer has the job.
double runPipeline(const QString& mode, int dpi, const QString& folder,
                   const QString& printer = Printer, bool untilPaper = false)
{
    const QString scanMode =
        mode == QLatin1String("colour") ? QStringLiteral("Color") : QStringLiteral("Gray");
    const QString depth =
        mode == QLatin1String("lineart") ? QStringLiteral("1") : QStringLiteral("8");
    const QString command =
        QStringLiteral("cd '%1' && scanimage -d %2 --format=tiff --mode %3 --depth %4 "
                       "--resolution %5 -l 0 -t 0 -x 210 -y 297 > page.tif && lp -d %6 page.tif "
                       ">/dev/null")
            .arg(folder, Device, scanMode, depth)
            .arg(dpi)
            .arg(printer);
    // SANE's test backend now and then leaves scanimage hanging at its exit (a reader thread
    // that died holding the loader's lock): such a run is repeated.
    for (int attempt = 0; attempt < 3; ++attempt) {
        QProcess shell;
        shell.setProcessChannelMode(QProcess::ForwardedChannels);
        QElapsedTimer t;
        t.start();
        const double started = wallClock();
        shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
        if (shell.waitForFinished(60000)) {
            if (shell.exitStatus() != QProcess::NormalExit || shell.exitCode() != 0)
                throw std::runtime_error("the command-line pipeline failed");
            if (untilPaper) {
                waitForPaper(printer);
                return lastByteAt(printer) - started;
            }
            return double(t.nsecsElapsed()) / 1e9;
        }
        std::fprintf(stderr, "scanimage | lp hangs, once more\n");
        QProcess::execute(QStringLiteral("pkill"), {QStringLiteral("-KILL"), QStringLiteral("-f"),
                                                    QStringLiteral("scanimage -d ") + Device});
        shell.waitForFinished(5000);
        emptyQueue(printer);
    }
    throw std::runtime_error("the command-line pipeline hangs");
}

// Jobs wait in the stopped queue and are cancelled after each run: no conversion of one run's
// job slows the next. The queue takes jobs again afterwards.
struct StoppedPrinter {
    StoppedPrinter() { QProcess::execute(QStringLiteral("cupsdisable"), {Printer}); }
    ~StoppedPrinter() { QProcess::execute(QStringLiteral("cupsenable"), {Printer}); }
    StoppedPrinter(const StoppedPrinter&) = delete;
    StoppedPrinter& operator=(const StoppedPrinter&) = delete;
};

// The ten sheets of the test scanner's feeder as a shell user would copy them.
double runFeederPipeline(const QString& mode, int dpi, const QString& folder,
                         bool untilPaper = false)
{
    // All pages in one job while CUPS only takes them; to paper a job each, for cups-pdf
    // stops at the second document of a job.
    const QString print = untilPaper ? QStringLiteral("for page in p*.tif; do lp -d %1 $page; done")
                                     : QStringLiteral("lp -d %1 p*.tif");
    const QString command =
        QStringLiteral("cd '%1' && rm -f p*.tif && scanimage -d %2 --source 'Automatic Document "
                       "Feeder' --format=tiff --mode %3 --resolution %4 -l 0 -t 0 -x 210 -y 297 "
                       "--batch=%5 2>/dev/null; %6 >/dev/null")
            .arg(folder, Device,
                 mode == QLatin1String("colour") ? QStringLiteral("Color") : QStringLiteral("Gray"),
                 QString::number(dpi), QStringLiteral("p%02d.tif"), print.arg(Printer));
    QProcess shell;
    shell.setProcessChannelMode(QProcess::ForwardedChannels);
    QElapsedTimer t;
    t.start();
    const double started = wallClock();
    shell.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    if (!shell.waitForFinished(120000) || shell.exitCode() != 0)
        throw std::runtime_error("the feeder pipeline failed");
    if (untilPaper) {
        waitForPaper(Printer);
        return lastByteAt(Printer) - started;
    }
    return double(t.nsecsElapsed()) / 1e9;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

QString spread(std::vector<double> v, const char* format = "%.2f–%.2f")
{
    std::sort(v.begin(), v.end());
    return QString::asprintf(format, v.front(), v.back());
}

// The newest job of a printer: the one just made.
int newestJob(const QString& printer)
{
    cups_job_t* jobs = nullptr;
    const int n =
        cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer.toUtf8().constData(), 0, CUPS_WHICHJOBS_ALL);
    int newest = 0;
    for (int i = 0; i < n; ++i)
        newest = std::max(newest, jobs[i].id);
    cupsFreeJobs(n, jobs);
    return newest;
}

// How long each filter and the backend of a job ran, in seconds, from the test cupsd's log
// (LogLevel debug, times in microseconds): "[Job 7] Started filter /…/pdftopdf (PID 12)" …
// "[Job 7] PID 12 (/…/pdftopdf) exited with no errors.". They run at once, as a pipe.
std::map<std::string, double> filterTimes(int job)
{
    std::map<std::string, double> took;
    QFile log(QFileInfo(qEnvironmentVariable("CUPS_SERVER"))
                  .dir()
                  .filePath(QStringLiteral("log/error_log")));
    if (!log.open(QIODevice::ReadOnly))
        return took;
    const QRegularExpression line(QStringLiteral(
        R"(\[[^:]+:(\d+):(\d+):([\d.]+) [^\]]*\] \[Job (\d+)\] (?:Started (?:filter|backend) \S*/(\S+) \(PID (\d+)\)|PID (\d+) \(\S*/([^)/]+)\) exited))"));
    std::map<QString, double> started; // by PID
    const QString wanted = QString::number(job);
    for (const QByteArray& raw : log.readAll().split('\n')) {
        const auto m = line.match(QString::fromUtf8(raw));
        if (!m.hasMatch() || m.captured(4) != wanted)
            continue;
        const double at =
            m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble();
        if (!m.captured(6).isEmpty())
            started[m.captured(6)] = at;
        else if (started.count(m.captured(7)))
            took[m.captured(8).toStdString()] = at - started[m.captured(7)];
    }
    return took;
}

// Press → paper (the job completed) for Kopyra and for the shell's pipeline waiting for its
// job, on each printer, and where the print system spends the time after it took the job.
int runPaper(int runs, const QStringList& printers)
{
    QTemporaryDir scratch;
    QTextStream out(stdout);
    out << "## From the press to the printer: Kopyra against `scanimage | lp`, until the job is "
           "completed\n\nThe queue runs: a job is completed when the printer has its last byte "
           "(cups-pdf: the PDF file is written; the driverless printer: ippeveprinter has the "
           "PWG raster). "
        << runs
        << " runs each, in turn, median (range), from the press (or the pipeline's start) to the "
           "time of the printer's file. *Filters* are the programs CUPS ran for the "
           "job after taking it and how long each ran (median; they run at once, as a pipe; "
           "the backend waits for the printer to finish).\n\n"
           "| Printer | Page | Kopyra | Pipeline | Ratio | Kopyra's filters | Pipeline's "
           "filters |\n|---|---|---:|---:|---:|---|---|\n";
    out.flush();
    const std::vector<std::pair<QString, int>> configs = {{QStringLiteral("colour"), 300},
                                                          {QStringLiteral("grey"), 300},
                                                          {QStringLiteral("lineart"), 300},
                                                          {QStringLiteral("colour"), 600}};
    for (const QString& printer : printers) {
        for (const auto& [mode, dpi] : configs) {
            std::vector<double> ours, theirs;
            std::map<std::string, std::vector<double>> ourFilters, theirFilters;
            auto noteFilters = [&printer](std::map<std::string, std::vector<double>>& into) {
                for (const auto& [filter, seconds] : filterTimes(newestJob(printer)))
                    into[filter].push_back(seconds);
            };
            for (int run = 0; run < runs; ++run) {
                const QString home = scratch.filePath(QStringLiteral("paper%1").arg(run));
                emptyQueue(printer);
                ours.push_back(
                    runRole({QStringLiteral("paper-copy"), mode, QString::number(dpi), printer},
                            home)["paper"]);
                noteFilters(ourFilters);
                theirs.push_back(runPipeline(mode, dpi, scratch.path(), printer, true));
                noteFilters(theirFilters);
            }
            auto filters = [](std::map<std::string, std::vector<double>>& all) {
                QStringList parts;
                for (auto& [filter, seconds] : all)
                    parts << QStringLiteral("%1 %2")
                                 .arg(QString::fromStdString(filter))
                                 .arg(median(seconds), 0, 'f', 2);
                return parts.join(QStringLiteral(", "));
            };
            out << QStringLiteral(
                       "| %1 | %2 dpi %3 | %4 s (%5) | %6 s (%7) | **%8** | %9 | %10 |\n")
                       .arg(printer)
                       .arg(dpi)
                       .arg(mode == QLatin1String("lineart") ? QStringLiteral("line art") : mode)
                       .arg(median(ours), 0, 'f', 2)
                       .arg(spread(ours))
                       .arg(median(theirs), 0, 'f', 2)
                       .arg(spread(theirs))
                       .arg(median(ours) / median(theirs), 0, 'f', 2)
                       .arg(filters(ourFilters), filters(theirFilters));
            out.flush();
        }
    }
    return 0;
}

// The slowed feeder's ten pages as a shell user copies them: scanimage --batch, then a job a
// page. The scanner's time alone, and when the first and the last sheet were on paper.
struct Timings {
    double scanned = 0, first = 0, last = 0;
};
Timings runSlowFeederPipeline(const QString& mode, int dpi, const QString& folder, bool glass)
{
    const QString command =
        QStringLiteral("cd '%1' && rm -f p*.tif && scanimage -d %2 --format=tiff --mode %3 "
                       "--resolution %4 -l 0 -t 0 -x 210 -y 297 --read-limit=yes "
                       "--read-limit-size=16384 --read-delay=yes --read-delay-duration=7500 %5 "
                       "2>/dev/null")
            .arg(folder, Device,
                 mode == QLatin1String("colour") ? QStringLiteral("Color") : QStringLiteral("Gray"),
                 QString::number(dpi),
                 glass ? QStringLiteral("> p01.tif")
                       : QStringLiteral("--source 'Automatic Document Feeder' --batch=p%02d.tif"));
    const double started = wallClock();
    if (QProcess::execute(QStringLiteral("sh"), {QStringLiteral("-c"), command}) != 0)
        throw std::runtime_error("scanimage --batch failed");
    Timings t;
    t.scanned = wallClock() - started;
    QProcess::execute(QStringLiteral("sh"),
                      {QStringLiteral("-c"),
                       QStringLiteral("cd '%1' && for page in p*.tif; do lp -d %2 $page; done "
                                      ">/dev/null")
                           .arg(folder, Printer)});
    waitForPaper(Printer);
    t.first = firstFileAt(Printer, started) - started;
    t.last = lastByteAt(Printer) - started;
    return t;
}

// The first sheet on paper while the feeder still scans: Kopyra's copy of the slowed feeder's
// ten pages against the scanner alone and the shell's pipeline, in turn.
int runFirstSheet(int runs)
{
    QTemporaryDir scratch;
    QTextStream out(stdout);
    out << "## The first sheet while the feeder still scans\n\nSANE's test scanner's feeder "
           "slowed to about a second a page at 150 dpi (read-limit-size 16384, "
           "read-delay-duration 7500 µs: the backend waits after each 16 KB), ten A4 pages onto "
           "the cups-pdf queue; "
        << runs
        << " runs each, in turn, median (range). *Scanner*: `scanimage --batch` of the stack "
           "alone. From the press (the pipeline: its start) until cups-pdf has written the first "
           "and the last sheet; the pipeline prints a job a page once the batch is scanned.\n\n"
           "| Stack | Order | Scanner: a page / the stack | First sheet: Kopyra | Pipeline | "
           "Last sheet: Kopyra | Pipeline |\n|---|---|---:|---:|---:|---:|---:|\n";
    out.flush();
    struct Case {
        int dpi;
        const char* order;
        int copies;
        bool collate;
        int perSheet;
        bool glass = false; // one page from the glass: Kopyra's work after its last row
    };
    for (const Case& c :
         {Case{150, "one copy", 1, true, 1}, Case{300, "one copy", 1, true, 1},
          Case{150, "3 copies, not sorted", 3, false, 1}, Case{150, "2 copies, sorted", 2, true, 1},
          Case{150, "2 on a sheet", 1, true, 2},
          Case{150, "one page, the glass", 1, true, 1, true}}) {
        const int pages = c.glass ? 1 : 10;
        std::vector<double> page, stack, ourFirst, theirFirst, ourLast, theirLast;
        for (int run = 0; run < runs; ++run) {
            emptyQueue();
            const Figures copy =
                runRole({QStringLiteral("first-sheet-copy"), QString::number(c.dpi),
                         QString::number(c.copies), QString::number(int(c.collate)),
                         QString::number(c.perSheet), QString::number(int(c.glass))},
                        scratch.filePath(QStringLiteral("first%1").arg(run)));
            ourFirst.push_back(copy.at("first"));
            ourLast.push_back(copy.at("paper"));
            emptyQueue();
            const Timings theirs =
                runSlowFeederPipeline(QStringLiteral("grey"), c.dpi, scratch.path(), c.glass);
            stack.push_back(theirs.scanned);
            page.push_back(theirs.scanned / pages);
            theirFirst.push_back(theirs.first);
            theirLast.push_back(theirs.last);
        }
        out << QStringLiteral("| %13 × %1 dpi grey | %2 | %3 / %4 s | **%5 s** (%6) | %7 s (%8) | "
                              "**%9 s** (%10) | %11 s (%12) |\n")
                   .arg(c.dpi)
                   .arg(QString::fromLatin1(c.order))
                   .arg(median(page), 0, 'f', 2)
                   .arg(median(stack), 0, 'f', 1)
                   .arg(median(ourFirst), 0, 'f', 2)
                   .arg(spread(ourFirst))
                   .arg(median(theirFirst), 0, 'f', 2)
                   .arg(spread(theirFirst))
                   .arg(median(ourLast), 0, 'f', 2)
                   .arg(spread(ourLast))
                   .arg(median(theirLast), 0, 'f', 2)
                   .arg(spread(theirLast))
                   .arg(pages);
        out.flush();
    }
    return 0;
}

// Ten pages from the feeder in one press, against scanimage --batch and lp of the pages: until
// CUPS has the job (queue stopped) and until the printer has the last page (queue running).
int runFeeder(int runs, const QString& onlyMode, int onlyDpi)
{
    QTemporaryDir scratch;
    QTextStream out(stdout);
    out << "## Ten pages from the feeder against `scanimage --batch` and `lp` of the pages\n\n"
           "SANE's test scanner's feeder (ten A4 sheets) on the cups-pdf queue; "
        << runs
        << " runs each, in turn, median (range). *Accepted*: until CUPS has taken the job (the "
           "queue stopped); Kopyra hands over finished PostScript, the pipeline TIFF files that "
           "CUPS converts afterwards. *On paper*: the queue running, until cups-pdf has written "
           "the last page. Peak memory is the program's growth over its size before the "
           "press: for one page; for the ten, once copied and once the view has paged through "
           "them; and the ten's against one page's pixels. The pause is the longest gap in the "
           "event loop while the view pages through the stack, a page every 100 ms.\n\n"
           "| Stack | A page | Accepted: Kopyra | Pipeline | Ratio | On paper: Kopyra | "
           "Pipeline | Ratio | Peak growth: 1 page / 10 copied / 10 paged | ÷ a page | Pause "
           "paging |\n|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    out.flush();
    for (const auto& [mode, dpi] :
         std::vector<std::pair<QString, int>>{{QStringLiteral("grey"), 150},
                                              {QStringLiteral("grey"), 300},
                                              {QStringLiteral("colour"), 150},
                                              {QStringLiteral("colour"), 300}}) {
        if (!onlyMode.isEmpty() && (mode != onlyMode || dpi != onlyDpi))
            continue;
        std::vector<double> ours, theirs, oursOnPaper, theirsOnPaper, onePage, copied, growth,
            pause;
        const QString resolution = QString::number(dpi);
        for (int run = 0; run < runs; ++run) {
            const QString home = scratch.filePath(QStringLiteral("feeder%1").arg(run));
            {
                const StoppedPrinter stopped;
                emptyQueue();
                Figures copy =
                    runRole({QStringLiteral("copy"), mode, resolution, QStringLiteral("100"),
                             QStringLiteral("0"), QStringLiteral("feeder")},
                            home);
                ours.push_back(copy["total"]);
                copied.push_back(copy["peakCopy"] - copy["peakBefore"]);
                growth.push_back(copy["peak"] - copy["peakBefore"]);
                pause.push_back(copy["gapPaging"]);
                emptyQueue();
                Figures one = runRole({QStringLiteral("copy"), mode, resolution}, home);
                onePage.push_back(one["peak"] - one["peakBefore"]);
                emptyQueue();
                theirs.push_back(runFeederPipeline(mode, dpi, scratch.path()));
                emptyQueue();
            }
            oursOnPaper.push_back(runRole(
                {QStringLiteral("paper-copy"), mode, resolution, Printer, QStringLiteral("feeder")},
                home)["paper"]);
            theirsOnPaper.push_back(runFeederPipeline(mode, dpi, scratch.path(), true));
        }
        const double page = rawPageMb(mode, dpi);
        out << QStringLiteral(
                   "| 10 × %1 dpi %2 | %3 MB | %4 s (%5) | %6 s (%7) | **%8** | %9 s "
                   "(%10) | %11 s (%12) | **%13** | %14 / %15 / %16 MB | %17 | %18 ms |\n")
                   .arg(dpi)
                   .arg(mode)
                   .arg(page, 0, 'f', 1)
                   .arg(median(ours), 0, 'f', 2)
                   .arg(spread(ours))
                   .arg(median(theirs), 0, 'f', 2)
                   .arg(spread(theirs))
                   .arg(median(ours) / median(theirs), 0, 'f', 2)
                   .arg(median(oursOnPaper), 0, 'f', 2)
                   .arg(spread(oursOnPaper))
                   .arg(median(theirsOnPaper), 0, 'f', 2)
                   .arg(spread(theirsOnPaper))
                   .arg(median(oursOnPaper) / median(theirsOnPaper), 0, 'f', 2)
                   .arg(median(onePage), 0, 'f', 0)
                   .arg(median(copied), 0, 'f', 0)
                   .arg(median(growth), 0, 'f', 0)
                   .arg(median(growth) / page, 0, 'f', 2)
                   .arg(median(pause), 0, 'f', 0);
        out.flush();
    }
    return 0;
}

// The feeder's ten pages two on a sheet against one on a sheet, in turn: until CUPS has the
// job (queue stopped) and until cups-pdf has written the last sheet.
int runTwoUp(int runs)
{
    QTemporaryDir scratch;
    QTextStream out(stdout);
    out << "## Ten pages from the feeder, two on a sheet against one on a sheet\n\n"
           "The cups-pdf queue; "
        << runs
        << " runs each, in turn, median (range): *accepted* with the queue stopped, *on paper* "
           "until cups-pdf has written the last sheet (five sheets against ten).\n\n"
           "| Stack | Accepted: 1 a sheet | 2 a sheet | Ratio | On paper: 1 a sheet | 2 a sheet "
           "| Ratio |\n|---|---:|---:|---:|---:|---:|---:|\n";
    out.flush();
    for (const auto& [mode, dpi] : std::vector<std::pair<QString, int>>{
             {QStringLiteral("grey"), 150}, {QStringLiteral("colour"), 300}}) {
        std::vector<double> one, two, oneOnPaper, twoOnPaper;
        const QString resolution = QString::number(dpi);
        for (int run = 0; run < runs; ++run) {
            const QString home = scratch.filePath(QStringLiteral("twoup%1").arg(run));
            for (const bool twoUp : {false, true}) {
                const QString stack =
                    twoUp ? QStringLiteral("feeder-2up") : QStringLiteral("feeder");
                {
                    const StoppedPrinter stopped;
                    emptyQueue();
                    (twoUp ? two : one)
                        .push_back(runRole({QStringLiteral("copy"), mode, resolution,
                                            QStringLiteral("100"), QStringLiteral("0"), stack},
                                           home)["total"]);
                    emptyQueue();
                }
                (twoUp ? twoOnPaper : oneOnPaper)
                    .push_back(
                        runRole({QStringLiteral("paper-copy"), mode, resolution, Printer, stack},
                                home)["paper"]);
            }
        }
        out << QStringLiteral("| 10 × %1 dpi %2 | %3 s (%4) | %5 s (%6) | **%7** | %8 s (%9) | "
                              "%10 s (%11) | **%12** |\n")
                   .arg(dpi)
                   .arg(mode)
                   .arg(median(one), 0, 'f', 2)
                   .arg(spread(one))
                   .arg(median(two), 0, 'f', 2)
                   .arg(spread(two))
                   .arg(median(two) / median(one), 0, 'f', 2)
                   .arg(median(oneOnPaper), 0, 'f', 2)
                   .arg(spread(oneOnPaper))
                   .arg(median(twoOnPaper), 0, 'f', 2)
                   .arg(spread(twoOnPaper))
                   .arg(median(twoOnPaper) / median(oneOnPaper), 0, 'f', 2);
        out.flush();
    }
    return 0;
}

int runAll(int runs)
{
    const StoppedPrinter stopped;
    QTemporaryDir scratch;
    QTextStream out(stdout);
    out << "## Copy overhead against `scanimage --format=tiff > page.tif && lp page.tif`\n\n"
           "A4 from SANE's test scanner to a job accepted by a cups-pdf queue; "
        << runs
        << " runs each, in turn, median (range). *Device* is a bare read loop that throws the "
           "pixels away; *overhead* is each pipeline's time minus the device's median.\n\n"
           "| Page | Raw | Device | Kopyra | Pipeline | Kopyra overhead | Pipeline overhead "
           "| Ratio | Kopyra steps: scan / show / print |\n"
           "|---|---:|---:|---:|---:|---:|---:|---:|---|\n";
    out.flush();

    struct Config {
        QString mode;
        int dpi;
    };
    const std::vector<Config> configs = {{QStringLiteral("colour"), 150},
                                         {QStringLiteral("colour"), 300},
                                         {QStringLiteral("colour"), 600},
                                         {QStringLiteral("grey"), 300},
                                         {QStringLiteral("lineart"), 300}};
    std::map<int, Figures> colourCopies; // one copy's figures per colour resolution
    for (const Config& config : configs) {
        std::vector<double> bare, ours, pipeline, scan, show, print;
        const QStringList role = {config.mode, QString::number(config.dpi)};
        for (int run = 0; run < runs; ++run) {
            const QString home = scratch.filePath(QStringLiteral("home%1").arg(run));
            bare.push_back(runRole(QStringList{QStringLiteral("bare")} + role, home)["bare"]);
            emptyQueue();
            Figures copy = runRole(QStringList{QStringLiteral("copy")} + role, home);
            ours.push_back(copy["total"]);
            scan.push_back(copy["scan"]);
            show.push_back(copy["show"]);
            print.push_back(copy["print"]);
            if (config.mode == QLatin1String("colour"))
                colourCopies[config.dpi] = copy;
            emptyQueue();
            pipeline.push_back(runPipeline(config.mode, config.dpi, scratch.path()));
            emptyQueue();
        }
        const double device = median(bare);
        const double ourOverhead = median(ours) - device;
        const double theirOverhead = median(pipeline) - device;
        out << QStringLiteral("| %1 dpi %2 | %3 MB | %4 s (%5) | %6 s (%7) | %8 s (%9) | %10 s "
                              "| %11 s | **%12** | %13 / %14 / %15 s |\n")
                   .arg(config.dpi)
                   .arg(config.mode == QLatin1String("colour") ? QStringLiteral("colour")
                        : config.mode == QLatin1String("grey") ? QStringLiteral("grey")
                                                               : QStringLiteral("line art"))
                   .arg(rawPageMb(config.mode, config.dpi), 0, 'f', 1)
                   .arg(device, 0, 'f', 2)
                   .arg(spread(bare))
                   .arg(median(ours), 0, 'f', 2)
                   .arg(spread(ours))
                   .arg(median(pipeline), 0, 'f', 2)
                   .arg(spread(pipeline))
                   .arg(ourOverhead, 0, 'f', 2)
                   .arg(theirOverhead, 0, 'f', 2)
                   .arg(ourOverhead / theirOverhead, 0, 'f', 2)
                   .arg(median(scan), 0, 'f', 2)
                   .arg(median(show), 0, 'f', 2)
                   .arg(median(print), 0, 'f', 2);
        out.flush();
    }

    // A 1200 dpi colour copy, for memory: one run is enough.
    colourCopies[1200] =
        runRole({QStringLiteral("copy"), QStringLiteral("colour"), QStringLiteral("1200")},
                scratch.filePath(QStringLiteral("home1200")));
    emptyQueue();
    out << "\n## Peak memory of a whole copy (colour A4)\n\n"
           "Resident memory of the copying process at its peak, and before the copy button was "
           "pressed (the window shown, nothing scanned).\n\n"
           "| Page | Raw page | Before the copy | Peak | Peak ÷ raw |\n|---|---:|---:|---:|---:|\n";
    for (int dpi : {300, 600, 1200}) {
        Figures& copy = colourCopies[dpi];
        const double raw = rawPageMb(QStringLiteral("colour"), dpi);
        out << QStringLiteral("| %1 dpi | %2 MB | %3 MB | %4 MB | **%5** |\n")
                   .arg(dpi)
                   .arg(raw, 0, 'f', 0)
                   .arg(copy["peakBefore"], 0, 'f', 0)
                   .arg(copy["peak"], 0, 'f', 0)
                   .arg(copy["peak"] / raw, 0, 'f', 2);
    }

    Figures slow = runRole({QStringLiteral("slow")}, scratch.filePath(QStringLiteral("homeslow")));
    emptyQueue();
    out << "\n## Longest gap in the event loop (10 ms heartbeat)\n\n"
           "| During | Step took | Longest gap |\n|---|---:|---:|\n";
    struct Row {
        const char* during;
        Figures& copy;
        std::string step, gap;
    };
    const Row rows[] = {
        {"a slow scan (300 dpi grey, read-delay 20 ms a chunk)", slow, "scan", "gapScan"},
        {"scanning 600 dpi colour", colourCopies[600], "scan", "gapScan"},
        {"showing the 600 dpi colour page", colourCopies[600], "show", "gapShow"},
        {"printing the 600 dpi colour page", colourCopies[600], "print", "gapPrint"},
        {"showing the 1200 dpi colour page", colourCopies[1200], "show", "gapShow"},
        {"printing the 1200 dpi colour page", colourCopies[1200], "print", "gapPrint"}};
    for (const Row& row : rows)
        out << QStringLiteral("| %1 | %2 s | **%3 ms** |\n")
                   .arg(QString::fromUtf8(row.during))
                   .arg(row.copy[row.step], 0, 'f', 2)
                   .arg(row.copy[row.gap], 0, 'f', 0);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    benchClock().start();
    KopyraApplication app(argc, argv);
    installGermanTranslations(app);
    const QStringList args = app.arguments().mid(1);
    const QString role = args.value(0);
    try {
        if (role == QLatin1String("bare"))
            return runBare(args.value(1), args.value(2).toInt());
        if (role == QLatin1String("copy")) {
            Controls controls;
            controls.zoom = args.value(3, QStringLiteral("100")).toInt();
            controls.tone = args.value(4).toInt();
            controls.feeder = args.value(5).startsWith(QLatin1String("feeder"));
            controls.perSheet = args.value(5) == QLatin1String("feeder-2up") ? 2 : 1;
            return runCopy(args.value(1), args.value(2).toInt(), {}, controls);
        }
        if (role == QLatin1String("paper-copy")) {
            Controls controls;
            controls.printer = args.value(3);
            controls.untilPaper = true;
            controls.feeder = args.value(4).startsWith(QLatin1String("feeder"));
            controls.perSheet = args.value(4) == QLatin1String("feeder-2up") ? 2 : 1;
            return runCopy(args.value(1), args.value(2).toInt(), {}, controls);
        }
        if (role == QLatin1String("first-sheet-copy")) {
            Controls controls;
            controls.untilPaper = true;
            controls.copies = args.value(2).toInt();
            controls.collate = args.value(3).toInt() != 0;
            controls.perSheet = args.value(4).toInt();
            controls.feeder = args.value(5).toInt() == 0;
            return runCopy(QStringLiteral("grey"), args.value(1).toInt(), SlowFeeder, controls);
        }
        if (role == QLatin1String("first-sheet"))
            return runFirstSheet(args.value(1, QStringLiteral("3")).toInt());
        if (role == QLatin1String("two-up"))
            return runTwoUp(args.value(1, QStringLiteral("3")).toInt());
        if (role == QLatin1String("paper"))
            return runPaper(args.value(1, QStringLiteral("5")).toInt(), args.mid(2));
        if (role == QLatin1String("feeder"))
            return runFeeder(args.value(1, QStringLiteral("3")).toInt(), args.value(2),
                             args.value(3).toInt());
        if (role == QLatin1String("slow"))
            return runCopy(QStringLiteral("grey"), 300,
                           {{QStringLiteral("read-delay"), true},
                            {QStringLiteral("read-delay-duration"), 20000}});
        return runAll(role.isEmpty() ? 5 : role.toInt());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_copy: %s\n", e.what());
        return 1;
    }
}
