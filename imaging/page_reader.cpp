#include "imaging/page_reader.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <tiffio.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace imaging {

namespace {

// Without this libtiff prints its complaints on stderr; the caller gets them as a reason.
QString g_tiffError;
void collectTiffError(const char*, const char* format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    g_tiffError = QString::fromLocal8Bit(text);
}

} // namespace

PageReader::~PageReader() { close(); }

void PageReader::close()
{
    if (m_tiff)
        TIFFClose(m_tiff);
    m_tiff = nullptr;
    m_whole = QImage();
}

bool PageReader::open(const QString& path, QString* error)
{
    close();
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
        TIFFSetErrorHandler(collectTiffError);
        TIFFSetWarningHandler(nullptr);
        g_tiffError.clear();
        m_tiff = TIFFOpen(QFile::encodeName(path).constData(), "rm");
        std::uint32_t w = 0, h = 0;
        if (!m_tiff || !TIFFGetField(m_tiff, TIFFTAG_IMAGEWIDTH, &w) ||
            !TIFFGetField(m_tiff, TIFFTAG_IMAGELENGTH, &h) || w == 0 || h == 0 ||
            TIFFIsTiled(m_tiff)) {
            *error =
                g_tiffError.isEmpty() ? QStringLiteral("keine lesbare TIFF-Seite") : g_tiffError;
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

bool PageReader::forEachBand(int maxRows, const std::function<void(const QImage&, int)>& sink,
                             QString* error)
{
    if (!m_whole.isNull()) {
        for (int y = 0; y < m_size.height(); y += maxRows)
            sink(m_whole.copy(0, y, m_size.width(), std::min(maxRows, m_size.height() - y)), y);
        return true;
    }
    if (!m_tiff) {
        *error = QStringLiteral("keine Seite geöffnet");
        return false;
    }
    std::uint32_t rowsPerStrip = 0;
    TIFFGetFieldDefaulted(m_tiff, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip);
    const int width = m_size.width();
    const int height = m_size.height();
    const int stripRows = int(std::min<std::uint32_t>(rowsPerStrip, std::uint32_t(height)));
    // A band holds whole strips.
    const int bandRows = std::max(stripRows, (maxRows / std::max(1, stripRows)) * stripRows);
    std::vector<std::uint32_t> raster(size_t(width) * size_t(stripRows));
    QImage band;
    int bandStart = 0;
    int filled = 0;
    g_tiffError.clear();
    for (int row = 0; row < height; row += stripRows) {
        if (!TIFFReadRGBAStrip(m_tiff, std::uint32_t(row), raster.data())) {
            *error =
                g_tiffError.isEmpty() ? QStringLiteral("die Seite ist unvollständig") : g_tiffError;
            return false;
        }
        const int rows = std::min(stripRows, height - row);
        if (band.isNull() || filled == 0)
            band = QImage(width, std::min(bandRows, height - row), QImage::Format_RGB32);
        // libtiff hands each strip bottom row first, one 0xAABBGGRR word per pixel.
        for (int r = 0; r < rows; ++r) {
            const std::uint32_t* from = raster.data() + size_t(rows - 1 - r) * size_t(width);
            auto* to = reinterpret_cast<QRgb*>(band.scanLine(filled + r));
            for (int x = 0; x < width; ++x)
                to[x] =
                    qRgb(int(TIFFGetR(from[x])), int(TIFFGetG(from[x])), int(TIFFGetB(from[x])));
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

QImage PageReader::reducedCopy(QSize maxSize, QString* error)
{
    const int factor = std::max({1, int(std::ceil(double(m_size.width()) / maxSize.width())),
                                 int(std::ceil(double(m_size.height()) / maxSize.height()))});
    if (factor == 1 && !m_whole.isNull())
        return m_whole;
    const int outW = std::max(1, m_size.width() / factor);
    const int outH = std::max(1, m_size.height() / factor);
    QImage out(outW, outH, QImage::Format_RGB32);
    out.fill(Qt::white);
    // Sums of each output row's blocks until all their rows have arrived.
    std::vector<std::uint32_t> sums(size_t(outW) * 3);
    int rowsInSum = 0;
    int outY = 0;
    const bool ok = forEachBand(
        512,
        [&](const QImage& band, int) {
            for (int r = 0; r < band.height() && outY < outH; ++r) {
                const auto* line = reinterpret_cast<const QRgb*>(band.constScanLine(r));
                for (int ox = 0; ox < outW; ++ox) {
                    std::uint32_t* s = &sums[size_t(ox) * 3];
                    for (int i = 0; i < factor; ++i) {
                        const QRgb p = line[ox * factor + i];
                        s[0] += std::uint32_t(qRed(p));
                        s[1] += std::uint32_t(qGreen(p));
                        s[2] += std::uint32_t(qBlue(p));
                    }
                }
                if (++rowsInSum == factor) {
                    const std::uint32_t n = std::uint32_t(factor * factor);
                    auto* to = reinterpret_cast<QRgb*>(out.scanLine(outY++));
                    for (int ox = 0; ox < outW; ++ox) {
                        const std::uint32_t* s = &sums[size_t(ox) * 3];
                        to[ox] = qRgb(int(s[0] / n), int(s[1] / n), int(s[2] / n));
                    }
                    std::fill(sums.begin(), sums.end(), 0u);
                    rowsInSum = 0;
                }
            }
        },
        error);
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
