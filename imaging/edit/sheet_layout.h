#pragma once

#include "imaging/edit/print_job.h"

#include <QRectF>
#include <QSizeF>

#include <array>

namespace imaging {

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

} // namespace imaging
