#include "imaging/scan/link/scanner_thread.h"

#include "imaging/scan/link/local_wait.h"
#include "imaging/scan/link/scanner_helper.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

namespace imaging::scanner {

namespace {
ScannerThread* g_instance = nullptr;
// Enough for the helper to end its backends when asked, or to be ended.
constexpr int EndMs = 6000;
} // namespace

ScannerThread& ScannerThread::instance()
{
    if (!g_instance) {
        g_instance = new ScannerThread;
        qAddPostRoutine(&ScannerThread::shutdown);
    }
    return *g_instance;
}

ScannerThread::ScannerThread()
    : m_thread(new QThread)
{
    m_thread->setObjectName(QStringLiteral("Scanner"));
    m_worker = new QObject;
    m_worker->moveToThread(m_thread);
    QObject::connect(m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread->start();
}

ScannerThread::~ScannerThread()
{
    post([thread = m_thread] {
        ScannerHelper::instance().stop();
        thread->quit();
    });
    // Still waiting for the helper (a network scanner's long search, say): ending the helper
    // ends that wait.
    if (!m_thread->wait(QDeadlineTimer(EndMs))) {
        ScannerHelper::killNow();
        m_thread->wait(QDeadlineTimer(EndMs));
    }
    delete m_thread;
}

void ScannerThread::shutdown()
{
    delete g_instance;
    g_instance = nullptr;
}

bool ScannerThread::started() { return g_instance != nullptr; }

bool ScannerThread::isCurrent() const { return QThread::currentThread() == m_thread; }

void ScannerThread::post(std::function<void()> work)
{
    // Nobody waits for the work: a failure of it (the helper gone meanwhile) is only logged.
    QMetaObject::invokeMethod(
        m_worker,
        [work = std::move(work)] {
            try {
                work();
            } catch (const std::exception& e) {
                qWarning("Kopyra: %s", e.what());
            }
        },
        Qt::QueuedConnection);
}

void ScannerThread::callVoid(const std::function<void()>& work)
{
    if (isCurrent())
        work();
    else
        waitFor([this](std::function<void()> job) { post(std::move(job)); }, work);
}

} // namespace imaging::scanner
