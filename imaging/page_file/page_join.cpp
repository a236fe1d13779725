#include "imaging/page_file/page_join.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"
#include "imaging/page_file/page_reader.h"
#include "imaging/page_file/page_writer.h"

#include <cstring>
#include <vector>

namespace imaging {

namespace {

// One page's rows into the writer's next page, in the kind of pixels they were scanned in.
void copyPage(const PageFrom& from, PageWriter& writer)
{
    PageReader page;
    QString why;
    const auto failed = [&from](const QString& reason) {
        throw DispatchError(
            ErrorNumber::PageFileFailed,
            QStringLiteral("Die gescannte Seite „%1“ ist nicht lesbar: %2").arg(from.file, reason),
            scanProgId());
    };
    if (!page.open(from.file, &why, from.page))
        failed(why);
    PageFormat format;
    format.width = page.size().width();
    format.height = page.size().height();
    format.xDpi = page.xDpi();
    format.yDpi = page.yDpi();
    format.name = from.name;
    const PageReader::BandFormat kind = page.bandFormat();
    format.samplesPerPixel = kind == PageReader::BandFormat::Colour ? 3 : 1;
    format.bitsPerSample = kind == PageReader::BandFormat::Bilevel ? 1 : 8;
    writer.begin(format);
    std::vector<std::uint8_t> row(std::size_t(writer.rowBytes()));
    // A few strips at a time: twenty pages joined take no more memory than a feeder's stack.
    const bool read = page.forEachBand(
        32,
        [&](const QImage& band, int top) {
            const QImage rows = kind == PageReader::BandFormat::Colour
                                    ? band.convertToFormat(QImage::Format_RGB888)
                                : kind == PageReader::BandFormat::Grey
                                    ? band.convertToFormat(QImage::Format_Grayscale8)
                                    : band;
            for (int y = 0; y < rows.height(); ++y) {
                std::memcpy(row.data(), rows.constScanLine(y), row.size());
                // The band's line art has white as 1, the file's black.
                if (kind == PageReader::BandFormat::Bilevel)
                    for (std::uint8_t& byte : row)
                        byte = std::uint8_t(~byte);
                writer.writeRow(row.data(), top + y);
            }
        },
        &why);
    if (!read)
        failed(why);
}

} // namespace

void joinPages(const QList<PageFrom>& pages, const QString& pageFile)
{
    PageWriter writer(pageFile);
    for (const PageFrom& page : pages)
        copyPage(page, writer);
    writer.commit();
}

int pagesIn(const QString& file)
{
    PageReader first;
    QString why;
    return first.open(file, &why) ? first.pageCount() : 0;
}

} // namespace imaging
