#include "imaging/background_work.h"

#include "imaging/local_wait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <thread>

namespace imaging {

namespace {

// The wait the user sees when the work takes longer than a moment.
void setUpBusy(QProgressDialog& busy)
{
    busy.setWindowTitle(QStringLiteral("Kopyra"));
    busy.setWindowModality(Qt::ApplicationModal);
    busy.setMinimumDuration(400);
    busy.setValue(0);
}

} // namespace

void runInBackground(const QString& label, QWidget* parent, const std::function<void()>& work)
{
    QProgressDialog busy(label, QString(), 0, 0, parent);
    setUpBusy(busy);
    std::unique_ptr<QThread> thread;
    waitFor(
        [&thread](std::function<void()> job) {
            thread.reset(QThread::create(std::move(job)));
            thread->start();
        },
        work);
    thread->wait();
}

bool runInBackgroundFor(const QString& label, QWidget* parent, std::function<void()> work,
                        int patienceMs)
{
    auto done = std::make_shared<std::atomic_bool>(false);
    std::thread([work = std::move(work), done] {
        work();
        *done = true;
    }).detach();
    QProgressDialog busy(label, QString(), 0, 0, parent);
    setUpBusy(busy);
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (*done || clock.elapsed() >= patienceMs)
            loop.quit();
    });
    poll.start(10);
    loop.exec();
    return *done;
}

} // namespace imaging
