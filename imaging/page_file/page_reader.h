#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include "imaging/page_file/paper_white.h"

#include <functional>
#include <optional>

struct tiff;

namespace imaging {

// Reads a page file band by band, so that a large page (a 1200 dpi colour A4 page is some
// 420 MB as pixels) is never in memory as a whole. TIFF files are read strip by strip with
// libtiff; other image files with Qt as a whole.
class PageReader {
public:
    PageReader() = default;
    ~PageReader();
    PageReader(const PageReader&) = delete;
    PageReader& operator=(const PageReader&) = delete;

    // False with a German reason when the file cannot be read as a page. A page file from the
    // document feeder holds several pages, one TIFF directory each: page counts from 0.
    bool open(const QString& path, QString* error, int page = 0);
    // The pages in the file (1 for anything but a TIFF of several).
    int pageCount() const;

    // How the bands come: colour, grey, or line art with black as 0 and white as 1.
    enum class BandFormat { Colour, Grey, Bilevel };
    BandFormat bandFormat() const;

    QSize size() const { return m_size; }
    // Dots per inch as the file records them; 0 when it records none.
    double xDpi() const { return m_xDpi; }
    double yDpi() const { return m_yDpi; }
    // The name the file gives the page (TIFF's page name); empty when it gives none.
    QByteArray name() const { return m_name; }

    // Hands the rows top to bottom in bands of at most maxRows with the y of each band's first
    // row. Common scans come in their own kind (8-bit colour as RGB888, 8-bit grey as
    // Grayscale8, line art as Mono), anything else as RGB32. False with a reason when reading
    // fails half-way.
    // Only the rows [firstRow, endRow) when given (bands then hold whole strips around them).
    bool forEachBand(int maxRows, const std::function<void(const QImage&, int)>& sink,
                     QString* error, int firstRow = 0, int endRow = -1);

    // The original type's treatment the scan recorded, which forEachBand applies unless told
    // to hand the page as scanned (for a reader that draws the page and whitens what it drew,
    // once, as two or four on a sheet do).
    const std::optional<Whitening>& whitening() const { return m_whitening; }
    void setAsScanned(bool asScanned) { m_asScanned = asScanned; }

    // The rows in each band forEachBand(maxRows, ...) hands from the top (the last may have
    // fewer).
    int bandRows(int maxRows) const;

    // A copy no larger than maxSize, reduced by averaging blocks of pixels; a large page
    // with two threads.
    QImage reducedCopy(QSize maxSize, QString* error);

private:
    // How the TIFF's rows are laid out: the kinds Qt holds as they are, or anything else, read
    // through libtiff's RGBA conversion; 16-bit grey is handed as 8-bit grey.
    enum class Layout { Rgba, Rgb8, Grey8, Grey16, Bilevel };

    void close();
    bool readTiffBands(int maxRows, const std::function<void(const QImage&, int)>& sink,
                       QString* error, int firstRow, int endRow);

    QString m_path;
    int m_page = 0; // of the file's pages
    tiff* m_tiff = nullptr;
    QString m_tiffError; // libtiff's last complaint about this file
    Layout m_layout = Layout::Rgba;
    bool m_minIsWhite = false;
    QImage m_whole; // files Qt reads as a whole
    QSize m_size;
    double m_xDpi = 0;
    double m_yDpi = 0;
    QByteArray m_name;
    std::optional<Whitening> m_whitening; // as the scan recorded it
    bool m_asScanned = false;
    mutable int m_pages = 0; // 0: not counted yet
};

} // namespace imaging
