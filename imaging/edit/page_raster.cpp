#include "imaging/edit/page_raster.h"

#include "dispatch/dispatch_error.h"
#include "imaging/edit/page_printer.h"
#include "imaging/edit/pages_on_sheet.h"
#include "imaging/edit/sheet_layout.h"
#include "imaging/page_file/page_reader.h"

#include <QFile>
#include <QImage>
#include <QPageSize>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <memory>
#include <vector>

namespace imaging {

namespace {

using ErrorNumber::PageUnreadableForPrint;
using ErrorNumber::PrintFailed;

constexpr int BandRows = 256;

[[noreturn]] void fail(std::int32_t number, const QString& text)
{
    throw DispatchError(number, text, editProgId());
}

// What a queue's printer takes as it is, from the filters its PPD names: "*cupsFilter2:
// "source destination cost program"" (driverless queues), "*cupsFilter: ..." (a driver of its
// own), none at all in the PPD of a PostScript printer.
enum class Takes { Other, RasterOnly, PostScript };

Takes whatQueueTakes(const QString& printer)
{
    char path[1024] = "";
    time_t modified = 0;
    // CUPS offers no other way to the filters of a queue than its PPD.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const http_status_t status =
        cupsGetPPD3(CUPS_HTTP_DEFAULT, printer.toUtf8().constData(), &modified, path, sizeof(path));
#pragma GCC diagnostic pop
    if (status != HTTP_STATUS_OK)
        return Takes::Other;
    QFile ppd(QString::fromLocal8Bit(path));
    const bool read = ppd.open(QIODevice::ReadOnly);
    const QByteArray text = read ? ppd.readAll() : QByteArray();
    ppd.remove();
    bool filters = false, rasterAsItIs = false, otherTargets = false;
    QByteArray level;
    for (const QByteArray& line : text.split('\n')) {
        if (line.startsWith("*LanguageLevel:"))
            level = line.mid(15).trimmed().replace('"', "");
        if (line.startsWith("*cupsFilter:")) {
            filters = otherTargets = true;
            continue;
        }
        if (!line.startsWith("*cupsFilter2:"))
            continue;
        filters = true;
        const QList<QByteArray> parts = line.mid(13).trimmed().replace('"', "").split(' ');
        if (parts.size() < 4)
            continue;
        if (parts[1] != "image/pwg-raster" && parts[1] != "image/urf")
            otherTargets = true;
        else if (parts[0] == "image/pwg-raster" && parts[3] == "-")
            rasterAsItIs = true;
    }
    if (!filters)
        return !level.isEmpty() && level.toInt() >= 2 ? Takes::PostScript : Takes::Other;
    return rasterAsItIs && !otherTargets ? Takes::RasterOnly : Takes::Other;
}

RasterTarget rasterTargetOf(const QString& printer, bool twoSided)
{
    ipp_t* response = queueAttributes(
        printer, {"pwg-raster-document-resolution-supported", "pwg-raster-document-type-supported",
                  "pwg-raster-document-sheet-back", "printer-resolution-default"});
    RasterTarget target;
    bool grey = false;
    ipp_res_t units;
    // The printer's own resolution where it takes raster at it, else its finest up to 600 dpi.
    int wantedX = 0;
    if (ipp_attribute_t* d =
            ippFindAttribute(response, "printer-resolution-default", IPP_TAG_RESOLUTION)) {
        int wantedY = 0;
        wantedX = ippGetResolution(d, 0, &wantedY, &units);
    }
    if (ipp_attribute_t* r = ippFindAttribute(response, "pwg-raster-document-resolution-supported",
                                              IPP_TAG_RESOLUTION)) {
        for (int i = 0; i < ippGetCount(r); ++i) {
            int y = 0;
            const int x = ippGetResolution(r, i, &y, &units);
            if (units != IPP_RES_PER_INCH)
                continue;
            if (x == wantedX || (target.xDpi != wantedX && x <= 600 && x > target.xDpi)) {
                target.xDpi = x;
                target.yDpi = y;
            }
        }
    }
    if (ipp_attribute_t* types =
            ippFindAttribute(response, "pwg-raster-document-type-supported", IPP_TAG_KEYWORD))
        for (int i = 0; i < ippGetCount(types); ++i) {
            const QByteArray type = ippGetString(types, i, nullptr);
            grey = grey || type == "sgray_8";
            target.colour = target.colour || type == "srgb_8";
        }
    // Back sides the printer wants turned are left to the print system.
    const char* back = ippGetString(
        ippFindAttribute(response, "pwg-raster-document-sheet-back", IPP_TAG_KEYWORD), 0, nullptr);
    const bool backAsFront = !back || qstrcmp(back, "normal") == 0;
    ippDelete(response);
    if (!grey || (twoSided && !backAsFront))
        return {};
    return target;
}

} // namespace

void chooseHandover(PrintJob& job)
{
    switch (whatQueueTakes(job.printer)) {
    case Takes::RasterOnly:
        job.raster = rasterTargetOf(job.printer, job.settings.twoSided);
        break;
    case Takes::PostScript:
        job.postScript = true;
        break;
    case Takes::Other:
        break;
    }
}

namespace {

// A page's rows as the printer gets them: each row of the paper from the page's row under it,
// each dot from the pixel under it, white outside the page.
class Sheet {
public:
    Sheet(const cups_page_header2_t& header, const QRectF& targetPt, QSize pixels, bool colour)
        : m_colour(colour)
        , m_width(int(header.cupsWidth))
        , m_line(header.cupsBytesPerLine, 0xff)
    {
        const int bytes = colour ? 3 : 1;
        const double xDots = header.HWResolution[0] / 72.0, yDots = header.HWResolution[1] / 72.0;
        const int left = int(std::lround(targetPt.left() * xDots));
        const int width = std::max(1, int(std::lround(targetPt.width() * xDots)));
        for (int x = 0; x < m_width; ++x) {
            const int from = x - left;
            if (from >= 0 && from < width)
                m_columns.push_back({x * bytes, int(std::int64_t(from) * pixels.width() / width)});
        }
        const int top = m_top = int(std::lround(targetPt.top() * yDots));
        const int height = std::max(1, int(std::lround(targetPt.height() * yDots)));
        m_rowOf.assign(header.cupsHeight, -1);
        for (int y = 0; y < int(header.cupsHeight); ++y)
            if (y - top >= 0 && y - top < height)
                m_rowOf[size_t(y)] = int(std::int64_t(y - top) * pixels.height() / height);
    }

