#include "imaging/edit/pages_on_sheet.h"

#include "dispatch/dispatch_error.h"
#include "imaging/page_file/page_reader.h"

#include <QPageSize>
#include <QPainter>

#include <algorithm>

namespace imaging {

QImage drawSheet(const PrintJob& job, const std::vector<std::unique_ptr<PageReader>>& pages,
                 int sheet, QSize dots, QSizeF dotsPerInch, bool colour)
{
    QImage image(dots, colour ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const double paperWidth = job.settings.pageSize.size(QPageSize::Point).width();
    const int perSheet = job.settings.pagesPerSheet;
    const std::size_t first = std::size_t(sheet) * std::size_t(perSheet);
    for (std::size_t p = first; p < std::min(pages.size(), first + std::size_t(perSheet)); ++p) {
        PageReader& page = *pages[p];
        const OnPaper placed = placeOnPaper(job, page, int(p - first));
        // Points on the sheet as laid out to the printer's dots: turned, the sheet's top is at
        // the paper's right edge.
        QTransform onPaper;
        if (placed.turned)
            onPaper = QTransform(0, 1, -1, 0, paperWidth, 0);
        painter.setTransform(
            onPaper * QTransform::fromScale(dotsPerInch.width() / 72, dotsPerInch.height() / 72));
        const double rowHeight = placed.target.height() / page.size().height();
        QString why;
        const bool read = page.forEachBand(
            512,
            [&](const QImage& band, int top) {
                const QImage drawn = band.format() == QImage::Format_Mono
                                         ? band.convertToFormat(QImage::Format_Grayscale8)
                                         : band;
                painter.drawImage(QRectF(placed.target.left(),
                                         placed.target.top() + top * rowHeight,
                                         placed.target.width(), band.height() * rowHeight),
                                  drawn);
            },
            &why);
        if (!read)
            throw DispatchError(ErrorNumber::PageUnreadableForPrint,
                                QStringLiteral("Die Seite „%1“ kann nicht gedruckt werden: %2")
                                    .arg(job.pageFile, why),
                                editProgId());
    }
    return image;
}

} // namespace imaging
