#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace imaging {

// Runs the work on a thread of its own and waits for it in a local event loop: the window
// keeps painting, and a modal dialog with the label appears when the work takes longer than a
// moment. Exceptions of the work come back to the caller.
void runInBackground(const QString& label, QWidget* parent, const std::function<void()>& work);

} // namespace imaging
