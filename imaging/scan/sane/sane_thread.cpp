#include "imaging/scan/sane/sane_thread.h"

#include "imaging/scan/sane/local_wait.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <sane/sane.h>

#include <cstdio>
#include <cstdlib>

namespace imaging::sane {

namespace {
SaneThread* g_instance = nullptr;
int g_exitStatus = 0;
} // namespace

SaneThread& SaneThread::instance()
{
    if (!g_instance) {
        g_instance = new SaneThread;
        qAddPostRoutine(&SaneThread::shutdown);
    }
    return *g_instance;
}

SaneThread::SaneThread()
    : m_thread(new QThread)
{
    m_thread->setObjectName(QStringLiteral("SANE"));
    m_worker = new QObject;
    m_worker->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
    post([] {
        SANE_Int version = 0;
        sane_init(&version, nullptr);
    });
}

SaneThread::~SaneThread()
{
    // The thread ends its loop itself once SANE has ended: told to quit from here, it could
    // leave with sane_exit still queued, and the backends would then be unloaded by the
    // process's own end, where nothing waits for them with patience.
    post([thread = m_thread] {
        sane_exit();
        thread->quit();
    });
    // A backend that hangs in its exit must not keep the program from ending: after a few
    // seconds the thread is left to the end of the process.
    if (m_thread->wait(QDeadlineTimer(5000))) {
        delete m_thread;
    } else {
        qWarning("Kopyra: SANE did not finish in time; ending without it.");
        // What holds SANE up may hold the C library's loader lock as well (seen: a backend's
        // reader thread cancelled inside the dynamic loader, sane_exit then waiting in
        // dlclose). The usual end of the process would wait for that lock for ever, so the
        // process ends here; Kopyra's own files are written by now.
        std::fflush(nullptr);
        std::_Exit(g_exitStatus);
    }
}

void SaneThread::setExitStatus(int status) { g_exitStatus = status; }

void SaneThread::shutdown()
{
    delete g_instance;
    g_instance = nullptr;
}

bool SaneThread::started() { return g_instance != nullptr; }

bool SaneThread::isCurrent() const { return QThread::currentThread() == m_thread; }

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
