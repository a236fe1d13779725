#include "imaging/background_work.h"

#include "imaging/local_wait.h"

#include <QProgressDialog>
#include <QThread>

#include <memory>

namespace imaging {

void runInBackground(const QString& label, QWidget* parent, const std::function<void()>& work)
{
    QProgressDialog busy(label, QString(), 0, 0, parent);
    busy.setWindowTitle(QStringLiteral("Kopyra"));
    busy.setWindowModality(Qt::ApplicationModal);
    busy.setMinimumDuration(400);
    busy.setValue(0);
    std::unique_ptr<QThread> thread;
    waitFor(
        [&thread](std::function<void()> job) {
            thread.reset(QThread::create(std::move(job)));
            thread->start();
        },
        work);
    thread->wait();
}

} // namespace imaging
