#pragma once

#include "imaging/print_settings.h"

#include <QMarginsF>
#include <QSizeF>
#include <QString>

namespace imaging {

// One print of the page file.
struct PrintJob {
    QString pageFile;
    PrintSettings settings;
    PrintSettings::Output output = PrintSettings::Printer;
    QString printer;                 // with output Printer
    QString pdfFile;                 // with output PdfFile: where the copy goes
    QMarginsF marginsMm;             // the printer's unprintable edges, for fitting
    QSizeF assumedPaperMm{210, 297}; // for pages that record no resolution
};

// Lays the page out on the paper and writes it as PDF: at true size each pixel gets the
// physical size the page file records, the page's top-left corner on the paper's top-left
// corner; fitted, it fills the printable area, centred, proportions kept. The page is read
// band by band, never whole. Throws DispatchError.
void writePagePdf(const PrintJob& job, const QString& pdfPath);

// Writes the PDF and hands it to CUPS with its own scaling switched off, or saves it as a
// file. Runs on any thread. Throws DispatchError with the user's German words.
void printPage(const PrintJob& job);

// The source of the edit control's errors.
QString editControlSource();

} // namespace imaging
