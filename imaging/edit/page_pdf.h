#pragma once

#include "dispatch/members.h"
#include "imaging/common/print_settings.h"

#include <QMarginsF>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

namespace imaging {

// A printer as CUPS described it when it was chosen: what making a job for it needs.
struct CupsDestination;

// One print of the page file.
struct PrintJob {
    QString pageFile;
    PrintSettings settings;
    PrintSettings::Output output = PrintSettings::Printer;
    QString printer;                 // with output Printer
    QString pdfFile;                 // with output PdfFile: where the copy goes
    QMarginsF marginsMm;             // the printer's unprintable edges, for fitting
    QSizeF assumedPaperMm{210, 297}; // for pages that record no resolution
    // The printer as CUPS described it when it was chosen.
    std::shared_ptr<const CupsDestination> destination;
    int jobId = 0; // CUPS's number for the job, once the printer has it
};

// Lays the page out on the paper and writes it as PDF: at true size each pixel gets the
// physical size the page file records (times the zoom), the page's top-left corner on the
// paper's top-left corner; fitted, it fills the printable area, centred, proportions kept. The page
// is read band by band, never whole, and the file grows as the bands come: grown is told its size
// each time a part of it is on disk. Throws DispatchError; stops early with PrintAbandoned
// once *abandon becomes true.
void writePagePdf(const PrintJob& job, const QString& pdfPath,
                  const std::atomic_bool* abandon = nullptr,
                  const std::function<void(qint64)>& grown = {});

struct PrintAbandoned {};

} // namespace imaging
