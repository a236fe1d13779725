// kopyra-scanner: the one process of Kopyra that loads SANE. Its backends are code from
// outside the project; when one crashes or hangs, it takes this helper along, never the
// window. Kopyra starts it on the first use of a scanner and talks to it over descriptor 3
// (see wire.h); it ends when Kopyra asks it to or goes away.
#include "dispatch/dispatch_error.h"
#include "imaging/page_file/page_writer.h"
#include "imaging/scan/sane/sane_device.h"
#include "imaging/scan/sane/sane_errors.h"
#include "imaging/scan/sane/scan_job.h"
#include "imaging/scan/setup/scan_setup.h"
#include "imaging/scan/wire/wire.h"

#include <sane/sane.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <mutex>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace imaging;
using namespace imaging::sane;
using namespace std::chrono_literals;
using wire::Answer;
using wire::Ask;

namespace {

// How often at most the scan's progress is told: enough for the bar and for Kopyra's
// watchdog, which takes a progress message as a sign of life.
constexpr auto ProgressStep = 50ms;
constexpr int KopyraDescriptor = 3;

// How long a scan may go without data before the helper looks whether the scanner's network
// connection is still there.
constexpr auto QuietBeforeLooking = 1s;

// Whether the connection the scan reads from has been closed by the other end (saned gone)
// with nothing left in it to read: SANE's net backend then waits for ever instead of failing,
// and only its socket tells. The backend's other connections (to every saned it searched)
// are none of the scan's business: another host's saned restarting does not end this scan.
bool dataConnectionClosed(int fd)
{
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISSOCK(info.st_mode))
        return false;
    int domain = 0;
    socklen_t length = sizeof domain;
    if (::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0 ||
        (domain != AF_INET && domain != AF_INET6))
        return false;
    pollfd watch{fd, POLLRDHUP, 0};
    if (::poll(&watch, 1, 0) != 1 || !(watch.revents & (POLLRDHUP | POLLHUP | POLLERR)))
        return false;
    int unread = 0;
    return ::ioctl(fd, FIONREAD, &unread) == 0 && unread == 0;
}

[[noreturn]] void leave()
{
    // Whatever a backend still holds, the helper is done; its end must not wait for it.
    std::_Exit(EXIT_SUCCESS);
}

class Helper {
public:
    explicit Helper(int fd)
        : m_channel(fd)
    {
    }

    [[noreturn]] void serve()
    {
        for (;;) {
            QByteArray body;
            int fd = -1;
            if (m_next.isEmpty()) {
                if (m_channel.receive(body, -1ms, &fd) != wire::Channel::Status::Message)
                    leave();
            } else {
                body.swap(m_next);
            }
            QDataStream in(body);
            qint32 kind = 0;
            in >> kind;
            try {
                answer(static_cast<Ask>(kind), in, fd);
            } catch (const DispatchError& e) {
                send(wire::message(Answer::Failed, qint32(e.number()), e.description()));
            }
            if (fd >= 0)
                ::close(fd);
        }
    }

private:
    void send(const QByteArray& body)
    {
        if (!m_channel.send(body))
            leave();
    }

    template <class... Fields> void done(const Fields&... fields)
    {
        send(wire::message(Answer::Done, fields...));
    }

    void answer(Ask ask, QDataStream& in, int fd)
    {
        QString name;
        qint32 index = 0;
        QVariant value;
        switch (ask) {
        case Ask::ListDevices:
            return done(listDevices());
        case Ask::Open:
            in >> name;
            m_device.open(name);
            return done();
        case Ask::Close:
            m_device.close();
            return done();
        case Ask::Options:
            return done(m_device.options());
        case Ask::Find:
            in >> name;
            return done(qint32(m_device.find(name)));
        case Ask::Option:
            in >> index;
            return done(m_device.option(index));
        case Ask::Value:
            in >> index;
            return done(m_device.value(index));
        case Ask::SetValue:
            in >> index >> value;
            return done(m_device.setValue(index, value));
        case Ask::Press:
            in >> index;
            return done(m_device.press(index));
        case Ask::SetAutomatic:
            in >> index;
            return done(m_device.setAutomatic(index));
        case Ask::SetByName:
            in >> name >> value;
            return done(m_device.setByName(name, value));
        case Ask::SetUp: {
            ScanPreferences preferences;
            QVariantMap remembered;
            in >> preferences >> remembered;
            return done(setUp(m_device, preferences, remembered));
        }
        case Ask::Scan: {
            Treatment treatment;
            in >> name >> treatment;
            return scan(name, treatment, fd);
        }
        case Ask::Cancel: // a scan that has ended already
            return;
        case Ask::Quit:
            m_device.close();
            sane_exit();
            leave();
        }
    }

