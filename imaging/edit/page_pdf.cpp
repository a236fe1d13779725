// The page laid out as PDF for the printer: band by band, the bands compressed on all cores
// at once, and put together by qpdf.

#include "imaging/edit/page_pdf.h"
#include "dispatch/dispatch_error.h"
#include "imaging/page_file/page_reader.h"

#include <QFile>
#include <QList>
#include <QThread>

// qpdf without its old smart pointer: std::shared_ptr throughout.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

// jpeglib.h needs size_t and FILE declared before it.
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

namespace imaging {

namespace {

using ErrorNumber::PageUnreadableForPrint;
using ErrorNumber::PrintFailed;

// The quality Qt's own PDF engine gives photographs: on paper no different from the scan.
constexpr int JpegQuality = 94;
constexpr int BandRows = 512; // at most, in whole strips of the page file

[[noreturn]] void fail(std::int32_t number, const QString& text)
{
    throw DispatchError(number, text, editProgId());
}

// How a page's bands go into the PDF.
enum class BandKind {
    Rgb,    // JPEG, DeviceRGB
    Grey,   // JPEG, DeviceGray
    Bitmap, // 1 bit a pixel, black 0; qpdf deflates it
};

BandKind kindOf(const QImage& band)
{
    // Line art stays a bitmap (sharp and small) when black is 0 and white 1, as page files
    // read strip by strip always are; grey stays grey; anything else becomes colour.
    if (band.format() == QImage::Format_Mono &&
        band.colorTable() == QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)})
        return BandKind::Bitmap;
    return band.format() == QImage::Format_Grayscale8 ? BandKind::Grey : BandKind::Rgb;
}

using Bytes = std::vector<unsigned char>;

struct JpegFailure {
    jpeg_error_mgr manager;
    std::jmp_buf back;
};

[[noreturn]] void jpegFailed(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegFailure*>(info->err)->back, 1);
}

