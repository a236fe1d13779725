#pragma once

#include "imaging/edit/print_job.h"

#include <QList>
#include <QString>

#include <memory>

class QWidget;

namespace imaging {

class GrowingStack;

// Why the copy cannot leave sheet by sheet while the feeder still scans, in the user's words;
// empty when it can: one copy, copies not sorted (each sheet's copies together), the first of
// sorted copies (the others once the stack is in). The last page first needs the whole stack,
// and so does a copy saved as a file.
QString whyWaitForStack(const PrintSettings& settings, PrintSettings::Output output);

// What became of a stack's print.
struct StackPrinted {
    QString printer;        // as chosen for the print
    QList<int> jobIds;      // CUPS's numbers, one a job
    int pages = 0;          // of the stack, printed (each once, however many copies)
    bool cancelled = false; // "Abbrechen": the pages after those stayed unprinted
};

// Prints the feeder's stack while it is still being scanned: each sheet goes to the printer (a
// CUPS job of its own: cupsd starts a job only once its document is whole) as soon as its
// pages are in, where the order allows it, the other copies of sorted copies once the stack
// is in; else the print waits for the whole stack. A dialog shows what is scanned and what is
// printed; "Abbrechen" stops the scan and sends nothing more. A scan that fails after some
// pages throws its failure, naming the page, once the pages before it are printed; a print that
// fails stops the scan and throws. Either way, printed says what went to the printer. The
// job's printer is chosen here.
void printGrowingStack(PrintJob job, const std::shared_ptr<GrowingStack>& stack, QWidget* parent,
                       StackPrinted& printed);

} // namespace imaging
