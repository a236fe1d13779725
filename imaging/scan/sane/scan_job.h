#pragma once

#include <QString>

#include <sane/sane.h>

#include <atomic>
#include <functional>
#include <mutex>

namespace imaging {
class PageWriter;
}

namespace imaging::sane {

class Device;
struct Treatment;

// Shared between the helper's thread that scans and its main thread, which reports the
// progress and may cancel.
struct ScanProgress {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{-1}; // -1: the height is not known
    std::atomic<int> page{1};      // of the feeder's stack; done and total are this page's
    std::atomic<bool> cancelled{false};
    // The socket the page's data comes through, where the backend has one (SANE's net backend:
    // its data connection to saned); -1 otherwise.
    std::atomic<int> dataFd{-1};

    // A cancel from another thread and the scan's own end take turns: once the scan has
    // ended, the handle is no longer the scan's, and the device is not let go (closed, or
    // the next scan started) while such a cancel is still under way.
    std::mutex cancelTurn;
    bool ended = false;
};

// Cancels the scan from a thread other than the one that scans.
void cancelScan(ScanProgress& progress, SANE_Handle handle);

// Scans one page from the open device through the writer, rows written as they arrive; told
// after every read that brought data. Returns false when the scan was cancelled; throws
// DispatchError on any failure. The writer is committed only for a complete page. From the
// feeder, each page is complete in the file as soon as its last row is in, and pageDone is
// told how many are.
bool scanPage(Device& device, PageWriter& writer, const Treatment& treatment,
              ScanProgress& progress, const std::function<void()>& onData,
              const std::function<void(int)>& pageDone = {});

// The resolution the device really delivers, from the resolution options, checked against
// the scan area and the pixel count: a device that rounds its resolution silently would
// otherwise make the copy the wrong size.
double deliveredDpi(double reportedDpi, double areaMm, int pixels);

} // namespace imaging::sane
