#pragma once

#include <QPageSize>
#include <QSizeF>
#include <QString>

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
    // Whether a page of that size, printed so, leaves part of it off the paper.
    bool cutsOff(const QSizeF& pageMm) const;
};

// Whether the print service (the CUPS scheduler the user's settings name) takes connections.
bool printServiceAnswers();

// A new file name for a copy saved as PDF in the user's documents folder; never one that
// exists.
QString pdfCopyPath();

} // namespace imaging
