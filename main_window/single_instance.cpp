#include "main_window/single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <utility>

namespace {

// For the running Kopyra to answer: its window may still be being made, or its thread busy.
constexpr int PatienceMs = 10000;

// Why a folder is not one of the user's own, closed to everyone else (0700); empty when it is.
// A link is judged by the folder it leads to.
QString notOwnAndClosed(const QString& folder)
{
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return QStringLiteral("fehlt (%1)").arg(QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISDIR(st.st_mode))
        return QStringLiteral("ist kein Ordner");
    if (st.st_uid != ::getuid())
        return QStringLiteral("gehört einem anderen Benutzer");
    if ((st.st_mode & 077) != 0)
        return QStringLiteral("ist auch für andere offen (Rechte %1, nötig sind 0700)")
            .arg(st.st_mode & 0777, 4, 8, QLatin1Char('0'));
    return {};
}

// The folder a path leads to, links followed.
QString resolved(const QString& folder)
{
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    return canonical.isEmpty() ? folder : canonical;
}

} // namespace

QString privateFolder(QString* why, QString* refused)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty()) {
        const QString cause = notOwnAndClosed(resolved(runtime));
        if (cause.isEmpty())
            return resolved(runtime);
        if (refused)
            *refused = QStringLiteral("Der Laufzeitordner „%1“ %2; Kopyra verwendet ihn nicht.")
                           .arg(runtime, cause);
    }
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString folder = cache + QStringLiteral("/kopyra");
    QDir().mkpath(cache);
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    const QString cause = notOwnAndClosed(resolved(folder));
    if (cause.isEmpty())
        return resolved(folder);
    *why = QStringLiteral("Der Ordner „%1“ %2.").arg(folder, cause);
    return {};
}

long peerUid(qintptr socketDescriptor)
{
    struct ucred peer {};
    socklen_t length = sizeof(peer);
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0)
        return -1;
    return long(peer.uid);
}

SingleInstance::SingleInstance(const QString& programFolder, const QString& settingsFile)
{
    QString refused;
    m_folder = privateFolder(&m_why, &refused);
    if (!refused.isEmpty())
        qWarning("Kopyra: %s", qPrintable(refused));
    const QByteArray who = QCryptographicHash::hash(
        (QDir(programFolder).absolutePath() + QLatin1Char('\n') + settingsFile).toUtf8(),
        QCryptographicHash::Sha256);
    const QString name = QStringLiteral("%1/kopyra-%2-%3")
                             .arg(m_folder)
                             .arg(::getuid())
                             .arg(QString::fromLatin1(who.toHex().left(16)));
    m_path = name + QStringLiteral(".sock");
    m_lock = std::make_unique<QLockFile>(name + QStringLiteral(".lock"));
    // A lock is stale only when its Kopyra is gone, however long one runs.
    m_lock->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() = default;

namespace {

enum class Told { Answered, NoOne, Stranger };

// Hands the request to the Kopyra listening at path: its answer, or why there is none.
Told tell(const QString& path, const QByteArray& request, QByteArray* answer)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(1000))
        return Told::NoOne;
    if (peerUid(socket.socketDescriptor()) != long(::getuid()))
        return Told::Stranger;
    socket.write(request + '\n');
    if (!socket.waitForBytesWritten(PatienceMs))
        return Told::NoOne;
    for (QDeadlineTimer patience(PatienceMs); !socket.canReadLine();)
        if (patience.hasExpired() || !socket.waitForReadyRead(int(patience.remainingTime())))
            return Told::NoOne;
    *answer = socket.readLine().trimmed();
    return Told::Answered;
}

} // namespace

namespace {

// The program a process runs, by its file's name ("" when it cannot be told).
QString programOf(qint64 pid)
{
    QString target = QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(pid));
    // A program replaced by an update while it runs.
    target.remove(QLatin1String(" (deleted)"));
    return QFileInfo(target).fileName();
}

} // namespace

bool SingleInstance::heldByOther() const
{
    qint64 pid = 0;
    QString host, app;
    if (!m_lock->getLockInfo(&pid, &host, &app) || pid <= 0)
        return false;
    // Another computer's process (a home shared over the network) cannot be looked at.
    if (!host.isEmpty() && host != QSysInfo::machineHostName())
        return false;
    return programOf(pid) != programOf(::getpid());
}

