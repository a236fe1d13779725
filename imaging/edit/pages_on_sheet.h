#pragma once

#include "imaging/edit/print_job.h"

#include <QImage>

#include <atomic>
#include <memory>
#include <vector>

namespace imaging {

// Rows [top, top + rows) of a face with two or four originals, as a driverless printer gets it
// at its dots, laid out as placeOnPaper lays them out (the sheet turned for two), each reduced
// smoothly: for PWG raster, where no filter turns or reduces anything. Only a band of the sheet
// is ever in memory; each original is read for the rows of it the band shows. Grey, or colour
// (RGB, 8 bits each). Throws DispatchError when a page cannot be read or the band finds no
// memory; PrintAbandoned once *abandon becomes true.
QImage drawSheetBand(const PrintJob& job, const std::vector<std::unique_ptr<PageReader>>& pages,
                     int face, QSize dots, QSizeF dotsPerInch, bool colour, int top, int rows,
                     const std::atomic_bool* abandon);

// How many rows of a face are drawn at once, for rows of that many bytes: a band of about 2 MB.
int sheetBandRows(int bytesPerLine);

} // namespace imaging
