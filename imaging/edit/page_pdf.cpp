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

// Bytes as PostScript's ASCII85 text (what PostScript printers take through any channel),
// sixteen groups a line (80 characters at most), with the end mark.
Bytes ascii85(const Bytes& bytes)
{
    Bytes text(bytes.size() / 4 * 5 + bytes.size() / 64 + 16);
    unsigned char* to = text.data();
    const std::size_t whole = bytes.size() / 4 * 4;
    int groups = 0;
    for (std::size_t i = 0; i <= whole; i += 4) {
        const std::size_t n = std::min<std::size_t>(4, bytes.size() - i);
        if (n == 0)
            break;
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k)
            word = word << 8 | (k < n ? bytes[i + k] : 0u);
        if (word == 0 && n == 4) {
            *to++ = 'z';
        } else {
            char digits[5];
            for (int k = 4; k >= 0; --k) {
                digits[k] = char('!' + word % 85);
                word /= 85;
            }
            for (std::size_t k = 0; k <= n; ++k)
                *to++ = static_cast<unsigned char>(digits[k]);
        }
        if (++groups == 16) {
            *to++ = '\n';
            groups = 0;
        }
    }
    *to++ = '~';
    *to++ = '>';
    *to++ = '\n';
    text.resize(std::size_t(to - text.data()));
    return text;
}

// Reads the pages band by band and compresses the bands on as many threads as there are
// cores (four at most); the reading waits while that many are under way, so only a few bands
// are in memory as pixels. The bands' bytes arrive through their promises, in order, page
// after page; a failure reaches every band not yet handed over.
struct BandFeed {
    std::vector<std::promise<Bytes>> bands;
    // Once the file is known to be PostScript, the bands come as its ASCII85 text, made on
    // the threads that compress them; encoded tells which did.
    std::atomic_int postScript{-1}; // -1: not known yet
    std::unique_ptr<std::atomic_bool[]> encoded;
    const std::atomic_bool* abandon = nullptr; // by the caller
    std::atomic_bool stop{false};              // the file cannot be written
    std::exception_ptr failure;
    QString why; // when a page could not be read to the end
};

