#include "imaging/edit/stack_print.h"

#include "dispatch/dispatch_error.h"
#include "imaging/common/background_work.h"
#include "imaging/edit/page_printer.h"
#include "imaging/page_file/growing_stack.h"

#include <QEventLoop>
#include <QProgressDialog>
#include <QTimer>

#include <climits>
#include <mutex>

namespace imaging {

QString whyWaitForStack(const PrintSettings& settings, PrintSettings::Output output)
{
    if (output == PrintSettings::PdfFile)
        return QStringLiteral("Kein Drucker eingerichtet: Die Kopie wird als PDF-Datei "
                              "gespeichert, wenn alle Seiten gescannt sind.");
    if (settings.reverse)
        return QStringLiteral("Umgekehrte Reihenfolge: gedruckt wird, wenn alle Seiten gescannt "
                              "sind.");
    return {};
}

namespace {

// Between the thread that sends the sheets and the dialog.
struct Sending {
    std::atomic_bool abandon{false}; // "Abbrechen"
    std::atomic_int sentPages{0};
    std::mutex mutex; // guards what follows
    QString printer;
    QList<int> jobIds;
};

QString pagesText(int first, int last)
{
    return first == last ? QStringLiteral("Seite %1").arg(first)
                         : QStringLiteral("Seiten %1 bis %2").arg(first).arg(last);
}

// On the sending thread: each part of the stack as a job of its own, in the order the copy
// comes out. Returns the stack as it ended.
GrowingStack::State sendParts(PrintJob job, const std::shared_ptr<GrowingStack>& stack,
                              Sending& sending, bool early)
{
    const auto send = [&](int first, int count, int copies, const QString& title) {
        PrintJob part = job;
        part.pageFile = stack->file();
        part.firstPage = first;
        part.pageCount = count;
        part.settings.copies = copies;
        part.title = title;
        const int id = printPage(part);
        const std::lock_guard lock(sending.mutex);
        if (id > 0)
            sending.jobIds.append(id);
        sending.sentPages = std::max(sending.sentPages.load(), first + count);
    };
    GrowingStack::State state;
    try {
        if (job.output == PrintSettings::Printer) {
            choosePrinter(job);
            const std::lock_guard lock(sending.mutex);
            sending.printer = job.printer;
        }
        if (early) {
            // A sheet takes one page, its back another, and two or four originals each.
            const int perSheet = job.settings.pagesPerSheet * (job.settings.twoSided ? 2 : 1);
            const int each = job.settings.collate ? 1 : job.settings.copies;
            for (int next = 0;;) {
                state = stack->waitFor(next + perSheet, &sending.abandon);
                const int count = state.pages >= next + perSheet ? perSheet
                                  : state.ended                  ? state.pages - next
                                                                 : 0;
                if (sending.abandon || count <= 0)
                    break;
                send(next, count, each,
                     QStringLiteral("Kopie, %1").arg(pagesText(next + 1, next + count)));
                next += count;
            }
            if (state.completed && !sending.abandon && job.settings.collate &&
                job.settings.copies > 1)
                send(0, state.pages, job.settings.copies - 1,
                     QStringLiteral("Kopie, Exemplare 2 bis %1").arg(job.settings.copies));
        } else {
            state = stack->waitFor(INT_MAX, &sending.abandon);
            if (state.completed && !sending.abandon)
                send(0, state.pages, job.settings.copies, job.title);
        }
    } catch (...) {
        // A printer that fails takes the rest of the stack with it: told once, by the print.
        stack->cancel();
        stack->waitFor(INT_MAX);
        throw;
    }
    if (sending.abandon) {
        stack->cancel();
        state = stack->waitFor(INT_MAX);
    }
    return state;
}

} // namespace

void printGrowingStack(PrintJob job, const std::shared_ptr<GrowingStack>& stack, QWidget* parent,
                       StackPrinted& printed)
{
    const QString why = whyWaitForStack(job.settings, job.output);
    auto sending = std::make_shared<Sending>();

    QProgressDialog dialog(QString(), QStringLiteral("Abbrechen"), 0, 0, parent);
    dialog.setWindowTitle(QStringLiteral("Kopyra"));
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setMinimumDuration(0);
    // Once the stack is in, what is left is the print (Escape included).
    QObject::connect(&dialog, &QProgressDialog::canceled, &dialog, [sending, stack] {
        if (stack->state().ended)
            return;
        sending->abandon = true;
        stack->cancel();
    });
    const auto tell = [&] {
        const GrowingStack::State state = stack->state();
        QString text = state.ended
                           ? QStringLiteral("Der Stapel ist gescannt.")
                           : QStringLiteral("Seite %1 wird gescannt …").arg(state.pages + 1);
        if (!why.isEmpty())
            text += QLatin1Char('\n') + why;
        else if (const int sent = sending->sentPages; sent > 0)
            text += QStringLiteral("\nAn den Drucker gesendet: %1").arg(pagesText(1, sent));
        if (state.ended && !sending->abandon) {
            // What is left is the print: it is not taken back half sent.
            dialog.setCancelButton(nullptr);
            text += QStringLiteral("\nDie Kopie wird gedruckt …");
        }
        dialog.setLabelText(text);
    };
    tell();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &dialog, tell);
    poll.start(100);

    QEventLoop loop;
    bool done = false;
    std::exception_ptr failure;
    GrowingStack::State ended;
    runThen(
        &dialog,
        [job = std::move(job), stack, sending, early = why.isEmpty(), &ended] {
            ended = sendParts(job, stack, *sending, early);
        },
        [&](std::exception_ptr outcome) {
            failure = outcome;
            done = true;
            loop.quit();
        });
    while (!done)
        loop.exec();

    {
        const std::lock_guard lock(sending->mutex);
        printed.printer = sending->printer;
        printed.jobIds = sending->jobIds;
    }
    printed.pages = sending->sentPages;
    printed.cancelled = sending->abandon || (!failure && !ended.completed && !ended.failed);
    if (failure)
        std::rethrow_exception(failure);
    if (!ended.failed)
        return;
    // The scan failed after the pages that are printed: its failure, with what came out.
    try {
        std::rethrow_exception(ended.failed);
    } catch (const DispatchError& e) {
        const QString out =
            printed.pages > 1 ? QStringLiteral(" Die Seiten 1 bis %1 sind an den Drucker gesendet.")
                                    .arg(printed.pages)
            : printed.pages > 0 ? QStringLiteral(" Seite 1 ist an den Drucker gesendet.")
                                : QStringLiteral(" Es wurde nichts gedruckt.");
        throw DispatchError(e.number(), e.description() + out, e.source());
    }
}

} // namespace imaging
