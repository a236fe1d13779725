#pragma once

#include "dispatch/members.h"
#include "imaging/common/print_settings.h"

#include <QMarginsF>
#include <QSizeF>
#include <QString>

#include <memory>
#include <vector>

namespace imaging {

// A printer as CUPS described it when it was chosen: what making a job for it needs.
struct CupsDestination;

class PageReader;

// How a driverless printer takes pages without the print system converting them: PWG raster
// at its own resolution. Empty (dpi 0) for printers that are better served with the PDF (those
// that take PDF themselves, and those whose queue converts anyway).
struct RasterTarget {
    int xDpi = 0;
    int yDpi = 0;
    bool colour = false; // takes 8-bit sRGB; else 8-bit grey
    bool usable() const { return xDpi > 0 && yDpi > 0; }
};

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
    RasterTarget raster;           // set when the printer is better served with PWG raster
    PrinterOptions printerOptions; // the printer's own, as chosen for it and still offered
    bool postScript = false;       // PostScript instead of PDF, for printers that take it as it is
    int jobId = 0;                 // CUPS's number for the job, once the printer has it
    QString title = QStringLiteral("Kopie"); // of the job, as the printer's queue lists it
    // Part of the feeder's stack: that many of its pages from the first (0: all there are).
    int firstPage = 0;
    int pageCount = 0;
};

// The job's pages of the page file (the feeder's stack; one for anything else), each opened
// for reading. Throws DispatchError when one cannot be read.
std::vector<std::unique_ptr<PageReader>> openPages(const PrintJob& job);

// Thrown once the print is abandoned (the caller's flag became true).
struct PrintAbandoned {};

} // namespace imaging
