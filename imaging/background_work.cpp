#include "imaging/background_work.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <QProgressDialog>
#include <QThread>

#include <exception>
#include <memory>

namespace imaging {

void runInBackground(const QString& label, QWidget* parent, const std::function<void()>& work)
{
    struct Outcome {
        bool done = false;
        std::exception_ptr failure;
    };
    auto outcome = std::make_shared<Outcome>();
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    std::unique_ptr<QThread> thread(QThread::create([&work, outcome, waiting] {
        try {
            work();
        } catch (...) {
            outcome->failure = std::current_exception();
        }
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [outcome, waiting] {
                outcome->done = true;
                if (waiting)
                    waiting->quit();
            },
            Qt::QueuedConnection);
    }));
    QProgressDialog busy(label, QString(), 0, 0, parent);
    busy.setWindowTitle(QStringLiteral("Kopyra"));
    busy.setWindowModality(Qt::ApplicationModal);
    busy.setMinimumDuration(400);
    busy.setValue(0);
    thread->start();
    while (!outcome->done)
        loop.exec();
    thread->wait();
    if (outcome->failure)
        std::rethrow_exception(outcome->failure);
}

} // namespace imaging