// libjpeg's errors jump back here (by default it would end the program). Nothing with a
// destructor lives in this function. The caller frees *out.
bool compressJpeg(const unsigned char* pixels, std::size_t bytesPerLine, int width, int height,
                  bool grey, unsigned char** out, unsigned long* outSize)
{
    jpeg_compress_struct info;
    JpegFailure failure;
    info.err = jpeg_std_error(&failure.manager);
    failure.manager.error_exit = jpegFailed;
    if (setjmp(failure.back)) {
        jpeg_destroy_compress(&info);
        return false;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, out, outSize);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = grey ? 1 : 3;
    info.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, JpegQuality, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(pixels + info.next_scanline * bytesPerLine);
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

// The band's bytes as the PDF's image stream holds them.
Bytes encodeBand(const QImage& band, BandKind kind)
{
    if (kind == BandKind::Bitmap) {
        // PDF rows end at a byte, Qt's at four.
        const std::size_t rowBytes = std::size_t(band.width() + 7) / 8;
        Bytes bits(rowBytes * std::size_t(band.height()));
        for (int y = 0; y < band.height(); ++y)
            std::memcpy(bits.data() + std::size_t(y) * rowBytes, band.constScanLine(y), rowBytes);
        return bits;
    }
    const QImage::Format wanted =
        kind == BandKind::Grey ? QImage::Format_Grayscale8 : QImage::Format_RGB888;
    const QImage pixels = band.format() == wanted ? band : band.convertToFormat(wanted);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const bool ok =
        compressJpeg(pixels.constBits(), std::size_t(pixels.bytesPerLine()), pixels.width(),
                     pixels.height(), kind == BandKind::Grey, &jpeg, &size);
    Bytes encoded;
    if (ok)
        encoded.assign(jpeg, jpeg + size);
    std::free(jpeg);
    if (!ok)
        throw std::bad_alloc(); // writing to memory, libjpeg fails for want of it only
    return encoded;
}

// An image stream's bytes, handed to qpdf when it writes the stream: the band may still be
// being compressed then, and the file grows as the bands come.
class BandStream : public QPDFObjectHandle::StreamDataProvider {
public:
    explicit BandStream(std::shared_future<Bytes> bytes)
        : QPDFObjectHandle::StreamDataProvider(false)
        , m_bytes(std::move(bytes))
    {
    }
    void provideStreamData(QPDFObjGen const&, Pipeline* pipeline) override
    {
        const Bytes& bytes = m_bytes.get(); // throws what reading or compressing threw
        pipeline->write(bytes.data(), bytes.size());
        pipeline->finish();
    }

private:
    std::shared_future<Bytes> m_bytes;
};

// The PDF file, flushed a megabyte at a time and each time told how much is in it.
class GrowingFile : public Pipeline {
public:
    GrowingFile(std::FILE* file, const std::function<void(qint64)>& grown)
        : Pipeline("Kopyra PDF", nullptr)
        , m_file(file)
        , m_grown(grown)
    {
    }
    void write(unsigned char const* data, size_t length) override
    {
        if (std::fwrite(data, 1, length, m_file) != length)
            throw std::runtime_error(std::strerror(errno));
        m_size += qint64(length);
        m_unflushed += qint64(length);
        if (m_unflushed >= (1 << 20))
            flush();
    }
    void finish() override { flush(); }

private:
    void flush()
    {
        if (std::fflush(m_file) != 0)
            throw std::runtime_error(std::strerror(errno));
        m_unflushed = 0;
        if (m_grown)
            m_grown(m_size);
    }

    std::FILE* m_file;
    const std::function<void(qint64)>& m_grown;
    qint64 m_size = 0;
    qint64 m_unflushed = 0;
};

QString number(double value) { return QString::number(value, 'f', 3); }

// Reads the page band by band and compresses the bands on as many threads as there are
// cores (four at most); the reading waits while that many are under way, so only a few bands
// are in memory as pixels. The bands' bytes arrive through their promises, in order; a
// failure reaches every band not yet handed over. The kind of the bands is known with the
// first.
struct BandFeed {
    std::vector<std::promise<Bytes>> bands;
    std::promise<BandKind> kind;
    const std::atomic_bool* abandon = nullptr; // by the caller
    std::atomic_bool stop{false};              // the file cannot be written
    std::exception_ptr failure;
    QString why; // when the page could not be read to the end
};

void feedBands(PageReader& page, int bandRows, BandFeed& feed)
{
    std::deque<std::future<Bytes>> underWay;
    std::size_t handed = 0;
    // Four at most: each band under way holds its pixels.
    const std::size_t threads = std::size_t(std::clamp(QThread::idealThreadCount(), 2, 4));
    const auto handOne = [&] {
        Bytes bytes = underWay.front().get();
        underWay.pop_front();
        feed.bands[handed++].set_value(std::move(bytes));
    };
    BandKind kind = BandKind::Rgb;
    bool kindKnown = false;
    try {
        const bool read = page.forEachBand(
            bandRows,
            [&](const QImage& band, int) {
                if ((feed.abandon && *feed.abandon) || feed.stop)
                    throw PrintAbandoned();
                if (handed + underWay.size() == feed.bands.size())
                    throw std::runtime_error("more bands than planned");
                if (!kindKnown) {
                    kind = kindOf(band);
                    kindKnown = true;
                    feed.kind.set_value(kind);
                }
                underWay.push_back(std::async(std::launch::async, encodeBand, band, kind));
                if (underWay.size() >= threads)
                    handOne();
            },
            &feed.why);
        while (!underWay.empty())
            handOne();
        if (!read || handed != feed.bands.size())
            throw std::runtime_error("page incomplete");
    } catch (...) {
        feed.failure = std::current_exception();
        if (!kindKnown)
            feed.kind.set_exception(feed.failure);
        for (; handed < feed.bands.size(); ++handed)
            feed.bands[handed].set_exception(feed.failure);
    }
}

} // namespace

