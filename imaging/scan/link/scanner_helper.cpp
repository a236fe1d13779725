#include "imaging/scan/link/scanner_helper.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"
#include "imaging/page_file/page_writer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

Q_LOGGING_CATEGORY(lcHelper, "kopyra.scanner")

namespace imaging::scanner {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using wire::Answer;
using wire::Ask;

namespace {

constexpr auto OptionPatience = 30s;    // a question on options, or closing
constexpr auto SearchPatience = 60s;    // the device list and opening (network backends)
constexpr auto FirstDataPatience = 90s; // from the start of a scan: a lamp may warm up
constexpr auto DataPatience = 30s;      // after the last data of a scan
constexpr auto CancelGrace = 10s;       // for the helper to end a cancelled scan
constexpr auto QuitGrace = 2s;          // for the helper to end when asked
constexpr int HelperDescriptor = 3;     // where the helper finds its end of the socket

std::atomic<pid_t> g_running{-1}; // for killNow()

std::chrono::milliseconds patience(std::chrono::milliseconds usual)
{
    bool ok = false;
    const int override = qEnvironmentVariableIntValue("KOPYRA_SCANNER_PATIENCE_MS", &ok);
    return ok && override > 0 ? std::chrono::milliseconds(override) : usual;
}

QString helperPath()
{
    const QString named = qEnvironmentVariable("KOPYRA_SCANNER_HELPER");
    return named.isEmpty()
               ? QCoreApplication::applicationDirPath() + QStringLiteral("/kopyra-scanner")
               : named;
}

// Waits for the process to end, for up to the grace; false if it did not.
bool reap(pid_t pid, std::chrono::milliseconds grace, int* status)
{
    const auto until = Clock::now() + grace;
    for (;;) {
        const pid_t r = ::waitpid(pid, status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return true;
        if (Clock::now() >= until)
            return false;
        std::this_thread::sleep_for(10ms);
    }
}

QString howItEnded(int status)
{
    if (WIFSIGNALED(status))
        return QStringLiteral("signal %1").arg(WTERMSIG(status));
    if (WIFEXITED(status))
        return QStringLiteral("status %1").arg(WEXITSTATUS(status));
    return QStringLiteral("unknown");
}

[[noreturn]] void throwFailure(QDataStream& in)
{
    qint32 number = 0;
    QString description;
    in >> number >> description;
    throw DispatchError(number, description, scanProgId());
}

} // namespace

ScannerHelper& ScannerHelper::instance()
{
    static ScannerHelper helper;
    return helper;
}

std::chrono::milliseconds ScannerHelper::optionPatience() { return patience(OptionPatience); }

std::chrono::milliseconds ScannerHelper::searchPatience() { return patience(SearchPatience); }

void ScannerHelper::start()
{
    const QString path = helperPath();
    if (!QFileInfo(path).isExecutable())
        throw DispatchError(ErrorNumber::ScannerHelperMissing,
                            QStringLiteral("Das Scannerprogramm „%1“ fehlt oder lässt sich nicht "
                                           "starten. Bitte installieren Sie Kopyra neu.")
                                .arg(QDir::toNativeSeparators(path)),
                            scanProgId());
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        throw DispatchError(ErrorNumber::ScannerHelperMissing,
                            QStringLiteral("Das Scannerprogramm lässt sich nicht starten: %1")
                                .arg(systemErrorText(errno)),
                            scanProgId());
    const QByteArray program = QFile::encodeName(path);
    // The helper's end of the socket becomes its descriptor 3, the only one it inherits (a
    // duplicate onto itself would stay close-on-exec, so that end moves first). It ends with
    // the thread that started it (the scanner thread, which lives as long as Kopyra), and at
    // once if this process is gone by the time it runs: it is told which one to look for.
    // posix_spawn, not fork: Kopyra's page tables are not copied for a process that only
    // starts another program (0.7 ms of the first scan).
    int helperEnd = ends[1];
    if (helperEnd == HelperDescriptor)
        helperEnd = ::fcntl(ends[1], F_DUPFD_CLOEXEC, HelperDescriptor + 1);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_adddup2(&actions, helperEnd, HelperDescriptor);
    posix_spawnattr_t attributes;
    ::posix_spawnattr_init(&attributes);
    sigset_t none;
    ::sigemptyset(&none);
    ::posix_spawnattr_setsigmask(&attributes, &none);
    ::posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    char name[] = "kopyra-scanner";
    QByteArray parent = QByteArray::number(::getpid());
    char* const arguments[] = {name, parent.data(), nullptr};
    pid_t pid = -1;
    const int error = helperEnd < 0 ? errno
                                    : ::posix_spawn(&pid, program.constData(), &actions,
                                                    &attributes, arguments, environ);
    ::posix_spawnattr_destroy(&attributes);
    ::posix_spawn_file_actions_destroy(&actions);
    ::close(ends[1]);
    if (helperEnd != ends[1] && helperEnd >= 0)
        ::close(helperEnd);
    if (error != 0) {
        ::close(ends[0]);
        throw DispatchError(ErrorNumber::ScannerHelperMissing,
                            QStringLiteral("Das Scannerprogramm lässt sich nicht starten: %1")
                                .arg(systemErrorText(error)),
                            scanProgId());
    }
    m_channel.reset(ends[0]);
    m_pid = pid;
    g_running = pid;
    ++m_generation;
}

QString ScannerHelper::end(bool kill)
{
    if (m_pid < 0)
        return QString();
    int status = 0;
    if (kill)
        ::kill(m_pid, SIGKILL);
    if (!reap(m_pid, QuitGrace, &status)) {
        ::kill(m_pid, SIGKILL);
        reap(m_pid, QuitGrace, &status);
    }
    forget();
    return howItEnded(status);
}

void ScannerHelper::forget()
{
    ::close(m_channel.fd());
    m_channel.reset(-1);
    m_pid = -1;
    g_running = -1;
    m_draining = false;
}

bool ScannerHelper::endedMeanwhile()
{
    int status = 0;
    if (m_pid < 0 || ::waitpid(m_pid, &status, WNOHANG) != m_pid)
        return false;
    qCWarning(lcHelper, "the scanner helper ended while idle (%s)", qPrintable(howItEnded(status)));
    forget();
    return true;
}

void ScannerHelper::stop()
{
    drain();
    if (m_pid < 0)
        return;
    // Given the time to end its backends, as SANE asks; ended if it takes longer.
    m_channel.send(wire::message(Ask::Quit));
    end(false);
}

void ScannerHelper::killNow()
{
    const pid_t pid = g_running;
    if (pid > 0)
        ::kill(pid, SIGKILL);
}

void ScannerHelper::failed(wire::Channel::Status status, std::chrono::milliseconds waited)
{
    const QString device = m_deviceName.isEmpty() ? QStringLiteral("bei der Suche nach Scannern")
                                                  : QStringLiteral("Gerät „%1“").arg(m_deviceName);
    if (status == wire::Channel::Status::Timeout) {
        qCWarning(lcHelper, "the scanner helper did not answer for %lld ms; ending it",
                  static_cast<long long>(waited.count()));
        end(true);
        throw DispatchError(
            ErrorNumber::ScannerNotAnswering,
            QStringLiteral("Der Scanner antwortet nicht mehr (%1, seit %2 Sekunden). Bitte "
                           "prüfen Sie, ob er eingeschaltet und erreichbar ist (Kabel, "
                           "Netzwerk), und versuchen Sie es noch einmal; die Verbindung wird "
                           "dabei neu aufgebaut.")
                .arg(device)
                .arg(std::chrono::duration_cast<std::chrono::seconds>(waited).count()),
            scanProgId());
    }
    const QString how = end(false);
    qCWarning(lcHelper, "the scanner helper ended unexpectedly (%s)", qPrintable(how));
    throw DispatchError(ErrorNumber::ScannerDriverCrashed,
                        QStringLiteral("Der Scannertreiber ist abgestürzt (%1). Beim nächsten "
                                       "Scan wird er neu gestartet; bitte versuchen Sie es noch "
                                       "einmal. Geschieht das wieder, prüfen Sie den Scanner "
                                       "oder wählen Sie unter „Scanner“ ein anderes Gerät.")
                            .arg(device),
                        scanProgId());
}

void ScannerHelper::prepare()
{
    if (m_pid >= 0)
        return;
    try {
        start();
    } catch (const DispatchError&) {
    }
}

QByteArray ScannerHelper::ask(const QByteArray& question, std::chrono::milliseconds waitFor)
{
    drain();
    if (m_pid < 0)
        start();
    if (!m_channel.send(question))
        failed(wire::Channel::Status::Closed, waitFor);
    QByteArray body;
    const auto status = m_channel.receive(body, waitFor);
    if (status != wire::Channel::Status::Message)
        failed(status, waitFor);
    QDataStream in(body);
    qint32 kind = 0;
    in >> kind;
    if (static_cast<Answer>(kind) == Answer::Failed)
        throwFailure(in);
    return body.mid(sizeof kind);
}

void ScannerHelper::drain()
{
    if (!m_draining)
        return;
    m_draining = false;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(m_drainUntil - Clock::now());
        QByteArray body;
        const auto status = m_channel.receive(body, std::max(left, 0ms));
        if (status != wire::Channel::Status::Message) {
            // A backend that does not end its scan when asked keeps the helper, never the
            // user: the helper goes, and the next question starts a new one.
            if (status == wire::Channel::Status::Timeout)
                qCWarning(lcHelper, "the scanner helper did not end a cancelled scan; ending it");
            end(true);
            return;
        }
        QDataStream in(body);
        qint32 kind = 0;
        in >> kind;
        if (static_cast<Answer>(kind) != Answer::Progress)
            return; // the cancelled scan's outcome
    }
}

bool ScannerHelper::scan(const QString& pagePath, const sane::Treatment& treatment,
                         ScanProgress& progress)
{
    drain();
    PageWriter writer(pagePath);
    const int fd = writer.openTemporary();
    if (m_pid < 0)
        start();
    if (!m_channel.send(wire::message(Ask::Scan, pagePath, treatment), fd))
        failed(wire::Channel::Status::Closed, 0ms);

    auto lastSign = Clock::now();
    bool data = false;
    // The pages of a stack that are complete, kept when the rest fails or is cancelled; the
    // page the helper was writing follows them in the file, where no reader looks for it.
    const auto keepCompletePages = [&] {
        if (progress.pagesIn && progress.pagesComplete > 0) {
            try {
                writer.commit();
            } catch (const DispatchError&) {
                // The scan's own failure is what the user is told.
            }
        }
    };
    for (;;) {
        if (progress.cancelled) {
            // The wait ends at once; the helper ends the scan meanwhile, and the next question
            // waits for that (drain).
            m_channel.send(wire::message(Ask::Cancel));
            m_draining = true;
            m_drainUntil = Clock::now() + patience(CancelGrace);
            keepCompletePages();
            return false;
        }
        QByteArray body;
        const auto status = m_channel.receive(body, 100ms);
        if (status == wire::Channel::Status::Closed) {
            keepCompletePages();
            failed(status, 0ms);
        }
        if (status == wire::Channel::Status::Timeout) {
            const auto waited = Clock::now() - lastSign;
            const auto allowed = patience(data ? DataPatience : FirstDataPatience);
            if (waited > allowed) {
                keepCompletePages();
                failed(status, std::chrono::duration_cast<std::chrono::milliseconds>(waited));
            }
            continue;
        }
        QDataStream in(body);
        qint32 kind = 0;
        in >> kind;
        switch (static_cast<Answer>(kind)) {
        case Answer::Progress: {
            qint32 page = 1;
            qint64 done = 0, total = -1;
            in >> page >> done >> total;
            progress.page = page;
            progress.total = total;
            progress.done = done;
            lastSign = Clock::now();
            data = true;
            break;
        }
        case Answer::PageDone: {
            qint32 pages = 0;
            in >> pages;
            progress.pagesComplete = pages;
            if (progress.pagesIn)
                progress.pagesIn(pages, writer.temporaryName());
            lastSign = Clock::now();
            break;
        }
        case Answer::Done: {
            bool completed = false;
            in >> completed;
            if (completed)
                writer.commit();
            return completed;
        }
        case Answer::Failed: {
            // A helper that has lost its scanner's connection has ended itself after saying
            // so: the next question starts a fresh one.
            qint32 number = 0;
            QString description;
            in >> number >> description;
            keepCompletePages();
            if (number == ErrorNumber::ScannerConnectionLost) {
                end(false);
                const QString device = m_deviceName.isEmpty()
                                           ? QString()
                                           : QStringLiteral(" (Gerät „%1“)").arg(m_deviceName);
                description.replace(QStringLiteral("Scanner ist abgebrochen."),
                                    QStringLiteral("Scanner ist abgebrochen%1.").arg(device));
            }
            throw DispatchError(number, description, scanProgId());
        }
        }
    }
}

} // namespace imaging::scanner
