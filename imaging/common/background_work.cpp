#include "imaging/common/background_work.h"

#include <QEventLoop>
#include <QFutureWatcher>
#include <QProgressDialog>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

namespace imaging {

namespace {

// A pool of the components' own: a task that never returns (a print server that does not
// answer) must neither hold up Qt's shared pool nor the program's end, so the pool is never
// waited for. Its threads end with their task: libcups keeps the print server and its
// connection per thread, and a task on a fresh thread finds the server as it is now.
QThreadPool& pool()
{
    static QThreadPool* const p = [] {
        auto* made = new QThreadPool;
        made->setMaxThreadCount(16);
        made->setExpiryTimeout(0);
        return made;
    }();
    return *p;
}

// The work with what it throws kept for the waiting side.
QFuture<std::exception_ptr> start(std::function<void()> work)
{
    return QtConcurrent::run(&pool(), [work = std::move(work)]() -> std::exception_ptr {
        try {
            work();
            return {};
        } catch (...) {
            return std::current_exception();
        }
    });
}

// The wait the user sees when the work takes longer than a moment.
void setUpBusy(QProgressDialog& busy)
{
    busy.setWindowTitle(QStringLiteral("Kopyra"));
    busy.setWindowModality(Qt::ApplicationModal);
    busy.setMinimumDuration(400);
    busy.setValue(0);
}

// Waits in a local event loop until the task is done or the patience is over (< 0: none).
bool wait(const QString& label, QWidget* parent, const QFuture<std::exception_ptr>& task,
          int patienceMs)
{
    QProgressDialog busy(label, QString(), 0, 0, parent);
    setUpBusy(busy);
    QEventLoop loop;
    QFutureWatcher<std::exception_ptr> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &loop, &QEventLoop::quit);
    QTimer patience;
    patience.setSingleShot(true);
    QObject::connect(&patience, &QTimer::timeout, &loop, &QEventLoop::quit);
    watcher.setFuture(task);
    if (patienceMs >= 0)
        patience.start(patienceMs);
    if (!task.isFinished())
        loop.exec();
    return task.isFinished();
}

} // namespace

void runInBackground(const QString& label, QWidget* parent, const std::function<void()>& work)
{
    const QFuture<std::exception_ptr> task = start([&work] { work(); });
    wait(label, parent, task, -1);
    if (const std::exception_ptr failure = task.result())
        std::rethrow_exception(failure);
}

bool runInBackgroundFor(const QString& label, QWidget* parent, std::function<void()> work,
                        int patienceMs)
{
    return wait(label, parent, start(std::move(work)), patienceMs);
}

void runThen(QObject* context, std::function<void()> work,
             std::function<void(std::exception_ptr failure)> done)
{
    // The watcher belongs to the context: gone with it, and the outcome with it.
    auto* watcher = new QFutureWatcher<std::exception_ptr>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context,
                     [watcher, done = std::move(done)] {
                         watcher->deleteLater();
                         done(watcher->result());
                     });
    watcher->setFuture(start(std::move(work)));
}

void waitForBackgroundWork() { pool().waitForDone(); }

} // namespace imaging
