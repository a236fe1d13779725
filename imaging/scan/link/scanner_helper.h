#pragma once

#include "imaging/scan/wire/wire.h"

#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <sys/types.h>

namespace imaging::scanner {

// Shared between the scanner thread, which waits for the helper's rows, and the
// user-interface thread, which shows the progress and may cancel; plain atomics, polled by a
// timer, never a signal per read.
struct ScanProgress {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{-1};   // -1: the height is not known
    std::atomic<int> page{1};        // of the feeder's stack; done and total are this page's
    std::atomic<bool> feeder{false}; // the whole stack is being scanned
    std::atomic<bool> cancelled{false};
    // From the feeder: told on the scanner thread each time a page of the stack is complete,
    // with the pages complete so far and the file they are in while the scan goes on. Where it
    // is set, a stack that fails or is cancelled after a page keeps its complete pages: the
    // page file holds them.
    std::function<void(int pages, const QString& file)> pagesIn;
    int pagesComplete = 0; // scanner thread
};

// The scanner helper process (kopyra-scanner), which owns SANE: started on first use, started
// afresh after it crashed or was ended for not answering. Every member runs on the scanner
// thread, except killNow().
class ScannerHelper {
public:
    static ScannerHelper& instance();

    // Asks the helper and returns its answer's fields. Throws DispatchError when the helper
    // reports a failure, crashes, or does not answer within the patience given.
    QByteArray ask(const QByteArray& question, std::chrono::milliseconds patience);
    // Scans one page into the page file: the rows go from the helper straight into a
    // temporary file of Kopyra's, which takes the page's place only when complete. False:
    // cancelled, at once; the helper gets a while to end the scan before the next question,
    // and is ended if it takes longer.
    bool scan(const QString& pagePath, const sane::Treatment& treatment, ScanProgress& progress);

    // Starts the helper now when none runs, so that the first question need not wait for it
    // and SANE's start; a failure to start is told to the question that meets it.
    void prepare();

    // Counts the helpers started: a device opened in an earlier one is open no more.
    int generation() const { return m_generation; }
    // Whether this helper has opened a device: its backends may hold connections from then.
    void deviceOpened() { m_openedIn = m_generation; }
    bool hasOpenedDevice() const { return m_pid >= 0 && m_openedIn == m_generation; }
    // Whether a helper runs (as far as it has been heard of).
    bool running() const { return m_pid >= 0; }
    // The device the helper has open, for messages.
    void setDeviceName(const QString& name) { m_deviceName = name; }

    // Asks the helper to end, ending it after a grace if it does not.
    void stop();
    // Whether the helper ended since it was last asked (killed, crashed while idle): it is
    // then let go, and the next question starts a new one.
    bool endedMeanwhile();
    // Ends the helper at once, from any thread (the end of the program).
    static void killNow();

    // Patience with the helper: answers to questions on options, the device list and opening
    // (network backends look for their scanners for a while), a scan's first data (a lamp may
    // warm up) and the data after that. KOPYRA_SCANNER_PATIENCE_MS overrides them all.
    static std::chrono::milliseconds optionPatience();
    static std::chrono::milliseconds searchPatience();

private:
    ScannerHelper() = default;
    void start();
    // Ends the helper (at once, or after a grace to end itself); says how it ended.
    QString end(bool kill);
    // Lets go of the helper that has ended.
    void forget();
    // Waits for a cancelled scan's end in the helper.
    void drain();
    [[noreturn]] void failed(wire::Channel::Status status, std::chrono::milliseconds patience);

    wire::Channel m_channel;
    pid_t m_pid = -1;
    int m_generation = 0;
    int m_openedIn = -1; // the generation that opened a device last
    QString m_deviceName;
    bool m_draining = false;
    std::chrono::steady_clock::time_point m_drainUntil;
};

} // namespace imaging::scanner
