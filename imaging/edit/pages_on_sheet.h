#pragma once

#include "imaging/edit/page_pdf.h"

#include <QImage>

#include <memory>
#include <vector>

namespace imaging {

// Two or four originals drawn onto one sheet as a driverless printer gets it, at its dots, laid
// out as placeOnPaper lays them out (the sheet turned for two), each reduced smoothly: for PWG
// raster, where no filter turns or reduces anything. Grey, or colour (RGB, 8 bits each).
// Throws DispatchError when a page cannot be read.
QImage drawSheet(const PrintJob& job, const std::vector<std::unique_ptr<PageReader>>& pages,
                 int sheet, QSize dots, QSizeF dotsPerInch, bool colour);

} // namespace imaging
