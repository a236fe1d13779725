#pragma once

#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>

namespace imaging {

// A feeder's stack whose first pages are complete while the scanner still feeds the rest: the
// scan tells each page as it is whole, the display shows the first and the print sends a
// sheet to the printer as soon as its pages are in. The pages are read, while the scan goes on
// and after it, through a link of the stack's own to the file being written (a folder
// "Kopyra-Stapel-…" beside the page file), which stays valid when that file takes the page
// file's place. Every member may be called from any thread.
class GrowingStack {
public:
    explicit GrowingStack(const QString& pageFile);
    ~GrowingStack();
    GrowingStack(const GrowingStack&) = delete;
    GrowingStack& operator=(const GrowingStack&) = delete;

    // The stack still growing for that page file, if any.
    static std::shared_ptr<GrowingStack> of(const QString& pageFile);
    // Makes the stack the one growing for its page file; withdrawn once it has ended.
    static void publish(const std::shared_ptr<GrowingStack>& stack);

    // The scan's side. The pages complete so far, in the file being written. Where the stack
    // cannot be read while it grows (no link can be made there), it counts none until it ends.
    void pagesIn(int pages, const QString& writtenFile);
    // The scan has ended: with the whole stack in the page file, cancelled, or failed (what it
    // threw); the complete pages stay readable.
    void end(bool completed, std::exception_ptr failure = {});
    // Asked of the scan by cancel(); set before the scan starts.
    void onCancel(std::function<void()> cancel);

    // The reading side.
    struct State {
        int pages = 0;             // complete so far
        bool ended = false;        // nothing more comes
        bool completed = false;    // ended with the whole stack
        std::exception_ptr failed; // ended with this failure
    };
    State state() const;
    // Waits until at least that many pages are in, or the stack has ended, or *abandon.
    State waitFor(int pages, const std::atomic_bool* abandon = nullptr) const;
    // Where the complete pages can be read.
    QString file() const;
    // Stops the scan: the pages complete until then are what the stack holds.
    void cancel();

private:
    const QString m_pageFile;
    QTemporaryDir m_folder;
    QString m_link;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    State m_state;
    std::function<void()> m_cancel;
};

} // namespace imaging
