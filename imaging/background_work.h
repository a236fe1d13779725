#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace imaging {

// Runs the work on a thread of its own and waits for it in a local event loop: the window
// keeps painting, and a modal dialog with the label appears when the work takes longer than a
// moment. Exceptions of the work come back to the caller.
void runInBackground(const QString& label, QWidget* parent, const std::function<void()>& work);

// The same, but waits at most patienceMs: false when the work had not finished by then. The
// work runs on a thread that is left to finish on its own, so it must own what it uses.
bool runInBackgroundFor(const QString& label, QWidget* parent, std::function<void()> work,
                        int patienceMs);

} // namespace imaging
