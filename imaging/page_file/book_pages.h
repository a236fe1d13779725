#pragma once

#include <QRect>
#include <QString>

#include <optional>

class QImage;

namespace imaging {

// An open book copied on the glass: laid face down, its spine across the middle of the glass,
// the top of its pages towards the long edge opposite the scanner's corner mark. The glass is
// scanned whole; the book's two pages become the page file's two pages, the left one first,
// each turned upright and cut at the spine, at true size. The spine's shadow and the glass
// around the book (dark where the lid stayed open) print white.
namespace book {

// What was found of the book, in rows and columns of the picture it was found on.
struct Found {
    int spine = 0;                    // the darkest row of the spine's shadow
    int shadowTop = 0, shadowEnd = 0; // the shadow's rows [top, end), paper beyond them
    QRect pages;                      // the book's pages; beyond them the glass
    int paper = 255;                  // the pages' paper, the middle of the rows' levels
};

// Finds the book on a grey picture of the glass (any reduction of the scan, rowMm and
// columnMm the millimetres of one pixel): the spine is the darkest band of shadow within 25 mm
// of the glass's middle, clearly darker than the paper of the pages. Nothing when there is
// none: a single sheet, a book laid elsewhere or pressed flat without a shadow.
std::optional<Found> find(const QImage& grey, double rowMm, double columnMm);

// How the pages are made: the original type (0 text and photo, 1 text, 2 photo: as scanned),
// for the paper of the book's own pages, the lighter/darker step after it, and the border of
// each page printed white (the spine's side included).
struct Making {
    int original = 0;
    int tone = 0;
    int edgeEraseMm = 0;
};

// Makes the page file of the two pages from the scan of the glass. Throws DispatchError when
// no book is found (never half a page) or a file cannot be read or written; the page file is
// then as it was.
void splitPages(const QString& glass, const QString& pageFile, const Making& making);

} // namespace book
} // namespace imaging