SingleInstance::Outcome SingleInstance::handOver(const QByteArray& request)
{
    const auto alone = [](const QString& why) {
        return Outcome{Outcome::Alone,
                       why + QStringLiteral(" Ein weiterer Start öffnet daher ein weiteres "
                                            "Kopyra-Fenster.")};
    };
    if (m_folder.isEmpty())
        return alone(m_why);
    // A local socket's path has room for so many bytes, its end included.
    if (QFile::encodeName(m_path).size() >= qsizetype(sizeof(sockaddr_un{}.sun_path)))
        return alone(
            QStringLiteral("Der Pfad „%1“ ist für eine lokale Verbindung zu lang.").arg(m_path));
    QDeadlineTimer patience(PatienceMs);
    // How long a lock file that says nothing may be one still being written.
    QDeadlineTimer unreadable(1000);
    for (;;) {
        // The lock decides, atomically: who holds it is the Kopyra that runs. A crashed
        // Kopyra's lock is taken over, and its socket with it (listening replaces it).
        if (m_lock->tryLock(0)) {
            if (listen())
                return {};
            const QString why = m_server->errorString();
            m_lock->unlock();
            return alone(
                QStringLiteral("Kopyra kann nicht auf weitere Starts hören (%1).").arg(why));
        }
        const QString lockPath = m_path.chopped(5) + QStringLiteral(".lock");
        if (m_lock->error() != QLockFile::LockFailedError)
            return alone(
                QStringLiteral("Die Sperrdatei „%1“ lässt sich nicht anlegen.").arg(lockPath));
        // Something stands where the lock belongs that is no lock (a folder, a file typed by
        // hand): left as it is.
        qint64 pid = 0;
        QString host, app;
        if (!m_lock->getLockInfo(&pid, &host, &app)) {
            if (!QFileInfo(lockPath).isFile() || unreadable.hasExpired())
                return alone(QStringLiteral("An der Stelle der Sperrdatei „%1“ steht etwas "
                                            "anderes.")
                                 .arg(lockPath));
            QThread::msleep(50);
            continue;
        }
        // A lock naming a process that is no Kopyra is no Kopyra's: taken over.
        if (heldByOther()) {
            m_lock->removeStaleLockFile();
            continue;
        }
        QByteArray answer;
        switch (tell(m_path, request, &answer)) {
        case Told::Answered:
            if (answer.startsWith("ok"))
                return {Outcome::Done, {}};
            return {Outcome::NotDone, QString::fromUtf8(answer.mid(answer.indexOf(' ') + 1))};
        case Told::Stranger:
            return {Outcome::NotDone,
                    QStringLiteral("Auf „%1“ antwortet ein anderer Benutzer; Kopyra bleibt "
                                   "dort fern.")
                        .arg(m_path)};
        case Told::NoOne:
            break;
        }
        // The running one is still starting (its lock is taken, its socket not yet there).
        if (patience.hasExpired())
            return {Outcome::NotDone, QStringLiteral("Kopyra läuft schon, antwortet aber nicht.")};
        QThread::msleep(100);
    }
}

void SingleInstance::onRequest(std::function<void(const QByteArray&, const Reply&)> handler)
{
    m_handler = std::move(handler);
    for (auto& [socket, request] : std::exchange(m_early, {}))
        if (socket)
            answer(socket, request);
}

void SingleInstance::answer(QLocalSocket* socket, const QByteArray& request)
{
    // The asker may have gone by the time the answer comes.
    const QPointer<QLocalSocket> asker(socket);
    m_handler(request, [asker](const QString& why) {
        if (!asker)
            return;
        asker->write(why.isEmpty() ? QByteArray("ok\n") : "nein " + why.toUtf8() + '\n');
        asker->flush();
        asker->disconnectFromServer();
    });
}

bool SingleInstance::listen()
{
    auto* server = new QLocalServer(this);
    // The folder is closed to others already; the socket too.
    server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server = server;
    if (!server->listen(m_path))
        return false;
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            if (peerUid(socket->socketDescriptor()) != long(::getuid())) {
                socket->abort();
                continue;
            }
            connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine())
                    return;
                const QByteArray request = socket->readLine().trimmed();
                if (m_handler)
                    answer(socket, request);
                else
                    m_early.append({socket, request});
            });
        }
    });
    return true;
}