void writePagePdf(const PrintJob& job, const QString& pdfPath, const std::atomic_bool* abandon,
                  const std::function<void(qint64)>& grown)
{
    PageReader page;
    QString why;
    if (!page.open(job.pageFile, &why))
        fail(
            PageUnreadableForPrint,
            QStringLiteral("Die Seite „%1“ kann nicht gedruckt werden: %2").arg(job.pageFile, why));

    // PDF points (1/72 inch), measured from the paper's top-left corner; PDF itself counts
    // from the bottom.
    const QSizeF paperMm = job.settings.pageSize.size(QPageSize::Millimeter);
    const double pointsPerMm = 72 / 25.4;
    const QSizeF paper = paperMm * pointsPerMm;
    const QSize pixels = page.size();
    double xDpi = page.xDpi();
    double yDpi = page.yDpi();
    if (xDpi <= 0 || yDpi <= 0) {
        xDpi = pixels.width() / (job.assumedPaperMm.width() / 25.4);
        yDpi = xDpi;
    }
    // At true size each pixel gets the size the page file records, times the zoom.
    const double zoom = job.settings.zoomPercent / 100.0;
    QRectF target(0, 0, pixels.width() / xDpi * 72 * zoom, pixels.height() / yDpi * 72 * zoom);
    if (job.settings.sizeMode == PrintSettings::FitToPage) {
        const QRectF printable(
            job.marginsMm.left() * pointsPerMm, job.marginsMm.top() * pointsPerMm,
            (paperMm.width() - job.marginsMm.left() - job.marginsMm.right()) * pointsPerMm,
            (paperMm.height() - job.marginsMm.top() - job.marginsMm.bottom()) * pointsPerMm);
        const double scale =
            std::min(printable.width() / target.width(), printable.height() / target.height());
        target.setSize(target.size() * scale);
        target.moveCenter(printable.center());
    }
    const double rowHeight = target.height() / pixels.height();

    const int bandRows = page.bandRows(BandRows);
    BandFeed feed;
    feed.abandon = abandon;
    feed.bands.resize(std::size_t((pixels.height() + bandRows - 1) / bandRows));
    std::vector<std::shared_future<Bytes>> bands;
    for (auto& band : feed.bands)
        bands.push_back(band.get_future().share());
    std::future<BandKind> kind = feed.kind.get_future();
    // The bands are read and compressed while the file is being written: each band's stream
    // waits for its band.
    std::future<void> feeding =
        std::async(std::launch::async, [&] { feedBands(page, bandRows, feed); });

    std::FILE* file = std::fopen(QFile::encodeName(pdfPath).constData(), "wb");
    QString writeWhy;
    try {
        if (!file)
            throw std::runtime_error(std::strerror(errno));
        QPDF pdf;
        pdf.emptyPDF();
        const BandKind bandKind = kind.get();
        QPDFObjectHandle images = QPDFObjectHandle::newDictionary();
        QString drawing;
        for (std::size_t i = 0; i < bands.size(); ++i) {
            const int top = int(i) * bandRows;
            const int rows = std::min(bandRows, pixels.height() - top);
            QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf);
            QPDFObjectHandle dict = image.getDict();
            dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
            dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
            dict.replaceKey("/Width", QPDFObjectHandle::newInteger(pixels.width()));
            dict.replaceKey("/Height", QPDFObjectHandle::newInteger(rows));
            dict.replaceKey("/ColorSpace",
                            QPDFObjectHandle::newName(bandKind == BandKind::Rgb ? "/DeviceRGB"
                                                                                : "/DeviceGray"));
            dict.replaceKey("/BitsPerComponent",
                            QPDFObjectHandle::newInteger(bandKind == BandKind::Bitmap ? 1 : 8));
            // Smooth scaling where the printer's dots do not meet the page's pixels.
            dict.replaceKey("/Interpolate", QPDFObjectHandle::newBool(true));
            image.replaceStreamData(std::make_shared<BandStream>(bands[i]),
                                    bandKind == BandKind::Bitmap
                                        ? QPDFObjectHandle::newNull()
                                        : QPDFObjectHandle::newName("/DCTDecode"),
                                    QPDFObjectHandle::newNull());
            // qpdf writes in the names' order: the bands top to bottom, as they come.
            const QString name = QStringLiteral("/B%1").arg(i, 5, 10, QLatin1Char('0'));
            images.replaceKey(name.toStdString(), image);
            // Each band into its rows' place, the PDF's y counting up from the paper's bottom.
            const double bandTop = target.top() + top * rowHeight;
            const double height = rows * rowHeight;
            drawing += QStringLiteral("q %1 0 0 %2 %3 %4 cm %5 Do Q\n")
                           .arg(number(target.width()), number(height), number(target.left()),
                                number(paper.height() - bandTop - height), name);
        }
        QPDFObjectHandle contents = pdf.newStream(drawing.toStdString());
        QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
        resources.replaceKey("/XObject", images);
        // Printers without copies of their own (and PDF files) get one page per copy, all
        // showing the same bands.
        const int pages = job.output == PrintSettings::PdfFile ? job.settings.copies : 1;
        QPDFPageDocumentHelper document(pdf);
        for (int copy = 0; copy < std::max(1, pages); ++copy) {
            QPDFObjectHandle pageDict = QPDFObjectHandle::newDictionary();
            pageDict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
            pageDict.replaceKey("/MediaBox", QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(
                                                 0, 0, paper.width(), paper.height())));
            pageDict.replaceKey("/Contents", contents);
            pageDict.replaceKey("/Resources", resources);
            document.addPage(pdf.makeIndirectObject(pageDict), false);
        }
        QPDFObjectHandle info = QPDFObjectHandle::newDictionary();
        info.replaceKey("/Creator", QPDFObjectHandle::newUnicodeString("Kopyra"));
        info.replaceKey("/Title", QPDFObjectHandle::newUnicodeString("Kopie"));
        pdf.getTrailer().replaceKey("/Info", pdf.makeIndirectObject(info));

        GrowingFile output(file, grown);
        QPDFWriter writer(pdf);
        writer.setOutputPipeline(&output);
        writer.write();
    } catch (const std::exception& error) {
        if (writeWhy.isEmpty())
            writeWhy = QString::fromLocal8Bit(error.what());
    } catch (const PrintAbandoned&) {
        // the bands' own failure, told below
    }
    // Once the file has failed, the bands are not wanted any more.
    const bool written = writeWhy.isEmpty();
    if (!written)
        feed.stop = true;
    feeding.wait();
    if (file && std::fclose(file) != 0 && written)
        writeWhy = QString::fromLocal8Bit(std::strerror(errno));

    // The page's failure first: the file failed for want of its bands then.
    if (feed.failure) {
        try {
            std::rethrow_exception(feed.failure);
        } catch (const PrintAbandoned&) {
            if (abandon && *abandon)
                throw;
            // else the reading stopped because the file had failed
        } catch (const std::bad_alloc&) {
            fail(PrintFailed, QStringLiteral("Für den Druck der Seite reicht der Speicher nicht."));
        } catch (...) {
            fail(PageUnreadableForPrint,
                 QStringLiteral("Die Seite „%1“ kann nicht gedruckt werden: %2")
                     .arg(job.pageFile,
                          feed.why.isEmpty() ? QStringLiteral("Lesefehler") : feed.why));
        }
    }
    if (!writeWhy.isEmpty())
        fail(PrintFailed, QStringLiteral("Die Druckdatei „%1“ ließ sich nicht schreiben: %2")
                              .arg(pdfPath, writeWhy));
}

} // namespace imaging