    // The page's row that paper row y shows; -1: none (white).
    int pageRowOf(int y) const { return m_rowOf[size_t(y)]; }
    // The paper's row where the page begins.
    int top() const { return m_top; }
    const unsigned char* white()
    {
        std::fill(m_line.begin(), m_line.end(), 0xff);
        m_lineFrom = -1;
        return m_line.data();
    }
    // Paper row from the page's row r of the band (grey, colour, line art or 32-bit).
    const unsigned char* from(const QImage& band, int r, int pageRow)
    {
        if (pageRow == m_lineFrom)
            return m_line.data();
        const uchar* in = band.constScanLine(r);
        for (const Column& c : m_columns) {
            int red, green, blue;
            switch (band.format()) {
            case QImage::Format_Grayscale8:
                red = green = blue = in[c.from];
                break;
            case QImage::Format_RGB888:
                red = in[3 * c.from];
                green = in[3 * c.from + 1];
                blue = in[3 * c.from + 2];
                break;
            case QImage::Format_Mono:
                red = green = blue = (in[c.from >> 3] >> (7 - (c.from & 7)) & 1) * 255;
                break;
            default: {
                const QRgb rgb = reinterpret_cast<const QRgb*>(in)[c.from];
                red = qRed(rgb);
                green = qGreen(rgb);
                blue = qBlue(rgb);
            }
            }
            if (m_colour) {
                m_line[size_t(c.to)] = uchar(red);
                m_line[size_t(c.to) + 1] = uchar(green);
                m_line[size_t(c.to) + 2] = uchar(blue);
            } else {
                // The luminance of sRGB, as a grey printer would print the colours.
                m_line[size_t(c.to)] = uchar((red * 54 + green * 183 + blue * 19) >> 8);
            }
        }
        m_lineFrom = pageRow;
        return m_line.data();
    }

private:
    struct Column {
        int to;   // byte in the paper's row
        int from; // pixel of the page's row
    };
    bool m_colour;
    int m_width;
    std::vector<Column> m_columns;
    std::vector<int> m_rowOf;
    int m_top = 0;
    std::vector<unsigned char> m_line;
    int m_lineFrom = -1;
};

struct Output {
    const std::function<void(const char*, std::size_t)>* out;
    std::exception_ptr failure;
};

ssize_t writeOut(void* context, unsigned char* bytes, size_t length)
{
    auto* output = static_cast<Output*>(context);
    try {
        (*output->out)(reinterpret_cast<const char*>(bytes), length);
        return ssize_t(length);
    } catch (...) {
        output->failure = std::current_exception();
        return -1;
    }
}

} // namespace

void writePageRaster(const PrintJob& job, const std::function<void(const char*, std::size_t)>& out,
                     const std::atomic_bool* abandon)
{
    const RasterTarget& target = job.raster;
    std::vector<std::unique_ptr<PageReader>> pages = openPages(job);
    const QSizeF paperMm = job.settings.pageSize.size(QPageSize::Millimeter);
    pwg_media_t* media = pwgMediaForSize(int(std::lround(paperMm.width() * 100)),
                                         int(std::lround(paperMm.height() * 100)));
    bool colour = false;
    for (const auto& page : pages)
        colour = colour || (target.colour && page->bandFormat() == PageReader::BandFormat::Colour);
    cups_page_header2_t header;
    if (!media || !cupsRasterInitPWGHeader(
                      &header, media, colour ? "srgb_8" : "sgray_8", target.xDpi, target.yDpi,
                      job.settings.twoSided ? "two-sided-long-edge" : "one-sided", "normal"))
        fail(PrintFailed, QStringLiteral("Die Seite lässt sich für den Drucker nicht aufbereiten: "
                                         "%1")
                              .arg(QString::fromUtf8(cupsLastErrorString())));
    // The pages in the order they come out, copies made here: collated or not, the last page
    // first or not, a blank back where a copy must begin on a sheet of its own.
    const QList<int> order = job.settings.sheetOrder(job.settings.sheetsFor(int(pages.size())));
    header.cupsInteger[0] = unsigned(order.size());

    Output output{&out, nullptr};
    cups_raster_t* raster = cupsRasterOpenIO(writeOut, &output, CUPS_RASTER_WRITE_PWG);
    auto written = [&](bool ok) {
        if (abandon && *abandon)
            throw PrintAbandoned();
        if (output.failure)
            std::rethrow_exception(output.failure);
        if (!ok)
            fail(PrintFailed, QStringLiteral("Die Seite ließ sich nicht an den Drucker geben."));
    };
    struct Close {
        cups_raster_t* raster;
        ~Close() { cupsRasterClose(raster); }
    } close{raster};
    written(raster != nullptr);
    for (const int index : order) {
        if (index < 0) {
            written(cupsRasterWriteHeader2(raster, &header) != 0);
            std::vector<unsigned char> white(header.cupsBytesPerLine, 0xff);
            for (unsigned y = 0; y < header.cupsHeight; ++y)
                written(cupsRasterWritePixels(raster, white.data(), header.cupsBytesPerLine) != 0);
            continue;
        }
        if (job.settings.pagesPerSheet > 1) {
            // Several on a sheet: drawn band by band, turned and reduced, then handed row by
            // row.
            written(cupsRasterWriteHeader2(raster, &header) != 0);
            const int rows = int(header.cupsHeight);
            const int step = sheetBandRows(int(header.cupsBytesPerLine));
            for (int top = 0; top < rows; top += step) {
                const QImage band =
                    drawSheetBand(job, pages, index, QSize(int(header.cupsWidth), rows),
                                  QSizeF(header.HWResolution[0], header.HWResolution[1]), colour,
                                  top, std::min(step, rows - top), abandon);
                for (int y = 0; y < band.height(); ++y)
                    written(cupsRasterWritePixels(raster, const_cast<uchar*>(band.constScanLine(y)),
                                                  header.cupsBytesPerLine) != 0);
            }
            continue;
        }
        PageReader& page = *pages[std::size_t(index)];
        Sheet sheet(header, placeOnPaper(job, page).target, page.size(), colour);
        written(cupsRasterWriteHeader2(raster, &header) != 0);
        int y = 0;
        const int rows = int(header.cupsHeight);
        auto put = [&](const unsigned char* line) {
            written(cupsRasterWritePixels(raster, const_cast<unsigned char*>(line),
                                          header.cupsBytesPerLine) != 0);
            ++y;
        };
        // Above the page (fitted, it is centred), white; then the page's rows as its bands
        // come, top to bottom; what is left below it, white.
        while (y < rows && sheet.pageRowOf(y) < 0 && y < sheet.top())
            put(sheet.white());
        QString why;
        const bool read = page.forEachBand(
            BandRows,
            [&](const QImage& band, int top) {
                for (int r; y < rows && (r = sheet.pageRowOf(y)) >= 0 && r < top + band.height();)
                    put(sheet.from(band, r - top, r));
            },
            &why);
        if (!read)
            fail(PageUnreadableForPrint,
                 QStringLiteral("Die Seite „%1“ kann nicht gedruckt werden: %2")
                     .arg(job.pageFile, why));
        while (y < rows)
            put(sheet.white());
    }
}

} // namespace imaging
