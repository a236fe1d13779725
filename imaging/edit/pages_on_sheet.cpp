#include "imaging/edit/pages_on_sheet.h"

#include "dispatch/dispatch_error.h"
#include "imaging/edit/sheet_layout.h"
#include "imaging/page_file/page_reader.h"

#include <QPageSize>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace imaging {

namespace {

[[noreturn]] void fail(std::int32_t number, const QString& text)
{
    throw DispatchError(number, text, editProgId());
}

// The original type's white, as the page's reader would apply it, on the part of a drawn band
// the page covers (its edges blend with the white around it, which stays white).
void whitenDrawn(QImage& image, const PageReader& page, const QRectF& drawn, bool colour)
{
    const auto& whitening = page.whitening();
    if (!whitening || !whitening->changes())
        return;
    const QRect area = drawn.toAlignedRect() & image.rect();
    if (area.isEmpty())
        return;
    const Whitening::Curves curves = (colour ? *whitening : whitening->inGrey()).curves();
    const int bytesPerPixel = image.depth() / 8;
    QImage part(image.scanLine(area.top()) + area.left() * bytesPerPixel, area.width(),
                area.height(), image.bytesPerLine(), image.format());
    Whitening::apply(part, curves);
}

} // namespace

int sheetBandRows(int bytesPerLine)
{
    // As the single page's bands (a few megabytes), never the sheet (a colour A4 sheet at
    // 1200 dpi is some 420 MB).
    constexpr int BandBytes = 2 << 20;
    return std::max(16, BandBytes / std::max(1, bytesPerLine));
}

QImage drawSheetBand(const PrintJob& job, const std::vector<std::unique_ptr<PageReader>>& pages,
                     int face, QSize dots, QSizeF dotsPerInch, bool colour, int top, int rows,
                     const std::atomic_bool* abandon)
{
    QImage image(dots.width(), rows, colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    if (image.isNull())
        fail(ErrorNumber::PrintFailed,
             QStringLiteral("Für den Druck der Seite reicht der Speicher nicht."));
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const double paperWidth = job.settings.pageSize.size(QPageSize::Point).width();
    const int perSheet = job.settings.pagesPerSheet;
    const std::size_t first = std::size_t(face) * std::size_t(perSheet);
    const QRectF bandDots(0, top, dots.width(), rows);
    for (std::size_t p = first; p < std::min(pages.size(), first + std::size_t(perSheet)); ++p) {
        PageReader& page = *pages[p];
        const OnPaper placed = placeOnPaper(job, page, int(p - first));
        // Points on the sheet as laid out to the printer's dots: turned, the sheet's top is at
        // the paper's right edge.
        QTransform onPaper;
        if (placed.turned)
            onPaper = QTransform(0, 1, -1, 0, paperWidth, 0);
        const QTransform toDots =
            onPaper * QTransform::fromScale(dotsPerInch.width() / 72, dotsPerInch.height() / 72);
        // The page's rows this band shows (a row more each way for the smoothing): turned, a
        // band of the paper crosses every row of the page.
        const QSize pixels = page.size();
        const QTransform pixelToDots =
            QTransform::fromScale(placed.target.width() / pixels.width(),
                                  placed.target.height() / pixels.height()) *
            QTransform::fromTranslate(placed.target.left(), placed.target.top()) * toDots;
        const QRectF shown =
            pixelToDots.inverted().mapRect(bandDots) & QRectF(QPointF(0, 0), QSizeF(pixels));
        if (shown.isEmpty())
            continue;
        const int firstRow = std::max(0, int(std::floor(shown.top())) - 1);
        const int endRow = std::min(pixels.height(), int(std::ceil(shown.bottom())) + 1);
        painter.setTransform(toDots * QTransform::fromTranslate(0, -top));
        const double rowHeight = placed.target.height() / pixels.height();
        // Read as scanned, and the original type's white applied to what was drawn, once: a
        // band of a turned sheet crosses every row of the page, which would be whitened for
        // every band otherwise.
        page.setAsScanned(true);
        QString why;
        const bool read = page.forEachBand(
            128,
            [&](const QImage& band, int y) {
                if (abandon && *abandon)
                    throw PrintAbandoned();
                const QImage drawn = band.format() == QImage::Format_Mono
                                         ? band.convertToFormat(QImage::Format_Grayscale8)
                                         : band;
                painter.drawImage(QRectF(placed.target.left(), placed.target.top() + y * rowHeight,
                                         placed.target.width(), band.height() * rowHeight),
                                  drawn);
            },
            &why, firstRow, endRow);
        page.setAsScanned(false);
        if (read)
            whitenDrawn(image, page, painter.transform().mapRect(placed.target), colour);
        if (!read)
            fail(ErrorNumber::PageUnreadableForPrint,
                 QStringLiteral("Die Seite „%1“ kann nicht gedruckt werden: %2")
                     .arg(job.pageFile, why));
    }
    return image;
}

} // namespace imaging
