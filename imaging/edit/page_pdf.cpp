// The page laid out as PDF for the printer: band by band, the bands compressed on all cores
// at once, and put together by qpdf.

#include "imaging/edit/page_pdf.h"

#include "dispatch/dispatch_error.h"
#include "imaging/edit/page_bands.h"
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

BandKind kindOf(PageReader::BandFormat format)
{
    switch (format) {
    case PageReader::BandFormat::Bilevel:
        return BandKind::Bitmap;
    case PageReader::BandFormat::Grey:
        return BandKind::Grey;
    case PageReader::BandFormat::Colour:
        break;
    }
    return BandKind::Rgb;
}

void feedBands(std::vector<PagePlan>& pages, BandFeed& feed)
{
    std::deque<std::future<Bytes>> underWay;
    std::size_t handed = 0;
    // Four at most: each band under way holds its pixels.
    const std::size_t threads = std::size_t(std::clamp(QThread::idealThreadCount(), 2, 4));
    const auto handOne = [&] {
        Bytes bytes = underWay.front().get();
        underWay.pop_front();
        feed.bands[handed].set_value(std::move(bytes));
        // The writer's future holds the bytes now, and lets them go once they are written.
        feed.bands[handed++] = std::promise<Bytes>();
    };
    try {
        std::size_t planned = 0;
        for (PagePlan& page : pages) {
            planned += page.bands;
            const bool read = page.reader->forEachBand(
                page.bandRows,
                [&](const QImage& band, int) {
                    if ((feed.abandon && *feed.abandon) || feed.stop)
                        throw PrintAbandoned();
                    if (handed + underWay.size() == planned)
                        throw std::runtime_error("more bands than planned");
                    const std::size_t index = handed + underWay.size();
                    underWay.push_back(
                        std::async(std::launch::async, [&feed, band, index, kind = page.kind] {
                            Bytes bytes = encodeBand(band, kind);
                            if (feed.postScript == 1) {
                                bytes = ascii85(bytes);
                                feed.encoded[index] = true;
                            }
                            return bytes;
                        }));
                    if (underWay.size() >= threads)
                        handOne();
                },
                &feed.why);
            if (!read || handed + underWay.size() != planned)
                throw std::runtime_error("page incomplete");
        }
        while (!underWay.empty())
            handOne();
    } catch (...) {
        feed.failure = std::current_exception();
        for (; handed < feed.bands.size(); ++handed)
            feed.bands[handed].set_exception(feed.failure);
    }
}

} // namespace

std::vector<std::unique_ptr<PageReader>> openPages(const PrintJob& job)
{
    std::vector<std::unique_ptr<PageReader>> pages;
    const int first = job.firstPage;
    for (int p = first;
         p == first || p < (job.pageCount > 0 ? first + job.pageCount : pages.front()->pageCount());
         ++p) {
        auto reader = std::make_unique<PageReader>();
        QString why;
        if (!reader->open(job.pageFile, &why, p))
            fail(PageUnreadableForPrint, QStringLiteral("Die Seite „%1“ kann nicht gedruckt "
                                                        "werden: %2")
                                             .arg(job.pageFile, why));
        pages.push_back(std::move(reader));
    }
    return pages;
}

