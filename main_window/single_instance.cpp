#include "main_window/single_instance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

namespace {

// For the running Kopyra to answer: its window may still be being made, or its thread busy.
constexpr int PatienceMs = 10000;

// A folder that is the user's own, a real folder (no link), and closed to everyone else.
bool ownAndClosed(const QString& folder)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::getuid() && (st.st_mode & 077) == 0;
}

} // namespace

QString privateFolder(QString* why, QString* refused)
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && ownAndClosed(runtime))
        return runtime;
    if (!runtime.isEmpty() && refused)
        *refused = QStringLiteral("Der Laufzeitordner „%1“ gehört nicht allein Ihnen (Besitzer, "
                                  "Rechte 0700); Kopyra verwendet ihn nicht.")
                       .arg(runtime);
    const QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString folder = cache + QStringLiteral("/kopyra");
    QDir().mkpath(cache);
    ::mkdir(QFile::encodeName(folder).constData(), 0700);
    if (ownAndClosed(folder))
        return folder;
    *why = QStringLiteral("Weder „%1“ noch „%2“ gehört allein Ihnen (Besitzer, Rechte 0700).")
               .arg(runtime.isEmpty() ? QStringLiteral("$XDG_RUNTIME_DIR") : runtime, folder);
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

SingleInstance::Outcome SingleInstance::handOver(const QByteArray& request)
{
    if (m_folder.isEmpty())
        return {Outcome::NotDone, m_why};
    QDeadlineTimer patience(PatienceMs);
    for (;;) {
        // The lock decides, atomically: who holds it is the Kopyra that runs. A crashed
        // Kopyra's lock is taken over, and its socket with it (listening replaces it).
        if (m_lock->tryLock(0)) {
            if (listen())
                return {};
            return {Outcome::NotDone,
                    QStringLiteral("Kopyra kann nicht auf weitere Starts hören (%1).")
                        .arg(m_server ? m_server->errorString() : m_path)};
        }
        if (m_lock->error() != QLockFile::LockFailedError)
            return {
                Outcome::NotDone,
                QStringLiteral("Die Sperrdatei in „%1“ lässt sich nicht anlegen.").arg(m_folder)};
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

void SingleInstance::onRequest(std::function<QString(const QByteArray&)> handler)
{
    m_handler = std::move(handler);
    for (auto& [socket, request] : std::exchange(m_early, {}))
        if (socket)
            answer(socket, request);
}

void SingleInstance::answer(QLocalSocket* socket, const QByteArray& request)
{
    const QString why = m_handler(request);
    socket->write(why.isEmpty() ? QByteArray("ok\n") : "nein " + why.toUtf8() + '\n');
    socket->flush();
    socket->disconnectFromServer();
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
