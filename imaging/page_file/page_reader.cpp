#include "imaging/page_file/page_reader.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <tiffio.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <new>
#include <utility>
#include <vector>

namespace imaging {

namespace {

// Sides beyond what the program measures pages in (int); a damaged or hostile file that
// claims more is an unreadable page.
constexpr std::uint32_t MaxSide = 1u << 30;

// Without these libtiff prints its complaints on stderr: each reader keeps its own last
// error as the reason to give, and warnings are dropped.
int collectTiffError(TIFF*, void* lastError, const char*, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    *static_cast<QString*>(lastError) = QString::fromLocal8Bit(text);
    return 1;
}
int dropTiffWarning(TIFF*, void*, const char*, const char*, va_list) { return 1; }

} // namespace

PageReader::~PageReader() { close(); }

void PageReader::close()
{
    if (m_tiff)
        TIFFClose(m_tiff);
    m_tiff = nullptr;
    m_whole = QImage();
    m_pages = 0;
    m_xDpi = m_yDpi = 0;
    m_name.clear();
}

bool PageReader::open(const QString& path, QString* error, int page)
{
    close();
    m_path = path;
    m_page = page;
    const QFileInfo info(path);
    if (!info.isFile()) {
        *error = info.exists() ? QStringLiteral("keine Datei") : QStringLiteral("nicht vorhanden");
        return false;
    }
    QFile probe(path);
    QByteArray magic;
    if (probe.open(QIODevice::ReadOnly))
        magic = probe.read(4);
    const bool tiffFile = magic.startsWith("II*") || magic.startsWith("MM\0*") ||
                          magic.startsWith("II+") || magic.startsWith("MM\0+");
    if (tiffFile) {
        m_tiffError.clear();
        TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
        TIFFOpenOptionsSetErrorHandlerExtR(options, collectTiffError, &m_tiffError);
        TIFFOpenOptionsSetWarningHandlerExtR(options, dropTiffWarning, nullptr);
        m_tiff = TIFFOpenExt(QFile::encodeName(path).constData(), "rm", options);
        TIFFOpenOptionsFree(options);
        if (m_tiff && page > 0) {
            if (!TIFFSetDirectory(m_tiff, tdir_t(page))) {
                *error = QStringLiteral("Seite %1 fehlt in der Datei").arg(page + 1);
                close();
                return false;
            }
        }
        std::uint32_t w = 0, h = 0;
        if (!m_tiff || !TIFFGetField(m_tiff, TIFFTAG_IMAGEWIDTH, &w) ||
            !TIFFGetField(m_tiff, TIFFTAG_IMAGELENGTH, &h) || w == 0 || h == 0 || w > MaxSide ||
            h > MaxSide || TIFFIsTiled(m_tiff)) {
            *error =
                m_tiffError.isEmpty() ? QStringLiteral("keine lesbare TIFF-Seite") : m_tiffError;
            close();
            return false;
        }
        m_size = QSize(int(w), int(h));
        float x = 0, y = 0;
        std::uint16_t unit = RESUNIT_INCH;
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_RESOLUTIONUNIT, &unit);
        if (TIFFGetField(m_tiff, TIFFTAG_XRESOLUTION, &x) &&
            TIFFGetField(m_tiff, TIFFTAG_YRESOLUTION, &y) && unit != RESUNIT_NONE) {
            const double factor = unit == RESUNIT_CENTIMETER ? 2.54 : 1.0;
            m_xDpi = x * factor;
            m_yDpi = y * factor;
        }
        if (const char* name = nullptr; TIFFGetField(m_tiff, TIFFTAG_PAGENAME, &name) && name)
            m_name = QByteArray(name).left(256);
        m_whitening.reset();
        if (const char* text = nullptr;
            TIFFGetField(m_tiff, TIFFTAG_IMAGEDESCRIPTION, &text) && text)
            m_whitening = Whitening::fromText(QByteArray(text).left(256));
        std::uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG, photometric = 0;
        std::uint16_t fillOrder = FILLORDER_MSB2LSB;
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_BITSPERSAMPLE, &bits);
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_SAMPLESPERPIXEL, &samples);
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_PLANARCONFIG, &planar);
        TIFFGetFieldDefaulted(m_tiff, TIFFTAG_FILLORDER, &fillOrder);
        const bool hasPhotometric = TIFFGetField(m_tiff, TIFFTAG_PHOTOMETRIC, &photometric);
        const bool grey =
            photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE;
        m_minIsWhite = photometric == PHOTOMETRIC_MINISWHITE;
        m_layout = Layout::Rgba;
        if (hasPhotometric && planar == PLANARCONFIG_CONTIG && fillOrder == FILLORDER_MSB2LSB) {
            if (photometric == PHOTOMETRIC_RGB && samples == 3 && bits == 8)
                m_layout = Layout::Rgb8;
            else if (grey && samples == 1 && bits == 8)
                m_layout = Layout::Grey8;
            else if (grey && samples == 1 && bits == 16)
                m_layout = Layout::Grey16;
            else if (grey && samples == 1 && bits == 1)
                m_layout = Layout::Bilevel;
        }
        return true;
    }
    QImageReader reader(path);
    m_whole = reader.read();
    if (m_whole.isNull()) {
        *error = reader.errorString();
        return false;
    }
    m_whole = m_whole.convertToFormat(QImage::Format_RGB32);
    m_size = m_whole.size();
    if (m_whole.dotsPerMeterX() > 0 && m_whole.dotsPerMeterY() > 0) {
        m_xDpi = m_whole.dotsPerMeterX() * 0.0254;
        m_yDpi = m_whole.dotsPerMeterY() * 0.0254;
    }
    return true;
}

