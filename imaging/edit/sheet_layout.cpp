// Where each original lands on the paper: the one layout every way of printing follows.

#include "imaging/edit/sheet_layout.h"

#include "imaging/page_file/page_reader.h"

#include <QPageSize>

#include <algorithm>

namespace imaging {

OnPaper placeOnPaper(const PrintJob& job, const PageReader& page, int cell)
{
    const QSizeF paperMm = job.settings.pageSize.size(QPageSize::Millimeter);
    const double pointsPerMm = 72 / 25.4;
    const QSize pixels = page.size();
    double xDpi = page.xDpi();
    double yDpi = page.yDpi();
    if (xDpi <= 0 || yDpi <= 0) {
        xDpi = pixels.width() / (job.assumedPaperMm.width() / 25.4);
        yDpi = xDpi;
    }
    const QRectF printable(
        job.marginsMm.left() * pointsPerMm, job.marginsMm.top() * pointsPerMm,
        (paperMm.width() - job.marginsMm.left() - job.marginsMm.right()) * pointsPerMm,
        (paperMm.height() - job.marginsMm.top() - job.marginsMm.bottom()) * pointsPerMm);
    const auto fitInto = [](QRectF target, const QRectF& area) {
        const double scale =
            std::min(area.width() / target.width(), area.height() / target.height());
        target.setSize(target.size() * scale);
        target.moveCenter(area.center());
        return target;
    };
    const QRectF trueSize(0, 0, pixels.width() / xDpi * 72, pixels.height() / yDpi * 72);
    OnPaper placed;
    if (job.settings.idCard) {
        // Each side at true size in the middle of its half: a card laid at the same place for
        // both sides lands at the same place in each.
        const QRectF half(printable.left(), printable.top() + cell % 2 * printable.height() / 2,
                          printable.width(), printable.height() / 2);
        placed.target = trueSize;
        placed.target.moveCenter(half.center());
        return placed;
    }
    switch (job.settings.pagesPerSheet) {
    case 2: {
        // The sheet turned a quarter, its top at the paper's right edge: the printable area
        // seen so, split into a left and a right half.
        placed.turned = true;
        const double paperWidth = paperMm.width() * pointsPerMm;
        const QRectF turned(printable.top(), paperWidth - printable.right(), printable.height(),
                            printable.width());
        const QRectF half(turned.left() + cell % 2 * turned.width() / 2, turned.top(),
                          turned.width() / 2, turned.height());
        placed.target = fitInto(trueSize, half);
        return placed;
    }
    case 4: {
        const QRectF quarter(printable.left() + cell % 2 * printable.width() / 2,
                             printable.top() + cell / 2 % 2 * printable.height() / 2,
                             printable.width() / 2, printable.height() / 2);
        placed.target = fitInto(trueSize, quarter);
        return placed;
    }
    default:
        break;
    }
    // At true size each pixel gets the size the page file records, times the zoom.
    const double zoom = job.settings.zoomPercent / 100.0;
    placed.target = QRectF(trueSize.topLeft(), trueSize.size() * zoom);
    if (job.settings.sizeMode == PrintSettings::FitToPage)
        placed.target = fitInto(trueSize, printable);
    return placed;
}

std::array<double, 6> bandMatrix(const QRectF& band, bool turned, QSizeF paperPt)
{
    const double w = paperPt.width(), h = paperPt.height();
    if (turned)
        return {
            0, -band.width(), band.height(), 0, w - band.top() - band.height(), h - band.left()};
    return {band.width(), 0, 0, band.height(), band.left(), h - band.top() - band.height()};
}

} // namespace imaging
