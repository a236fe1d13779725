#pragma once

#include <QObject>
#include <QThread>

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

namespace imaging::scanner {

// The one thread that talks to the scanner helper. Its questions can take seconds (device
// lists over the network, opening, a scan), so they never run on the user-interface thread.
class ScannerThread {
public:
    static ScannerThread& instance();
    // Whether the thread has been started: no helper runs before the first use.
    static bool started();

    // Runs the work on the scanner thread and waits for it in a local event loop, so the
    // window keeps painting meanwhile. Exceptions of the work come back to the caller.
    template <class F> auto call(F&& work) -> std::invoke_result_t<F>
    {
        using R = std::invoke_result_t<F>;
        if constexpr (std::is_void_v<R>) {
            callVoid(std::function<void()>(std::forward<F>(work)));
        } else {
            std::optional<R> result;
            callVoid([&] { result.emplace(work()); });
            return std::move(*result);
        }
    }

    // Runs the work on the scanner thread without waiting.
    void post(std::function<void()> work);

    bool isCurrent() const;

private:
    ScannerThread();
    ~ScannerThread();
    void callVoid(const std::function<void()>& work);
    static void shutdown();

    QThread* m_thread = nullptr;
    QObject* m_worker = nullptr; // lives in m_thread
};

} // namespace imaging::scanner