int PageReader::pageCount() const
{
    // Counted when asked, not at every opening: the count walks all the file's directories.
    if (m_pages == 0)
        m_pages = m_tiff ? std::max(1, int(TIFFNumberOfDirectories(m_tiff))) : 1;
    return m_pages;
}

PageReader::BandFormat PageReader::bandFormat() const
{
    switch (m_whole.isNull() ? m_layout : Layout::Rgba) {
    case Layout::Grey8:
    case Layout::Grey16:
        return BandFormat::Grey;
    case Layout::Bilevel:
        return BandFormat::Bilevel;
    default:
        return BandFormat::Colour;
    }
}

bool PageReader::forEachBand(int maxRows, const std::function<void(const QImage&, int)>& sink,
                             QString* error, int firstRow, int endRow)
{
    const int end = endRow < 0 ? m_size.height() : std::min(endRow, m_size.height());
    if (!m_whole.isNull()) {
        for (int y = firstRow; y < end; y += maxRows)
            sink(m_whole.copy(0, y, m_size.width(), std::min(maxRows, end - y)), y);
        return true;
    }
    if (!m_tiff) {
        *error = QStringLiteral("keine Seite geöffnet");
        return false;
    }
    m_tiffError.clear();
    if (m_whitening && m_whitening->changes() && !m_asScanned) {
        // The original type's paper white and tone, as the scan recorded them.
        const Whitening::Curves curves = m_whitening->curves();
        return readTiffBands(
            maxRows,
            [&sink, &curves](const QImage& band, int y) {
                QImage made = band;
                Whitening::apply(made, curves);
                sink(made, y);
            },
            error, firstRow, end);
    }
    return readTiffBands(maxRows, sink, error, firstRow, end);
}