    // Scans on a thread of its own, so that a cancel from Kopyra is heard meanwhile. The
    // outcome is told once the scan has ended and, after a cancel, once the backend's cancel
    // has returned: a backend that never returns from it leaves Kopyra without an answer,
    // and Kopyra ends this helper.
    void scan(const QString& page, const Treatment& treatment, int fd)
    {
        if (fd < 0)
            throw DispatchError(ErrorNumber::PageFileFailed,
                                QStringLiteral("Kopyra hat keine Datei für die Seite übergeben."),
                                scanProgId());
        // Never a scan on a handle this helper did not open: SANE takes it on trust.
        if (!m_device.isOpen())
            throw DispatchError(ErrorNumber::NoScanner,
                                QStringLiteral("Der Scanner ist nicht geöffnet."), scanProgId());
        ScanProgress progress;
        std::atomic<bool> finished{false};
        std::mutex turn;    // whether the outcome is told by the scan or after the cancel
        bool told = false;  // the scan has told its outcome
        QByteArray outcome; // what is left to tell after a cancel
        std::thread cancelling;
        const SANE_Handle handle = m_device.handle();
        std::thread scanning([&] {
            QByteArray result;
            try {
                PageWriter writer(page, fd);
                auto last = std::chrono::steady_clock::now() - ProgressStep;
                const bool completed = scanPage(
                    m_device, writer, treatment, progress,
                    [&] {
                        const auto now = std::chrono::steady_clock::now();
                        if (now - last < ProgressStep)
                            return;
                        last = now;
                        send(wire::message(Answer::Progress, qint32(progress.page),
                                           qint64(progress.done), qint64(progress.total)));
                    },
                    [&](int pages) { send(wire::message(Answer::PageDone, qint32(pages))); });
                result = wire::message(Answer::Done, completed);
            } catch (const DispatchError& e) {
                result = wire::message(Answer::Failed, qint32(e.number()), e.description());
            }
            const std::lock_guard<std::mutex> lock(turn);
            if (cancelling.joinable()) {
                outcome = result;
            } else {
                send(result);
                told = true;
            }
            finished = true;
        });
        // Other network backends (eSCL's HTTP, say) may keep connections the scanner closed
        // while idle: only SANE's net backend is judged by its sockets.
        const bool throughSaned = m_device.name().startsWith(QLatin1String("net:"));
        qint64 doneBefore = -1;
        auto quietSince = std::chrono::steady_clock::now();
        while (!finished) {
            QByteArray body;
            const auto status = m_channel.receive(body, 100ms);
            if (status == wire::Channel::Status::Closed)
                leave();
            if (status == wire::Channel::Status::Timeout) {
                const auto now = std::chrono::steady_clock::now();
                if (progress.done != doneBefore) {
                    doneBefore = progress.done;
                    quietSince = now;
                } else if (throughSaned && now - quietSince >= QuietBeforeLooking &&
                           dataConnectionClosed(progress.dataFd)) {
                    // The backend would wait for ever; this helper goes with it, after saying
                    // why, and Kopyra starts a fresh one for the next scan.
                    const std::lock_guard<std::mutex> lock(turn);
                    if (!finished && !told) {
                        send(wire::message(
                            Answer::Failed, qint32(ErrorNumber::ScannerConnectionLost),
                            QStringLiteral("Die Verbindung zum Scanner ist abgebrochen. Bitte "
                                           "prüfen Sie, ob er eingeschaltet und im Netzwerk "
                                           "erreichbar ist, und versuchen Sie es noch einmal.")));
                        leave();
                    }
                }
            }
            if (status != wire::Channel::Status::Message)
                continue;
            QDataStream in(body);
            qint32 kind = 0;
            in >> kind;
            if (static_cast<Ask>(kind) != Ask::Cancel) {
                // Kopyra has the scan's outcome already and asks the next question.
                m_next = body;
                break;
            }
            const std::lock_guard<std::mutex> lock(turn);
            if (!told && !progress.cancelled.exchange(true))
                cancelling = std::thread([&progress, handle] { cancelScan(progress, handle); });
        }
        scanning.join();
        if (cancelling.joinable())
            cancelling.join();
        if (!told)
            send(outcome);
    }

    wire::Channel m_channel;
    Device m_device;
    QByteArray m_next; // a question that came while a scan was ending
};

} // namespace

int main(int argc, char** argv)
{
    // Kopyra names itself: the helper goes with the thread that started it, and at once if
    // Kopyra has gone before this line.
    if (argc > 1) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != std::atoi(argv[1]))
            return EXIT_SUCCESS;
    }
    // The C locale, whatever the user's: backends read and write numbers with the C library.
    std::signal(SIGPIPE, SIG_IGN);
    SANE_Int version = 0;
    sane_init(&version, nullptr);
    Helper(KopyraDescriptor).serve();
}