// One page of the file as it goes on paper.
struct PagePlan {
    std::unique_ptr<PageReader> reader;
    BandKind kind = BandKind::Rgb;
    int bandRows = 0;
    std::size_t bands = 0;
    QSize pixels;
    QRectF target;       // in PDF points from the sheet's top-left corner, as laid out
    bool turned = false; // the sheet turned a quarter (two on a sheet)
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

// The same pages as PostScript (level 2), for printers that take it as it is: the bands'
// JPEG goes in unchanged, where a PDF would be turned into PostScript, image by image, by
// the print system. Copies are the print system's. Each band's bytes go once they are
// written, so a stack of pages never waits in memory.
void writePostScript(const std::vector<PagePlan>& pages,
                     std::vector<std::shared_future<Bytes>>& bands, const BandFeed& feed,
                     QSizeF paper, int perSheet, int repeat, GrowingFile& output)
{
    auto put = [&output](const QByteArray& text) {
        output.write(reinterpret_cast<const unsigned char*>(text.constData()), size_t(text.size()));
    };
    const std::size_t sheets = (pages.size() + std::size_t(perSheet) - 1) / std::size_t(perSheet);
    put(QStringLiteral("%!PS-Adobe-3.0\n%%Creator: Kopyra\n%%Title: Kopie\n%%Pages: %1\n"
                       "%%BoundingBox: 0 0 %2 %3\n%%LanguageLevel: 2\n%%EndComments\n"
                       "%%BeginProlog\n%%EndProlog\n")
            .arg(sheets * std::size_t(repeat))
            .arg(qRound(paper.width()))
            .arg(qRound(paper.height()))
            .toLatin1());
    std::vector<std::size_t> firstBand(pages.size(), 0);
    for (std::size_t p = 1; p < pages.size(); ++p)
        firstBand[p] = firstBand[p - 1] + pages[p - 1].bands;
    int printed = 0;
    for (std::size_t sheet = 0; sheet < sheets; ++sheet) {
        // Each sheet's copies together (not sorted): its bands are kept until the last.
        for (int copy = 0; copy < repeat; ++copy) {
            put(QStringLiteral("%%Page: %1 %1\n").arg(++printed).toLatin1());
            for (std::size_t p = sheet * std::size_t(perSheet);
                 p < std::min(pages.size(), (sheet + 1) * std::size_t(perSheet)); ++p) {
                const PagePlan& plan = pages[p];
                const int height = plan.pixels.height();
                const double rowHeight = plan.target.height() / height;
                for (std::size_t i = 0; i < plan.bands; ++i) {
                    const int top = int(i) * plan.bandRows;
                    const int rows = std::min(plan.bandRows, height - top);
                    const QRectF band(plan.target.left(), plan.target.top() + top * rowHeight,
                                      plan.target.width(), rows * rowHeight);
                    const auto m = bandMatrix(band, plan.turned, paper);
                    const bool rgb = plan.kind == BandKind::Rgb;
                    put(QStringLiteral(
                            "gsave [%1 %2 %3 %4 %5 %6] concat /Device%7 setcolorspace\n"
                            "<< /ImageType 1 /Width %8 /Height %9 /BitsPerComponent %10 "
                            "/Interpolate true /Decode [%11] /ImageMatrix [%8 0 0 -%9 0 %9] "
                            "/DataSource currentfile /ASCII85Decode filter%12 >> image\n")
                            .arg(number(m[0]), number(m[1]), number(m[2]), number(m[3]),
                                 number(m[4]), number(m[5]),
                                 rgb ? QStringLiteral("RGB") : QStringLiteral("Gray"))
                            .arg(plan.pixels.width())
                            .arg(rows)
                            .arg(plan.kind == BandKind::Bitmap ? 1 : 8)
                            .arg(rgb ? QStringLiteral("0 1 0 1 0 1") : QStringLiteral("0 1"),
                                 plan.kind == BandKind::Bitmap
                                     ? QString()
                                     : QStringLiteral(" /DCTDecode filter"))
                            .toLatin1());
                    const std::size_t at = firstBand[p] + i;
                    const Bytes& bytes = bands[at].get();
                    const Bytes text = feed.encoded[at] ? Bytes() : ascii85(bytes);
                    const Bytes& written = feed.encoded[at] ? bytes : text;
                    output.write(written.data(), written.size());
                    if (copy + 1 == repeat)
                        bands[at] = {}; // written for the last time: not needed again
                    put("grestore\n");
                }
            }
            put("showpage\n");
        }
    }
    put("%%Trailer\n%%EOF\n");
    output.finish();
}

} // namespace

std::vector<std::unique_ptr<PageReader>> openPages(const QString& pageFile)
{
    std::vector<std::unique_ptr<PageReader>> pages;
    for (int p = 0; p == 0 || p < pages.front()->pageCount(); ++p) {
        auto reader = std::make_unique<PageReader>();
        QString why;
        if (!reader->open(pageFile, &why, p))
            fail(
                PageUnreadableForPrint,
                QStringLiteral("Die Seite „%1“ kann nicht gedruckt werden: %2").arg(pageFile, why));
        pages.push_back(std::move(reader));
    }
    return pages;
}

