#pragma once

#include <QObject>
#include <QThread>

#include <exception>
#include <functional>
#include <optional>
#include <type_traits>

namespace imaging::sane {

// The one thread that talks to SANE. SANE backends are not made for calls from several
// threads, and many of their calls (device lists over the network, opening, reading) can take
// seconds; so every SANE call runs here, never on the user-interface thread.
class SaneThread {
public:
    static SaneThread& instance();
    // Whether the thread has been started: nothing of SANE is loaded before the first use.
    static bool started();

    // Runs the work on the SANE thread and waits for it in a local event loop, so the window
    // keeps painting meanwhile. Exceptions of the work come back to the caller.
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

    // Runs the work on the SANE thread without waiting.
    void post(std::function<void()> work);

    bool isCurrent() const;

    // The status the process ends with if SANE cannot be shut down in time.
    static void setExitStatus(int status);

private:
    SaneThread();
    ~SaneThread();
    void callVoid(const std::function<void()>& work);
    static void shutdown();

    QThread* m_thread = nullptr; // left running at exit if a backend never finishes
    QObject* m_worker = nullptr; // lives in m_thread
};

} // namespace imaging::sane
