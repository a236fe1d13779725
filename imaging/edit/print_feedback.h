#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

class QLabel;
class QWidget;

namespace imaging {

// Tells the user where a copy went, without stopping anything: a line over the bottom of the
// page's view that fades after a few seconds, and the desktop's notification where a
// notification service runs. A job handed to a printer is watched in CUPS while the program
// runs; a job that is stopped, cancelled or aborted there is told the same way, and so is a job
// still waiting after a while for a printer that has something to say (one switched off or
// gone from the network: CUPS keeps the job and tries again).
class PrintFeedback : public QObject {
public:
    explicit PrintFeedback(QObject* parent = nullptr);

    void setView(QWidget* view);
    // The note, if any, follows the line's own words. A copy may be several jobs (a stack
    // printed sheet by sheet while it was scanned): each is watched.
    void sentToPrinter(const QString& printer, const QList<int>& jobIds, int copies, int pages = 1,
                       const QString& note = QString());
    void savedAsPdf(const QString& file, const QString& note = QString());
    // Something the user should know before the copy is printed.
    void hint(const QString& text);

    // The line as it shows now; empty when none does.
    QString line() const;

    // How long the line stays before it fades, and how often CUPS is asked about the jobs.
    static constexpr int LineMs = 6000;
    static constexpr int FadeMs = 800;
    static constexpr int PollMs = 2000;
    // How long a job may wait for its printer before the user is told why it waits.
    void setPatienceMs(int ms) { m_patienceMs = ms; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Watched {
        QString printer;
        int id = 0;
        bool told = false; // a stop or the wait told already
        QElapsedTimer since;
    };
    void tell(const QString& text, const QString& folderLink = QString());
    void notify(const QString& text);
    void placeLine();
    void poll();

    QPointer<QWidget> m_view;
    QPointer<QLabel> m_line;
    QTimer m_fadeAfter;
    QTimer m_poll;
    QList<Watched> m_jobs;
    bool m_polling = false;
    int m_patienceMs = 30000;
};

} // namespace imaging
