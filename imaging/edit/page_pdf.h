#pragma once

#include "dispatch/members.h"
#include "imaging/common/print_settings.h"

#include <QMarginsF>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <array>
#include <atomic>
#include <functional>
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

    // Whether the copies are in the document itself: raster, made by Kopyra; PostScript with
    // each page's copies together, which not every PostScript printer (cups-pdf) makes of
    // what CUPS asks.
    bool copiesInDocument() const
    {
        return raster.usable() || (postScript && !settings.collate && settings.copies > 1);
    }
};

// Lays the page out on the paper and writes it as PDF: at true size each pixel gets the
// physical size the page file records (times the zoom), the page's top-left corner on the
// paper's top-left corner; fitted, it fills the printable area, centred, proportions kept. The page
// is read band by band, never whole, and the file grows as the bands come: grown is told its size
// each time a part of it is on disk. Throws DispatchError; stops early with PrintAbandoned
// once *abandon becomes true.
// Every page of the page file (the feeder's stack; one for anything else), each opened for
// reading. Throws DispatchError when one cannot be read.
std::vector<std::unique_ptr<PageReader>> openPages(const QString& pageFile);

// Where a page of the file lands on the paper, as every route lays it out: its rectangle in
// points (1/72 inch) from the sheet's top-left corner, and whether the sheet is turned. One
// original a sheet: at true size (times the zoom) from the top-left corner, or fitted into the
// printable area, centred. Two a sheet (cell 0 and 1): the sheet turned a quarter, its top at
// the paper's right edge, the originals side by side, each fitted into its half, centred;
// four: a 2×2 grid, left to right, top to bottom. The size of the copy does not apply then.
struct OnPaper {
    QRectF target;
    bool turned = false;
};
OnPaper placeOnPaper(const PrintJob& job, const PageReader& page, int cell = 0);

// The matrix that puts a band (its rectangle on the sheet as laid out, in points) on the paper,
// for PDF's cm and PostScript's concat: the image's unit square to the paper's points, y up.
std::array<double, 6> bandMatrix(const QRectF& band, bool turned, QSizeF paperPt);

// postScriptWhenKnown, when given, says (waiting if need be) whether the file is to be
// PostScript instead of job.postScript; the bands are begun before it is asked.
void writePagePdf(const PrintJob& job, const QString& pdfPath,
                  const std::atomic_bool* abandon = nullptr,
                  const std::function<void(qint64)>& grown = {},
                  const std::function<bool()>& postScriptWhenKnown = {});

struct PrintAbandoned {};

} // namespace imaging
