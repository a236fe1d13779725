#include "imaging/page_file/growing_stack.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <chrono>
#include <unistd.h>

namespace imaging {

namespace {

std::mutex registryMutex;
QHash<QString, std::weak_ptr<GrowingStack>>& registry()
{
    static QHash<QString, std::weak_ptr<GrowingStack>> stacks;
    return stacks;
}

QString key(const QString& pageFile) { return QFileInfo(pageFile).absoluteFilePath(); }

// The folder of a stack that a Kopyra that ended meanwhile left (its pages are in the page file,
// or were never whole): one copy runs at a time.
QString removeLeftStacks(const QString& pageFile)
{
    const QDir beside = QFileInfo(pageFile).absoluteDir();
    for (const QString& left : beside.entryList({QStringLiteral("Kopyra-Stapel-*")}, QDir::Dirs))
        QDir(beside.filePath(left)).removeRecursively();
    return beside.filePath(QStringLiteral("Kopyra-Stapel-XXXXXX"));
}

} // namespace

GrowingStack::GrowingStack(const QString& pageFile)
    : m_pageFile(pageFile)
    , m_folder(removeLeftStacks(pageFile))
{
}

GrowingStack::~GrowingStack()
{
    const std::lock_guard lock(registryMutex);
    const auto found = registry().constFind(key(m_pageFile));
    if (found != registry().cend() && found->expired())
        registry().erase(found);
}

std::shared_ptr<GrowingStack> GrowingStack::of(const QString& pageFile)
{
    const std::lock_guard lock(registryMutex);
    std::shared_ptr<GrowingStack> stack = registry().value(key(pageFile)).lock();
    return stack && !stack->state().ended ? stack : nullptr;
}

void GrowingStack::publish(const std::shared_ptr<GrowingStack>& stack)
{
    const std::lock_guard lock(registryMutex);
    registry().insert(key(stack->m_pageFile), stack);
}

void GrowingStack::pagesIn(int pages, const QString& writtenFile)
{
    const std::lock_guard lock(m_mutex);
    if (m_link.isEmpty()) {
        // A second name for the file being written: it stays when the file is renamed to the
        // page file, or removed after a failure.
        const QString link = m_folder.filePath(QStringLiteral("stapel.tif"));
        if (!m_folder.isValid() || writtenFile.isEmpty() ||
            ::link(QFile::encodeName(writtenFile).constData(),
                   QFile::encodeName(link).constData()) != 0)
            return;
        m_link = link;
    }
    m_state.pages = std::max(m_state.pages, pages);
    m_changed.notify_all();
}

void GrowingStack::end(bool completed, std::exception_ptr failure)
{
    const std::lock_guard lock(m_mutex);
    m_state.ended = true;
    m_state.completed = completed && !failure;
    m_state.failed = std::move(failure);
    m_cancel = nullptr;
    m_changed.notify_all();
}

void GrowingStack::onCancel(std::function<void()> cancel)
{
    const std::lock_guard lock(m_mutex);
    m_cancel = std::move(cancel);
}

GrowingStack::State GrowingStack::state() const
{
    const std::lock_guard lock(m_mutex);
    return m_state;
}

GrowingStack::State GrowingStack::waitFor(int pages, const std::atomic_bool* abandon) const
{
    std::unique_lock lock(m_mutex);
    // The flag is looked at now and then: whoever sets it need not know of this wait.
    while (m_state.pages < pages && !m_state.ended && !(abandon && *abandon))
        m_changed.wait_for(lock, std::chrono::milliseconds(50));
    return m_state;
}

QString GrowingStack::file() const
{
    const std::lock_guard lock(m_mutex);
    // Before the first page is in, what stands at the page file's path.
    return m_link.isEmpty() ? m_pageFile : m_link;
}

void GrowingStack::cancel()
{
    std::function<void()> cancel;
    {
        const std::lock_guard lock(m_mutex);
        cancel = m_cancel;
    }
    if (cancel)
        cancel();
}

} // namespace imaging
