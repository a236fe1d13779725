#pragma once

#include <QByteArray>
#include <QList>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

// One Kopyra per user and program folder: the page file beside the program is one, and two
// copies of Kopyra would delete and rescan each other's page. Which start is "the" Kopyra is
// decided by a lock file held for its life (a crashed Kopyra's lock is taken over); every other
// start hands its wish to it through a local socket beside the lock and ends: a plain start asks
// for the window to come forward, `kopyra --kopieren` for a copy. Both live in a folder that
// is the user's own and no one else's (the runtime folder, else one in the cache folder), and
// each side checks that the other is the same user. Where that cannot be decided (no such
// folder, a lock that cannot be made or is no lock, a socket that cannot listen), this start
// runs alone and says why: Kopyra always starts.
class SingleInstance : public QObject {
public:
    static constexpr char Show[] = "zeigen";
    static constexpr char Copy[] = "kopieren";

    // What became of a start's request.
    struct Outcome {
        enum Kind {
            Run,     // this start is the Kopyra that runs
            Done,    // the running one did what was asked
            NotDone, // the running one could not (why: its reason), or none could be told
            Alone,   // this start runs, but another could not find it (why: the reason)
        } kind = Run;
        QString why; // German, for NotDone and Alone
    };

    // The lock and socket for the program in that folder with that settings file.
    SingleInstance(const QString& programFolder, const QString& settingsFile);
    ~SingleInstance() override;

    // Becomes the Kopyra that runs, or hands the request to the one that does.
    Outcome handOver(const QByteArray& request);
    // What to do with a later start's request; the handler answers through the reply it is
    // given, at once or once done: empty when done, else why not (German). Those that came
    // while the window was being made are handed on now.
    using Reply = std::function<void(const QString&)>;
    void onRequest(std::function<void(const QByteArray&, const Reply&)> handler);

    QString socketPath() const { return m_path; }
    QString folder() const { return m_folder; }

private:
    bool listen();
    void answer(QLocalSocket* socket, const QByteArray& request);
    // Whether the lock names a process that is no Kopyra (a forged lock, or a pid taken by
    // another program since), on this computer.
    bool heldByOther() const;

    QString m_folder; // empty: no folder of the user's own
    QString m_why;    // why there is none
    QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    QLocalServer* m_server = nullptr;
    std::function<void(const QByteArray&, const Reply&)> m_handler;
    // Requests that came while the window was still being made, each with its asker.
    QList<std::pair<QPointer<QLocalSocket>, QByteArray>> m_early;
};

// The folder for the lock and the socket: the runtime folder when it is the user's own and
// closed to others (0700), else "kopyra" in the cache folder, made so (a link there is followed
// to the folder it leads to, which must be so). Empty, with the reason in German, when neither
// is safe. *refused says why a runtime folder that is set was not taken.
QString privateFolder(QString* why, QString* refused = nullptr);

// The user at the other end of a local socket; -1 when it cannot be told.
long peerUid(qintptr socketDescriptor);
