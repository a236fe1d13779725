#pragma once

#include <QList>
#include <QPageSize>
#include <QSizeF>
#include <QString>

#include <utility>

namespace imaging {

// How a copy is printed. The administration control keeps these (print dialog, members 29,
// 28, 16); the edit control prints with them. Both find them in the components' settings file.
struct PrintSettings {
    enum SizeMode { TrueSize = 0, FitToPage = 1 };
    enum Output { Printer = 0, PdfFile = 1 };

    QString printer; // empty: CUPS's default destination
    int copies = 1;
    SizeMode sizeMode = TrueSize;
    // Enlarged or reduced, at true size: 100 is 1:1. The original's top-left corner stays on
    // the paper's top-left corner, as on a copier's glass.
    int zoomPercent = 100;
    QPageSize pageSize = QPageSize(QPageSize::A4);
    // Both sides of the sheet ("Beidseitig drucken" in the printer dialog, where the printer
    // can): the feeder's stack on half the paper.
    bool twoSided = false;
    // Several pages (the feeder's stack) in several copies: copy after copy, or each page's
    // copies together; the last page first.
    bool collate = true;
    bool reverse = false;
    // Two or four originals on one sheet, each reduced to fit its part of it; the size of the
    // copy (true size, fitted, zoom) does not apply then.
    int pagesPerSheet = 1;
    // An ID card's front and back (the page file says so; not kept): both on one sheet at
    // true size, the front in the upper half, the back in the lower one. Zoom, fitting and
    // several on a sheet do not apply.
    bool idCard = false;

    static PrintSettings load();
    void save() const;

    // The printer to use now: the remembered one, else CUPS's default; empty when there is no
    // printer at all.
    QString effectivePrinter() const;
    // Where copies go: a printer, or, with no printer installed at all, a PDF file. A print
    // service that does not answer is no reason for a PDF file: the print then says so.
    Output output() const;

    // The copy's size on paper, for a page of that size.
    QSizeF copyMm(const QSizeF& pageMm) const;
    // The same settings for an ID card's sides.
    PrintSettings forIdCard() const;
    // Whether a page of that size, printed so, leaves part of it off the paper.
    bool cutsOff(const QSizeF& pageMm) const;
    // The faces of paper (from 0; one original each, or two or four on a sheet) in the order
    // they come out, copies included: the one order every way of printing follows. Both
    // sides keep each sheet whole: -1 for a blank back where a copy ends on a front; not
    // sorted repeats sheets, not faces; reversed, the last sheet comes first.
    QList<int> sheetOrder(int faces) const;
    // Whether the copy is laid out within the edges the printer can print on (fitted, or
    // several on a sheet), rather than from the paper's corner.
    bool fitsIntoPrintableArea() const { return sizeMode == FitToPage || pagesPerSheet > 1; }
    // How many faces of paper the pages take.
    int sheetsFor(int pages) const { return (pages + pagesPerSheet - 1) / pagesPerSheet; }
};

// The printer's own options chosen in its properties (a tray, the quality, greyscale, what its
// driver offers): CUPS's names and choices, kept for each printer. Never one of Kopyra's own
// (isKopyrasOwnOption) nor one CUPS would refuse, however the file was edited.
using PrinterOptions = QList<std::pair<QString, QString>>;
bool isKopyrasOwnOption(const QString& name);
PrinterOptions printerOptions(const QString& printer);
void savePrinterOptions(const QString& printer, const PrinterOptions& options);

// Whether the print service (the CUPS scheduler the user's settings name) takes connections.
bool printServiceAnswers();

// A new file name for a copy saved as PDF in the user's documents folder; never one that
// exists.
QString pdfCopyPath();

} // namespace imaging
