#pragma once

#include <QObject>
#include <QString>

#include <exception>
#include <functional>
#include <memory>

class QWidget;

namespace imaging {

// Background work of the components, besides the SANE thread: tasks on a pool of threads of
// their own, watched from the user-interface thread. What a task throws, std::bad_alloc
// included, is caught on its thread and comes back as an error; nothing ends the program.

// Runs the work and waits for it in a local event loop: the window keeps painting, and a
// modal dialog with the label appears when the work takes longer than a moment. What the work
// throws is thrown here.
void runInBackground(const QString& label, QWidget* parent, const std::function<void()>& work);

// The same, but waits at most patienceMs: false when the work had not finished by then. The
// work is left to finish on its own, so it must own what it uses.
bool runInBackgroundFor(const QString& label, QWidget* parent, std::function<void()> work,
                        int patienceMs);

// Runs the work without waiting; done gets its outcome (failure empty, or what the work threw)
// on the user-interface thread, unless context is gone by then.
void runThen(QObject* context, std::function<void()> work,
             std::function<void(std::exception_ptr failure)> done);

// Waits until every task started here has ended (their outcomes are delivered by the event
// loop after that).
void waitForBackgroundWork();

} // namespace imaging