OnPaper placeOnPaper(const PrintJob& job, const PageReader& page, int cell)
{
    const QSizeF paperMm = job.settings.pageSize.size(QPageSize::Millimeter);
    const double pointsPerMm = 72 / 25.4;
    const QSize pixels = page.size();
    double xDpi = page.xDpi();
    double yDpi = page.yDpi();
    if (xDpi <= 0 || yDpi <= 0) {
        xDpi = pixels.width() / (job.assumedPaperMm.width() / 25.4);
        yDpi = xDpi;
    }
    const QRectF printable(
        job.marginsMm.left() * pointsPerMm, job.marginsMm.top() * pointsPerMm,
        (paperMm.width() - job.marginsMm.left() - job.marginsMm.right()) * pointsPerMm,
        (paperMm.height() - job.marginsMm.top() - job.marginsMm.bottom()) * pointsPerMm);
    const auto fitInto = [](QRectF target, const QRectF& area) {
        const double scale =
            std::min(area.width() / target.width(), area.height() / target.height());
        target.setSize(target.size() * scale);
        target.moveCenter(area.center());
        return target;
    };
    const QRectF trueSize(0, 0, pixels.width() / xDpi * 72, pixels.height() / yDpi * 72);
    OnPaper placed;
    if (job.settings.idCard) {
        // Each side at true size in the middle of its half: a card laid at the same place for
        // both sides lands at the same place in each.
        const QRectF half(printable.left(), printable.top() + cell % 2 * printable.height() / 2,
                          printable.width(), printable.height() / 2);
        placed.target = trueSize;
        placed.target.moveCenter(half.center());
        return placed;
    }
    switch (job.settings.pagesPerSheet) {
    case 2: {
        // The sheet turned a quarter, its top at the paper's right edge: the printable area
        // seen so, split into a left and a right half.
        placed.turned = true;
        const double paperWidth = paperMm.width() * pointsPerMm;
        const QRectF turned(printable.top(), paperWidth - printable.right(), printable.height(),
                            printable.width());
        const QRectF half(turned.left() + cell % 2 * turned.width() / 2, turned.top(),
                          turned.width() / 2, turned.height());
        placed.target = fitInto(trueSize, half);
        return placed;
    }
    case 4: {
        const QRectF quarter(printable.left() + cell % 2 * printable.width() / 2,
                             printable.top() + cell / 2 % 2 * printable.height() / 2,
                             printable.width() / 2, printable.height() / 2);
        placed.target = fitInto(trueSize, quarter);
        return placed;
    }
    default:
        break;
    }
    // At true size each pixel gets the size the page file records, times the zoom.
    const double zoom = job.settings.zoomPercent / 100.0;
    placed.target = QRectF(trueSize.topLeft(), trueSize.size() * zoom);
    if (job.settings.sizeMode == PrintSettings::FitToPage)
        placed.target = fitInto(trueSize, printable);
    return placed;
}

std::array<double, 6> bandMatrix(const QRectF& band, bool turned, QSizeF paperPt)
{
    const double w = paperPt.width(), h = paperPt.height();
    if (turned)
        return {
            0, -band.width(), band.height(), 0, w - band.top() - band.height(), h - band.left()};
    return {band.width(), 0, 0, band.height(), band.left(), h - band.top() - band.height()};
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
    for (std::unique_ptr<PageReader>& reader : openPages(job.pageFile)) {
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
        if (feed.postScript == 1) {
            GrowingFile output(file, grown);
            // Known only now whether it is PostScript: the job as it will be sent.
            PrintJob sent = job;
            sent.postScript = true;
            writePostScript(pages, bands, feed, paper, job.settings.pagesPerSheet,
                            sent.copiesInDocument() ? job.settings.copies : 1, output);
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
            // A PDF file gets the pages once per copy, in the order they are to come out, all
            // showing the same bands; a printer gets each page once, its print system makes the
            // copies and the order.
            PrintSettings once = job.settings;
            once.copies = 1;
            once.collate = true;
            once.reverse = false;
            const QList<int> order = job.output == PrintSettings::PdfFile
                                         ? job.settings.sheetOrder(int(sheets.size()))
                                         : once.sheetOrder(int(sheets.size()));
            QPDFPageDocumentHelper document(pdf);
            for (const int index : order) {
                if (index < 0)
                    continue; // a file has no backs to leave blank
                const Sheet& sheet = sheets[std::size_t(index)];
                QPDFObjectHandle pageDict = QPDFObjectHandle::newDictionary();
                pageDict.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
                pageDict.replaceKey("/MediaBox",
                                    QPDFObjectHandle::newArray(QPDFObjectHandle::Rectangle(
                                        0, 0, paper.width(), paper.height())));
                pageDict.replaceKey("/Contents", sheet.contents);
                pageDict.replaceKey("/Resources", sheet.resources);
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