namespace {

// Rows per strip as the file has them, and rows per band: whole strips, at most maxRows
// unless a single strip is larger.
std::pair<int, int> stripAndBandRows(tiff* file, int height, int maxRows)
{
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(file, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    const int stripRows = int(std::min<std::uint32_t>(rowsPerStrip, std::uint32_t(height)));
    return {stripRows, std::max(stripRows, (maxRows / std::max(1, stripRows)) * stripRows)};
}

} // namespace

namespace {

// A band whose rows lie back to back, without Qt's padding to four bytes: strips of the page
// file are read straight into it.
QImage packedBand(int width, int rows, QImage::Format format, tmsize_t rowBytes)
{
    void* data = std::malloc(size_t(rowBytes) * size_t(rows));
    if (!data)
        throw std::bad_alloc();
    return QImage(
        static_cast<uchar*>(data), width, rows, qsizetype(rowBytes), format,
        [](void* bytes) { std::free(bytes); }, data);
}

} // namespace

bool PageReader::readTiffBands(int maxRows, const std::function<void(const QImage&, int)>& sink,
                               QString* error, int firstRow, int endRow)
{
    const int width = m_size.width();
    const int height = m_size.height();
    const auto [stripRows, bandRows] = stripAndBandRows(m_tiff, height, maxRows);
    // Whole strips from the one holding the first row to the one holding the last.
    const int start = firstRow / stripRows * stripRows;
    const int stop = std::min(height, (endRow + stripRows - 1) / stripRows * stripRows);
    const bool native = m_layout != Layout::Rgba && m_layout != Layout::Grey16;
    const bool wide = m_layout == Layout::Grey16;
    const QImage::Format format = m_layout == Layout::Rgb8            ? QImage::Format_RGB888
                                  : m_layout == Layout::Grey8 || wide ? QImage::Format_Grayscale8
                                  : m_layout == Layout::Bilevel       ? QImage::Format_Mono
                                                                      : QImage::Format_RGB32;
    const tmsize_t rowBytes = TIFFScanlineSize(m_tiff);
    // Native kinds: the strips are read straight into the band, whose rows lie back to back
    // as in the file. Anything else comes through libtiff's RGBA conversion: each strip
    // bottom row first, 0xAABBGGRR per pixel.
    std::vector<std::uint32_t> raster(native || wide ? 0 : size_t(width) * size_t(stripRows));
    // 16-bit grey: each strip read as it is, then its high levels rounded to 8 bits.
    std::vector<std::uint16_t> grey16(wide ? size_t(width) * size_t(stripRows) : 0);
    QImage band;
    int bandStart = start;
    int filled = 0;
    for (int row = start; row < stop; row += stripRows) {
        const int rows = std::min(stripRows, stop - row);
        // A band nobody kept is filled again: fresh memory costs a page fault every 4 KB.
        const int rowsInBand = std::min(bandRows, stop - row);
        if (filled == 0 && (!band.isDetached() || band.height() != rowsInBand)) {
            band = native ? packedBand(width, rowsInBand, format, rowBytes)
                          : QImage(width, rowsInBand, format);
            // Black as 0, white as 1 in line art, whatever the file says: printing knows such
            // pages as bitmaps and keeps them sharp and small.
            if (m_layout == Layout::Bilevel)
                band.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
        }
        std::uint8_t* const to = band.scanLine(filled);
        const tstrip_t strip = TIFFComputeStrip(m_tiff, std::uint32_t(row), 0);
        const bool read =
            native ? TIFFReadEncodedStrip(m_tiff, strip, to, rowBytes * rows) >= rowBytes * rows
            : wide ? TIFFReadEncodedStrip(m_tiff, strip, grey16.data(), rowBytes * rows) >=
                         rowBytes * rows
                   : TIFFReadRGBAStrip(m_tiff, std::uint32_t(row), raster.data()) != 0;
        if (!read) {
            *error =
                m_tiffError.isEmpty() ? QStringLiteral("die Seite ist unvollständig") : m_tiffError;
            return false;
        }
        if (native && m_minIsWhite) {
            // 255 - v for grey, all bits flipped for line art.
            for (tmsize_t i = 0; i < rowBytes * rows; ++i)
                to[i] = std::uint8_t(~to[i]);
        } else if (wide) {
            for (int r = 0; r < rows; ++r) {
                const std::uint16_t* from = grey16.data() + size_t(r) * size_t(width);
                std::uint8_t* line = band.scanLine(filled + r);
                for (int x = 0; x < width; ++x) {
                    const auto v = std::uint8_t((from[x] * 255u + 32767u) / 65535u);
                    line[x] = m_minIsWhite ? std::uint8_t(255 - v) : v;
                }
            }
        } else if (!native) {
            for (int r = 0; r < rows; ++r) {
                const std::uint32_t* from = raster.data() + size_t(rows - 1 - r) * size_t(width);
                QRgb* line = reinterpret_cast<QRgb*>(band.scanLine(filled + r));
                for (int x = 0; x < width; ++x)
                    line[x] = qRgb(int(TIFFGetR(from[x])), int(TIFFGetG(from[x])),
                                   int(TIFFGetB(from[x])));
            }
        }
        filled += rows;
        if (filled == band.height()) {
            sink(band, bandStart);
            bandStart += filled;
            filled = 0;
        }
    }
    return true;
}

namespace {

// Adds one row of the page to the column sums of its output row, byte by byte.
void addRow(const std::uint8_t* __restrict line, std::vector<std::uint32_t>& columns)
{
    // Restricted: the sums never overlap the row, so the compiler may add many bytes at once.
    std::uint32_t* __restrict to = columns.data();
    const size_t n = columns.size();
    for (size_t i = 0; i < n; ++i)
        to[i] += line[i];
}

// A pixel of the copy from its levels: grey, or red, green and blue.
template <int Channels> QRgb pixelOf(const std::uint32_t* levels)
{
    if constexpr (Channels == 1)
        return qRgb(int(levels[0]), int(levels[0]), int(levels[0]));
    else
        return qRgb(int(levels[0]), int(levels[1]), int(levels[2]));
}

// Turns the column sums of factor rows into one output row: each output pixel is the mean
// of a block of factor × factor pixels of Channels bytes each.
template <int Channels>
void averageBlocks(const std::vector<std::uint32_t>& columns, int outW, int factor, QRgb* out)
{
    // Dividing by factor × factor through a multiplication: a division per byte took three
    // quarters of the time. Exact while a block's sum stays below 2^40 / n, that is for any
    // factor under 256; beyond, at most one level too light.
    const std::uint64_t n = std::uint64_t(factor) * std::uint64_t(factor);
    const std::uint64_t reciprocal = (std::uint64_t(1) << 40) / n + 1;
    for (int ox = 0; ox < outW; ++ox) {
        const std::uint32_t* p = columns.data() + size_t(ox) * size_t(factor) * Channels;
        std::uint32_t block[Channels] = {};
        for (int i = 0; i < factor; ++i, p += Channels)
            for (int c = 0; c < Channels; ++c)
                block[c] += p[c];
        for (int c = 0; c < Channels; ++c)
            block[c] = std::uint32_t((block[c] * reciprocal) >> 40);
        out[ox] = pixelOf<Channels>(block);
    }
}

// A row of a page within the display's size, as it is.
template <int Channels> void copyRow(const std::uint8_t* row, int outW, QRgb* out)
{
    for (int x = 0; x < outW; ++x, row += Channels) {
        std::uint32_t levels[Channels];
        for (int c = 0; c < Channels; ++c)
            levels[c] = row[c];
        out[x] = pixelOf<Channels>(levels);
    }
}

// One row of line art as grey bytes (0 or 255), eight pixels a byte through a table.
void expandBilevel(const QImage& band, int row, std::vector<std::uint8_t>& grey)
{
    const std::uint8_t zero = std::uint8_t(qGray(band.color(0)));
    const std::uint8_t one = std::uint8_t(qGray(band.color(1)));
    // The table for this band's two levels; a band of line art has hundreds of rows.
    thread_local std::array<std::array<std::uint8_t, 8>, 256> table{};
    thread_local int tableFor = -1;
    const int levels = zero << 8 | one;
    if (tableFor != levels) {
        for (int byte = 0; byte < 256; ++byte)
            for (int bit = 0; bit < 8; ++bit)
                table[size_t(byte)][size_t(bit)] = (byte & (0x80 >> bit)) ? one : zero;
        tableFor = levels;
    }
    const std::uint8_t* line = band.constScanLine(row);
    const size_t bytes = size_t(band.width() + 7) / 8;
    grey.resize(bytes * 8);
    for (size_t i = 0; i < bytes; ++i)
        std::memcpy(grey.data() + i * 8, table[line[i]].data(), 8);
}

} // namespace

int PageReader::bandRows(int maxRows) const
{
    return m_tiff ? stripAndBandRows(m_tiff, m_size.height(), maxRows).second : maxRows;
}

QImage PageReader::reducedCopy(QSize maxSize, QString* error)
{
    const int factor = std::max({1, int(std::ceil(double(m_size.width()) / maxSize.width())),
                                 int(std::ceil(double(m_size.height()) / maxSize.height()))});
    if (factor == 1 && !m_whole.isNull())
        return m_whole;
    const int outW = std::max(1, m_size.width() / factor);
    const int outH = std::max(1, m_size.height() / factor);
    // Grey pages stay grey: a third of the memory, and nothing to average twice.
    const bool grey = m_tiff && m_layout != Layout::Rgb8 && m_layout != Layout::Rgba;
    const int channels = grey ? 1 : 3;
    const QImage::Format wanted = grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    // 32-bit pixels: the display scales this copy at every change of size, fastest from those.
    QImage out(outW, outH, QImage::Format_RGB32);
    out.fill(Qt::white);
    // Rows of the copy are written by address: the halves below must not share the image.
    std::uint8_t* const bits = out.bits();
    const qsizetype bytesPerLine = out.bytesPerLine();

    // The copy's rows [outFirst, outEnd), averaged from the page's rows they cover.
    const auto reduce = [&](PageReader& page, int outFirst, int outEnd, QString* why) {
        // Column sums of each output row's rows until all of them have arrived.
        std::vector<std::uint32_t> columns(size_t(outW) * size_t(factor) * size_t(channels));
        std::vector<std::uint8_t> expanded;
        int rowsInSum = 0;
        int outY = outFirst;
        // A page file's strip at a time (one row asked for): summed while it is still in the
        // cache. Other pages are whole images already.
        return page.forEachBand(
            page.m_tiff ? 1 : 512,
            [&](const QImage& band, int y) {
                const bool bilevel = band.format() == QImage::Format_Mono;
                const QImage rows =
                    band.format() == wanted || bilevel ? band : band.convertToFormat(wanted);
                for (int r = std::max(0, outFirst * factor - y); r < rows.height() && outY < outEnd;
                     ++r) {
                    const std::uint8_t* row = rows.constScanLine(r);
                    if (bilevel) {
                        expandBilevel(rows, r, expanded);
                        row = expanded.data();
                    }
                    QRgb* const to = reinterpret_cast<QRgb*>(bits + outY * bytesPerLine);
                    if (factor == 1) { // nothing to average: the page's rows are the copy's
                        if (grey)
                            copyRow<1>(row, outW, to);
                        else
                            copyRow<3>(row, outW, to);
                        ++outY;
                        continue;
                    }
                    addRow(row, columns);
                    if (++rowsInSum == factor) {
                        ++outY;
                        if (grey)
                            averageBlocks<1>(columns, outW, factor, to);
                        else
                            averageBlocks<3>(columns, outW, factor, to);
                        std::fill(columns.begin(), columns.end(), 0u);
                        rowsInSum = 0;
                    }
                }
            },
            why, outFirst * factor, outEnd * factor);
    };

    // A large page in many strips is read in two halves at once, each through a reader of
    // its own.
    bool ok = false;
    if (m_tiff && double(m_size.width()) * m_size.height() > 8e6 &&
        stripAndBandRows(m_tiff, m_size.height(), 0).first <= m_size.height() / 8) {
        const int half = outH / 2;
        QString otherWhy;
        auto bottom = std::async(std::launch::async, [&] {
            PageReader other;
            return other.open(m_path, &otherWhy, m_page) && reduce(other, half, outH, &otherWhy);
        });
        ok = reduce(*this, 0, half, error);
        if (!bottom.get() && ok) {
            *error = otherWhy;
            ok = false;
        }
    } else {
        ok = reduce(*this, 0, outH, error);
    }
    if (!ok)
        return {};
    // Keep the page's physical size with the copy.
    if (m_xDpi > 0 && m_yDpi > 0) {
        out.setDotsPerMeterX(int(std::lround(m_xDpi / factor / 0.0254)));
        out.setDotsPerMeterY(int(std::lround(m_yDpi / factor / 0.0254)));
    }
    return out;
}

} // namespace imaging
