// How long Kopyra takes from the start of its process to the first paint of the main window,
// with SANE's test scanner, with SANE's network backend pointed at a port on this machine
// that takes connections and never answers (device lists would hang there; start-up must
// not), and with a page left from the last copy, which start-up shows: the window first, the
// page once it has been read.
//
// Without arguments it starts itself again as "child" several times per configuration and
// writes a Markdown table. The child starts the way the program does and reports the moment
// its window has been painted for the first time, and the moment the page is on it.
#include "imaging/edit/img_edit.h"
#include "main_window/form1.h"
#include "old_page.h"
#include "support/german_ui.h"
#include "support/kopyra_application.h"
#include "support/module1.h"

#include <QDir>
#include <QEvent>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <vector>

namespace {

// Monotonic time in ms: the same clock in every process of the machine.
double monotonicMs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

class FirstPaint : public QObject {
public:
    FirstPaint(const imaging::ImgEdit* edit, bool pageLeft)
        : m_edit(edit)
        , m_pageLeft(pageLeft)
    {
    }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && !m_seen) {
            m_seen = true;
            // Reported once the paint is done and the event loop is back.
            QTimer::singleShot(0, this, [this] {
                std::printf("painted=%.3f\n", monotonicMs());
                std::fflush(stdout);
                waitForPage();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void waitForPage()
    {
        if (!m_pageLeft || !m_edit || m_edit->hasPage()) {
            std::printf("shown=%.3f\n", monotonicMs());
            std::fflush(stdout);
            QCoreApplication::quit();
            return;
        }
        QTimer::singleShot(2, this, [this] { waitForPage(); });
    }

    const imaging::ImgEdit* m_edit;
    bool m_pageLeft;
    bool m_seen = false;
};

int runChild(int argc, char** argv)
{
    KopyraApplication app(argc, argv);
    installGermanTranslations(app);
    auto form = std::make_unique<Form1>();
    form->Form_Load();
    FirstPaint watch(dynamic_cast<const imaging::ImgEdit*>(&form->imgEdit1()),
                     QFile::exists(Module1::PageFilePath));
    form->installEventFilter(&watch);
    form->show();
    return app.exec();
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Start to first paint and to the page shown (without a page: the same), in ms.
struct Start {
    double painted = -1;
    double shown = -1;
};

Start oneStart(const QString& saneConfig, const QString& home)
{
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SANE_CONFIG_DIR"), saneConfig);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), home + QStringLiteral("/cache"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    const double started = monotonicMs();
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("child")});
    Start times;
    if (!child.waitForFinished(60000) || child.exitCode() != 0) {
        child.kill();
        return times;
    }
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        if (line.startsWith("painted="))
            times.painted = line.mid(8).toDouble() - started;
        else if (line.startsWith("shown="))
            times.shown = line.mid(6).toDouble() - started;
    }
    return times;
}

int runAll(int runs)
{
    QTemporaryDir scratch;
    // SANE's network backend, asking a port that accepts and never answers.
    const QString net = scratch.filePath(QStringLiteral("sane-net"));
    QDir().mkpath(net);
    {
        QFile dll(net + QStringLiteral("/dll.conf"));
        QFile conf(net + QStringLiteral("/net.conf"));
        if (!dll.open(QIODevice::WriteOnly) || !conf.open(QIODevice::WriteOnly))
            return 1;
        dll.write("net\n");
        conf.write("connect_timeout = 120\n127.0.0.1\n");
    }
    QTcpServer silent; // never accepts: the connections wait in its backlog
    const bool listening = silent.listen(QHostAddress::LocalHost, 6566);

    const QString local = qEnvironmentVariable("SANE_CONFIG_DIR");
    struct Config {
        QString name;
        QString dir;
        int leftoverDpi = 0; // a colour A4 page left from the last copy, shown at start
    };
    std::vector<Config> configs = {{QStringLiteral("SANE's test scanner"), local}};
    if (listening)
        configs.push_back({QStringLiteral("network backend on a port that never answers"), net});
    configs.push_back({QStringLiteral("test scanner, last page 300 dpi colour"), local, 300});
    configs.push_back({QStringLiteral("test scanner, last page 1200 dpi colour"), local, 1200});

    QTextStream out(stdout);
    out << "## Start-up: process start to the first paint of the main window\n\n"
        << runs << " starts each after one to warm the file cache, median (range); platform "
        << QStringLiteral("\"%1\"").arg(qEnvironmentVariable(
               "QT_QPA_PLATFORM",
               qEnvironmentVariableIsSet("DISPLAY") ? QStringLiteral("xcb") : QStringLiteral("?")))
        << ".\n\n| SANE configuration | First paint | Page shown |\n|---|---:|---:|\n";
    const auto figure = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return QStringLiteral("**%1 ms** (%2–%3)")
            .arg(median(v), 0, 'f', 0)
            .arg(v.front(), 0, 'f', 0)
            .arg(v.back(), 0, 'f', 0);
    };
    for (const Config& config : configs) {
        // The child's program folder is this one: the page file goes beside it.
        const QString leftover =
            QCoreApplication::applicationDirPath() + QStringLiteral("/Kopyra.tif");
        if (config.leftoverDpi > 0)
            writeOldColourPage(leftover, config.leftoverDpi);
        struct Remove {
            QString path;
            ~Remove()
            {
                if (!path.isEmpty())
                    QFile::remove(path);
            }
        } remove{config.leftoverDpi > 0 ? leftover : QString()};
        std::vector<double> painted, shown;
        for (int run = 0; run <= runs; ++run) {
            const QString home = scratch.filePath(QStringLiteral("home%1").arg(run));
            const Start start = oneStart(config.dir, home);
            if (start.painted < 0 || start.shown < 0) {
                out << "| " << config.name << " | no paint within 60 s | |\n";
                painted.clear();
                break;
            }
            if (run > 0) {
                painted.push_back(start.painted);
                shown.push_back(start.shown);
            }
        }
        if (painted.empty())
            continue;
        out << QStringLiteral("| %1 | %2 | %3 |\n")
                   .arg(config.name, figure(painted),
                        config.leftoverDpi > 0 ? figure(shown) : QStringLiteral("–"));
    }
    if (!listening) {
        out << "\nPort 6566 was taken: the network configuration was not measured.\n";
        return 0;
    }
    // That the configuration does hang a device list: scanimage -L with it.
    QProcess list;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("SANE_CONFIG_DIR"), net);
    list.setProcessEnvironment(environment);
    list.start(QStringLiteral("scanimage"), {QStringLiteral("-L")});
    const bool answered = list.waitForFinished(3000);
    list.kill();
    list.waitForFinished();
    out << "\nWith the network configuration, `scanimage -L` "
        << (answered ? "answered within 3 s" : "was still waiting after 3 s") << ".\n";
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1 && QByteArray(argv[1]) == "child")
        return runChild(argc, argv);
    QCoreApplication app(argc, argv);
    return runAll(argc > 1 ? std::atoi(argv[1]) : 10);
}
