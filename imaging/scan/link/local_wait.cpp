#include "imaging/scan/link/local_wait.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>

#include <exception>
#include <memory>

namespace imaging {

void waitFor(const std::function<void(std::function<void()>)>& dispatch,
             const std::function<void()>& work)
{
    struct Outcome {
        bool done = false;
        std::exception_ptr failure;
    };
    auto outcome = std::make_shared<Outcome>();
    QEventLoop loop;
    QPointer<QEventLoop> waiting(&loop);
    dispatch([&work, outcome, waiting] {
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
    });
    while (!outcome->done)
        loop.exec();
    if (outcome->failure)
        std::rethrow_exception(outcome->failure);
}

} // namespace imaging
