// The page laid out as PDF for the printer: band by band, the bands compressed on all cores
// at once, and put together by qpdf.

#include "imaging/dispatch_error.h"
#include "imaging/page_printer.h"
#include "imaging/page_reader.h"

#include <QFile>
#include <QThread>

// qpdf without its old smart pointer: std::shared_ptr throughout.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Buffer.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFWriter.hh>

// jpeglib.h needs size_t and FILE declared before it.
#include <cstdio>
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <new>
#include <vector>

namespace imaging {

namespace {

constexpr std::int32_t PrintFailed = 9210;
constexpr std::int32_t PageUnreadableForPrint = 9211;

// The quality Qt's own PDF engine gives photographs: on paper no different from the scan.
constexpr int JpegQuality = 94;
constexpr int BandRows = 512; // a multiple of JPEG's 16-row blocks: no seams inside the page

[[noreturn]] void fail(std::int32_t number, const QString& text)
{
    throw DispatchError(number, text, editControlSource());
}

// One band as the PDF holds it.
struct PdfBand {
    std::unique_ptr<Buffer> data;
    int width = 0;
    int height = 0;
    bool grey = false;   // DeviceGray, else DeviceRGB
    bool bitmap = false; // 1 bit a pixel, black 0, uncompressed (qpdf deflates it); else JPEG
};

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

// Line art stays a bitmap (sharp and small); grey stays grey; anything else becomes colour.
PdfBand encodeBand(const QImage& band)
{
    PdfBand encoded;
    encoded.width = band.width();
    encoded.height = band.height();
    if (band.format() == QImage::Format_Mono) {
        // Black as 0, white as 1 already; PDF rows end at a byte, Qt's at four.
        encoded.bitmap = encoded.grey = true;
        const std::size_t rowBytes = std::size_t(band.width() + 7) / 8;
        encoded.data = std::make_unique<Buffer>(rowBytes * std::size_t(band.height()));
        for (int y = 0; y < band.height(); ++y)
            std::memcpy(encoded.data->getBuffer() + std::size_t(y) * rowBytes,
                        band.constScanLine(y), rowBytes);
        return encoded;
    }
    encoded.grey = band.format() == QImage::Format_Grayscale8;
    const QImage pixels = encoded.grey || band.format() == QImage::Format_RGB888
                              ? band
                              : band.convertToFormat(QImage::Format_RGB888);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    const bool ok = compressJpeg(pixels.constBits(), std::size_t(pixels.bytesPerLine()),
                                 pixels.width(), pixels.height(), encoded.grey, &jpeg, &size);
    if (ok) {
        encoded.data = std::make_unique<Buffer>(std::size_t(size));
        std::memcpy(encoded.data->getBuffer(), jpeg, size);
    }
    std::free(jpeg);
    if (!ok)
        throw std::bad_alloc(); // libjpeg fails on memory only, writing to memory
    return encoded;
}

QString number(double value) { return QString::number(value, 'f', 3); }

} // namespace

void writePagePdf(const PrintJob& job, const QString& pdfPath, const std::atomic_bool* abandon)
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
    // At true size each pixel gets the size the page file records.
    QRectF target(0, 0, pixels.width() / xDpi * 72, pixels.height() / yDpi * 72);
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

    // The page's bands, compressed on as many threads as there are cores; the reading waits
    // when that many are under way, so only a few bands are in memory at a time.
    std::vector<PdfBand> bands;
    std::vector<int> bandTops;
    std::deque<std::future<PdfBand>> underWay;
    const std::size_t threads = std::size_t(std::max(2, QThread::idealThreadCount()));
    const auto collectOne = [&] {
        bands.push_back(underWay.front().get());
        underWay.pop_front();
    };
    bool ok = false;
    try {
        ok = page.forEachBand(
            BandRows,
            [&](const QImage& band, int y) {
                if (abandon && *abandon)
                    throw PrintAbandoned();
                bandTops.push_back(y);
                underWay.push_back(std::async(std::launch::async, encodeBand, band));
                if (underWay.size() >= threads)
                    collectOne();
            },
            &why);
        while (!underWay.empty())
            collectOne();
    } catch (const std::bad_alloc&) {
        // The bands still under way are waited for as their futures go.
        fail(PrintFailed, QStringLiteral("Für den Druck der Seite reicht der Speicher nicht."));
    }
    if (!ok)
        fail(
            PageUnreadableForPrint,
            QStringLiteral("Die Seite „%1“ kann nicht gedruckt werden: %2").arg(job.pageFile, why));
    if (abandon && *abandon)
        throw PrintAbandoned();

    try {
        QPDF pdf;
        pdf.emptyPDF();
        QPDFObjectHandle images = QPDFObjectHandle::newDictionary();
        QString drawing;
        for (std::size_t i = 0; i < bands.size(); ++i) {
            PdfBand& band = bands[i];
            QPDFObjectHandle image = QPDFObjectHandle::newStream(&pdf);
            QPDFObjectHandle dict = image.getDict();
            dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
            dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
            dict.replaceKey("/Width", QPDFObjectHandle::newInteger(band.width));
            dict.replaceKey("/Height", QPDFObjectHandle::newInteger(band.height));
            dict.replaceKey("/ColorSpace",
                            QPDFObjectHandle::newName(band.grey ? "/DeviceGray" : "/DeviceRGB"));
            dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(band.bitmap ? 1 : 8));
            // Smooth scaling where the printer's dots do not meet the page's pixels.
            dict.replaceKey("/Interpolate", QPDFObjectHandle::newBool(true));
            image.replaceStreamData(std::shared_ptr<Buffer>(std::move(band.data)),
                                    band.bitmap ? QPDFObjectHandle::newNull()
                                                : QPDFObjectHandle::newName("/DCTDecode"),
                                    QPDFObjectHandle::newNull());
            const std::string name = "/B" + std::to_string(i);
            images.replaceKey(name, image);
            // Each band into its rows' place, the PDF's y counting up from the paper's bottom.
            const double top = target.top() + bandTops[i] * rowHeight;
            const double height = band.height * rowHeight;
            drawing +=
                QStringLiteral("q %1 0 0 %2 %3 %4 cm %5 Do Q\n")
                    .arg(number(target.width()), number(height), number(target.left()),
                         number(paper.height() - top - height), QString::fromStdString(name));
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

        QPDFWriter writer(pdf, QFile::encodeName(pdfPath).constData());
        writer.write();
    } catch (const std::exception& error) {
        fail(PrintFailed, QStringLiteral("Die Druckdatei „%1“ ließ sich nicht schreiben: %2")
                              .arg(pdfPath, QString::fromLocal8Bit(error.what())));
    }
}

} // namespace imaging
