#include "imaging/page_file/card_sides.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"
#include "imaging/page_file/page_reader.h"
#include "imaging/page_file/page_writer.h"

#include <cstring>
#include <vector>

namespace imaging::card {

bool isSide(const PageReader& page) { return page.name() == FrontName || page.name() == BackName; }

bool isCardCopy(const QString& pageFile)
{
    PageReader first;
    QString why;
    return first.open(pageFile, &why) && isSide(first);
}

namespace {

// One side's rows into the writer's next page, in the kind of pixels they were scanned in.
void copySide(const QString& path, const char* name, PageWriter& writer)
{
    PageReader side;
    QString why;
    const auto failed = [&path](const QString& reason) {
        throw DispatchError(ErrorNumber::PageFileFailed,
                            QStringLiteral("Die gescannte Seite „%1“ des Ausweises ist nicht "
                                           "lesbar: %2")
                                .arg(path, reason),
                            scanProgId());
    };
    if (!side.open(path, &why))
        failed(why);
    PageFormat format;
    format.width = side.size().width();
    format.height = side.size().height();
    format.xDpi = side.xDpi();
    format.yDpi = side.yDpi();
    format.name = name;
    const PageReader::BandFormat kind = side.bandFormat();
    format.samplesPerPixel = kind == PageReader::BandFormat::Colour ? 3 : 1;
    format.bitsPerSample = kind == PageReader::BandFormat::Bilevel ? 1 : 8;
    writer.begin(format);
    std::vector<std::uint8_t> row(std::size_t(writer.rowBytes()));
    const bool read = side.forEachBand(
        256,
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

void joinSides(const QString& front, const QString& back, const QString& pageFile)
{
    PageWriter writer(pageFile);
    copySide(front, FrontName, writer);
    copySide(back, BackName, writer);
    writer.commit();
}

} // namespace imaging::card
