#include "main_window/single_instance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QTimer>

#include <unistd.h>

#include <utility>

namespace {

constexpr int PatienceMs = 3000; // for a running Kopyra to take the request

// Whether a running Kopyra took the request.
bool tell(const QString& path, const QByteArray& request)
{
    QLocalSocket socket;
    socket.connectToServer(path);
    if (!socket.waitForConnected(PatienceMs))
        return false;
    socket.write(request + '\n');
    if (!socket.waitForBytesWritten(PatienceMs))
        return false;
    // The running one answers once it has the request in hand.
    return socket.waitForReadyRead(PatienceMs) && socket.readLine().trimmed() == "ok";
}

} // namespace

SingleInstance::SingleInstance(const QString& programFolder, const QString& settingsFile)
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    const QByteArray who = QCryptographicHash::hash(
        (QDir(programFolder).absolutePath() + QLatin1Char('\n') + settingsFile).toUtf8(),
        QCryptographicHash::Sha256);
    m_path = QStringLiteral("%1/kopyra-%2-%3.sock")
                 .arg(folder)
                 .arg(::getuid())
                 .arg(QString::fromLatin1(who.toHex().left(16)));
}

SingleInstance::~SingleInstance() = default;

void SingleInstance::onRequest(std::function<void(const QByteArray&)> handler)
{
    m_handler = std::move(handler);
    for (const QByteArray& request : std::exchange(m_early, {}))
        QTimer::singleShot(0, this, [this, request] { m_handler(request); });
}

bool SingleInstance::handOver(const QByteArray& request)
{
    // Two started at once: one of them listens, the other finds it the second time.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (tell(m_path, request))
            return true;
        if (listen())
            return false;
    }
    // Neither a Kopyra to tell nor a socket of its own: this one runs on its own.
    return false;
}

bool SingleInstance::listen()
{
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(m_path)) {
        // A socket left by a Kopyra that ended without removing it: nobody answered on it.
        if (server->serverError() != QAbstractSocket::AddressInUseError) {
            delete server;
            return false;
        }
        QLocalSocket probe;
        probe.connectToServer(m_path);
        if (probe.waitForConnected(500)) {
            delete server;
            return false; // someone answers after all: tell them
        }
        QLocalServer::removeServer(m_path);
        if (!server->listen(m_path)) {
            delete server;
            return false;
        }
    }
    m_server = server;
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine())
                    return;
                const QByteArray request = socket->readLine().trimmed();
                socket->write("ok\n");
                socket->flush();
                socket->disconnectFromServer();
                // A copy runs its own waits: not inside this socket's signal.
                QTimer::singleShot(0, this, [this, request] {
                    if (m_handler)
                        m_handler(request);
                    else
                        m_early << request;
                });
            });
        }
    });
    return true;
}
