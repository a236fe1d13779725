#pragma once

#include <QString>

#include <sane/sane.h>

#include <atomic>
#include <memory>
#include <mutex>

namespace imaging::sane {

class Device;

// Shared between the SANE thread that scans and the user-interface thread that shows the
// progress and may cancel; plain atomics, polled by a timer, never a signal per read.
struct ScanProgress {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{-1}; // -1: the height is not known
    std::atomic<bool> cancelled{false};

    // A cancel from another thread and the scan's own end take turns: once the scan has
    // ended, the handle is no longer the scan's, and the device is not let go (closed, or
    // the next scan started) while such a cancel is still under way.
    std::mutex cancelTurn;
    bool ended = false;
};

// Cancels the scan from any thread other than the SANE thread. A backend's cancel may wait
// for the device or for its reader thread, so this never runs on the user-interface thread
// either: cancelScanSoon() gives it a thread of its own.
void cancelScan(ScanProgress& progress, SANE_Handle handle);
void cancelScanSoon(const std::shared_ptr<ScanProgress>& progress,
                    const std::shared_ptr<Device>& device);

// Scans one page from the open device into the page file, rows written as they arrive.
// Runs on the SANE thread. Returns false when the scan was cancelled (the old page stays);
// throws DispatchError on any failure (the old page stays as well).
bool scanPage(Device& device, const QString& pagePath, ScanProgress& progress);

// The resolution the device really delivers, from the resolution options, checked against
// the scan area and the pixel count: a device that rounds its resolution silently would
// otherwise make the copy the wrong size.
double deliveredDpi(double reportedDpi, double areaMm, int pixels);

} // namespace imaging::sane
