#include "imaging/sane/sane_thread.h"

#include "imaging/local_wait.h"

#include <QCoreApplication>

#include <sane/sane.h>

namespace imaging::sane {

namespace {
SaneThread* g_instance = nullptr;
}

SaneThread& SaneThread::instance()
{
    if (!g_instance) {
        g_instance = new SaneThread;
        qAddPostRoutine(&SaneThread::shutdown);
    }
    return *g_instance;
}

SaneThread::SaneThread()
{
    m_thread.setObjectName(QStringLiteral("SANE"));
    m_worker = new QObject;
    m_worker->moveToThread(&m_thread);
    QObject::connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
    post([] {
        SANE_Int version = 0;
        sane_init(&version, nullptr);
    });
}

SaneThread::~SaneThread()
{
    post([] { sane_exit(); });
    m_thread.quit();
    m_thread.wait();
}

void SaneThread::shutdown()
{
    delete g_instance;
    g_instance = nullptr;
}

bool SaneThread::started() { return g_instance != nullptr; }

bool SaneThread::isCurrent() const { return QThread::currentThread() == &m_thread; }

void SaneThread::post(std::function<void()> work)
{
    QMetaObject::invokeMethod(m_worker, std::move(work), Qt::QueuedConnection);
}

void SaneThread::callVoid(const std::function<void()>& work)
{
    if (isCurrent())
        work();
    else
        waitFor([this](std::function<void()> job) { post(std::move(job)); }, work);
}

} // namespace imaging::sane