void writePagePdf(const PrintJob& job, const QString& pdfPath, const std::atomic_bool* abandon,
                  const std::function<void(qint64)>& grown,
                  const std::function<bool()>& postScriptWhenKnown)
{
    // PDF points (1/72 inch), measured from the paper's top-left corner; PDF itself counts
    // from the bottom.
    const QSizeF paperMm = job.settings.pageSize.size(QPageSize::Millimeter);
    const double pointsPerMm = 72 / 25.4;
    const QSizeF paper = paperMm * pointsPerMm;

    // Every page of the file (the feeder's stack), each laid out on a sheet of its own.
    std::vector<PagePlan> pages;
    for (std::unique_ptr<PageReader>& reader : openPages(job)) {
        PagePlan plan;
        plan.reader = std::move(reader);
        const PageReader& page = *plan.reader;
        plan.pixels = page.size();
        const OnPaper placed =
            placeOnPaper(job, page, int(pages.size()) % job.settings.pagesPerSheet);
        plan.target = placed.target;
        plan.turned = placed.turned;
        plan.kind = kindOf(page.bandFormat());
        plan.bandRows = page.bandRows(BandRows);
        plan.bands = std::size_t((plan.pixels.height() + plan.bandRows - 1) / plan.bandRows);
        pages.push_back(std::move(plan));
    }

    BandFeed feed;
    feed.abandon = abandon;
    std::size_t totalBands = 0;
    for (const PagePlan& plan : pages)
        totalBands += plan.bands;
    feed.bands.resize(totalBands);
    feed.encoded = std::make_unique<std::atomic_bool[]>(totalBands);
    if (!postScriptWhenKnown)
        feed.postScript = job.postScript;
    std::vector<std::shared_future<Bytes>> bands;
    for (auto& band : feed.bands)
        bands.push_back(band.get_future().share());
    // The bands are read and compressed while the file is being written: each band's stream
    // waits for its band.
    std::future<void> feeding = std::async(std::launch::async, [&] { feedBands(pages, feed); });

    std::FILE* file = std::fopen(QFile::encodeName(pdfPath).constData(), "wb");
    QString writeWhy;
    try {
        if (!file)
            throw std::runtime_error(std::strerror(errno));
        // The bands are under way while the printer is still being looked up.
        feed.postScript = postScriptWhenKnown ? postScriptWhenKnown() : job.postScript;
        // The faces in the order they come out, copies included, for a printer as for a file:
        // the print system only passes them on.
        const QList<int> order = job.settings.sheetOrder(job.settings.sheetsFor(int(pages.size())));
        if (feed.postScript == 1) {
            GrowingFile output(file, grown);
            writePostScript(pages, bands, feed, paper, job.settings.pagesPerSheet, order, output);
        } else {
            QPDF pdf;
            pdf.emptyPDF();
            struct Sheet {
                QPDFObjectHandle contents;
                QPDFObjectHandle resources;
            };
            std::vector<Sheet> sheets;
            std::size_t next = 0; // the first band of the page
            const int perSheet = job.settings.pagesPerSheet;
            QPDFObjectHandle images;
            QString drawing;
            for (std::size_t p = 0; p < pages.size(); ++p) {
                const PagePlan& plan = pages[p];
                const int cell = int(p) % perSheet;
                if (cell == 0) {
                    images = QPDFObjectHandle::newDictionary();
                    drawing.clear();
                }
                const int height = plan.pixels.height();
                const double rowHeight = plan.target.height() / height;
                for (std::size_t i = 0; i < plan.bands; ++i) {
                    const int top = int(i) * plan.bandRows;
                    const int rows = std::min(plan.bandRows, height - top);
                    QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf);
                    QPDFObjectHandle dict = image.getDict();
                    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
                    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
                    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(plan.pixels.width()));
                    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(rows));
                    dict.replaceKey("/ColorSpace",
                                    QPDFObjectHandle::newName(
                                        plan.kind == BandKind::Rgb ? "/DeviceRGB" : "/DeviceGray"));
                    dict.replaceKey(
                        "/BitsPerComponent",
                        QPDFObjectHandle::newInteger(plan.kind == BandKind::Bitmap ? 1 : 8));
                    // Smooth scaling where the printer's dots do not meet the page's pixels.
                    dict.replaceKey("/Interpolate", QPDFObjectHandle::newBool(true));
                    image.replaceStreamData(
                        std::make_shared<BandStream>(std::move(bands[next + i])),
                        plan.kind == BandKind::Bitmap ? QPDFObjectHandle::newNull()
                                                      : QPDFObjectHandle::newName("/DCTDecode"),
                        QPDFObjectHandle::newNull());
                    // qpdf writes in the names' order: the bands top to bottom, as they come.
                    const QString name =
                        QStringLiteral("/P%1B%2").arg(cell).arg(i, 5, 10, QLatin1Char('0'));
                    images.replaceKey(name.toStdString(), image);
                    // Each band into its rows' place, the PDF's y counting up from the paper's
                    // bottom.
                    const QRectF band(plan.target.left(), plan.target.top() + top * rowHeight,
                                      plan.target.width(), rows * rowHeight);
                    const auto m = bandMatrix(band, plan.turned, paper);
                    drawing += QStringLiteral("q %1 %2 %3 %4 %5 %6 cm %7 Do Q\n")
                                   .arg(number(m[0]), number(m[1]), number(m[2]), number(m[3]),
                                        number(m[4]), number(m[5]), name);
                }
                next += plan.bands;
                // The sheet is whole with its last original.
                if (cell == perSheet - 1 || p + 1 == pages.size()) {
                    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
                    resources.replaceKey("/XObject", images);
                    sheets.push_back({pdf.newStream(drawing.toStdString()), resources});
                }
            }
            // Each copy's pages show the same bands: the file holds every image once.
            QPDFPageDocumentHelper document(pdf);
            QPDFObjectHandle blank;
            for (const int index : order) {
                if (index < 0 && job.output == PrintSettings::PdfFile)
                    continue; // a file has no backs to leave blank
                QPDFObjectHandle pageDict = QPDFObjectHandle::newDictionary();
                pageDict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
                pageDict.replaceKey("/MediaBox",
                                    QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(
                                        0, 0, paper.width(), paper.height())));
                if (index >= 0) {
                    const Sheet& sheet = sheets[std::size_t(index)];
                    pageDict.replaceKey("/Contents", sheet.contents);
                    pageDict.replaceKey("/Resources", sheet.resources);
                } else {
                    if (!blank.isInitialized())
                        blank = pdf.newStream(std::string());
                    pageDict.replaceKey("/Contents", blank);
                    pageDict.replaceKey("/Resources", QPDFObjectHandle::newDictionary());
                }
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
        }
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
