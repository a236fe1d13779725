#pragma once

#include <functional>

namespace imaging {

// Hands the work to another thread through dispatch and waits for it in a local event loop,
// so the window keeps painting meanwhile. An exception of the work comes back to the caller.
// The caller's input must be held off by a modal dialog, or be safe to take while waiting.
void waitFor(const std::function<void(std::function<void()>)>& dispatch,
             const std::function<void()>& work);

} // namespace imaging
