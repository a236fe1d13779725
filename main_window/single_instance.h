#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

// One Kopyra per user and program folder: the page file beside the program is one, and two
// copies of Kopyra would delete and rescan each other's page. A second start hands its wish to
// the running one through a local socket in the user's runtime folder and ends: a plain start
// asks for the window to come forward, `kopyra --kopieren` for a copy.
class SingleInstance : public QObject {
public:
    static constexpr char Show[] = "zeigen";
    static constexpr char Copy[] = "kopieren";

    // The socket for the program in that folder with that settings file.
    SingleInstance(const QString& programFolder, const QString& settingsFile);
    ~SingleInstance() override;

    // Hands the request to a Kopyra that runs already: true when one took it. Otherwise this
    // one is the Kopyra that runs, and hears the next starts' requests from now on.
    bool handOver(const QByteArray& request);
    // What to do with a later start's request; those that came before are handed on now.
    void onRequest(std::function<void(const QByteArray&)> handler);

    QString socketPath() const { return m_path; }

private:
    bool listen();

    QString m_path;
    QLocalServer* m_server = nullptr;
    std::function<void(const QByteArray&)> m_handler;
    QList<QByteArray> m_early; // while the window was still being made
};
