#pragma once

#include <QString>

#include <exception>

// The program's last line of defence: a failure that a handler lets escape is reported in one
// error box, after which the program ends.
namespace UnhandledFailure {

QString text(std::exception_ptr failure);

// Shows the box (once, however many failures follow) and asks the application to quit.
void report(std::exception_ptr failure);

// True once a failure has been reported in this run.
bool reported();
void resetForTesting();

} // namespace UnhandledFailure
