// Showing and printing: the edit control's page on screen and on paper (PDF read back with
// poppler-utils), the administration control's print settings and dialog, and a real cupsd.
#include "imaging/admin/img_admin.h"
#include "imaging/admin/printer_choices.h"
#include "imaging/common/access_keys.h"
#include "imaging/common/background_work.h"
#include "imaging/common/cups_catalogue.h"
#include "imaging/common/imaging_settings.h"
#include "imaging/common/print_settings.h"
#include "imaging/edit/img_edit.h"
#include "imaging/edit/page_printer.h"
#include "imaging/edit/page_raster.h"
#include "imaging/edit/print_feedback.h"
#include "imaging/page_file/card_sides.h"
#include "imaging/page_file/growing_stack.h"
#include "imaging/page_file/page_reader.h"
#include "imaging/page_file/page_writer.h"
#include "support/german_ui.h"
#include "test_support.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPrintDialog>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSpinBox>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTcpServer>
#include <QTemporaryFile>
#include <QTest>
#include <QTimer>

#include <cups/cups.h>
#include <cups/raster.h>
#include <dlfcn.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using imaging::ImgEdit;
using imaging::Variant;

namespace {

// The grey of each page of a stack, each of five its own and all dark enough to be ink.
int pageGrey(int page) { return 30 + 40 * (page % 5); }

// Pages of the given size in millimetres, each filled with its grey, resolution recorded.

// A card's two sides are named so.
void writePage(const QString& path, double widthMm, double heightMm, int dpi, int pages = 1,
               bool card = false)
{
    imaging::PageFormat f;
    f.width = qRound(widthMm / 25.4 * dpi);
    f.height = qRound(heightMm / 25.4 * dpi);
    f.xDpi = f.yDpi = dpi;
    imaging::PageWriter writer(path);
    for (int page = 0; page < pages; ++page) {
        if (card)
            f.name = page == 0 ? imaging::card::FrontName : imaging::card::BackName;
        writer.begin(f);
        const std::vector<std::uint8_t> row(size_t(writer.rowBytes()),
                                            std::uint8_t(pageGrey(page)));
        for (int y = 0; y < f.height; ++y)
            writer.writeRow(row.data(), y);
    }
    writer.commit();
}

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(120000);
    return QString::fromLocal8Bit(p.readAllStandardOutput());
}

// The PDF's first page rendered at the given resolution.
QImage renderPdf(const QString& pdf, int dpi, bool grey = false)
{
    const QString base = pdf + QStringLiteral(".render");
    const QString options = QStringLiteral("-singlefile -f 1 -l 1 -r ") + QString::number(dpi) +
                            (grey ? QStringLiteral(" -gray") : QString());
    run(QStringLiteral("pdftoppm"), options.split(QLatin1Char(' ')) << pdf << base);
    const QString file = base + (grey ? QStringLiteral(".pgm") : QStringLiteral(".ppm"));
    const QImage page(file);
    QFile::remove(file);
    return page;
}

// Where a rendered page has ink (darker than 200), and how dark its first dot is.
QRect inkOf(const QImage& rendered, int* grey = nullptr)
{
    const QImage page = rendered.convertToFormat(QImage::Format_Grayscale8);
    int x0 = page.width(), y0 = page.height(), x1 = -1, y1 = -1;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            if (const int value = page.constScanLine(y)[x]; value < 200) {
                if (grey && x1 < 0)
                    *grey = value;
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x);
                y1 = std::max(y1, y);
            }
    return QRect(QPoint(x0, y0), QPoint(x1, y1));
}

struct PdfFacts {
    int pages = 0;
    QSizeF sizePt;
    QRect inkPx; // where the page has ink, rendered at 300 dpi
};

PdfFacts readPdf(const QString& pdf)
{
    PdfFacts facts;
    const QString info = run(QStringLiteral("pdfinfo"), {pdf});
    facts.pages =
        QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info).captured(1).toInt();
    const auto size =
        QRegularExpression(QStringLiteral("Page size:\\s+([\\d.]+) x ([\\d.]+) pts")).match(info);
    facts.sizePt = QSizeF(size.captured(1).toDouble(), size.captured(2).toDouble());
    facts.inkPx = inkOf(renderPdf(pdf, 300, true));
    return facts;
}

// How a test page is stored: the kinds scanners write and a few other programs do.
struct TiffLayout {
    int bits = 8;
    int samples = 3;
    int photometric = PHOTOMETRIC_RGB;
    int planar = PLANARCONFIG_CONTIG;
    int compression = COMPRESSION_NONE;
    int rowsPerStrip = 16;
};

// Four quadrants of their own colour (line art: black top left and bottom right).
constexpr QRgb Quadrants[4] = {qRgb(200, 30, 40), qRgb(10, 220, 90), qRgb(50, 60, 230),
                               qRgb(255, 255, 255)};
constexpr int GreyQuadrants[4] = {30, 120, 200, 255};

QRgb quadrantColour(const TiffLayout& layout, int quadrant)
{
    if (layout.bits == 1)
        return quadrant == 0 || quadrant == 3 ? qRgb(0, 0, 0) : qRgb(255, 255, 255);
    if (layout.samples == 1)
        return qRgb(GreyQuadrants[quadrant], GreyQuadrants[quadrant], GreyQuadrants[quadrant]);
    return Quadrants[quadrant];
}

void writeQuadrantTiff(const QString& path, const TiffLayout& layout, int width, int height,
                       int dpi)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "w");
    QVERIFY(tif);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, layout.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, layout.samples);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, layout.photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, layout.planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, layout.compression);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, layout.rowsPerStrip);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, float(dpi));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, float(dpi));
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    const int planes = layout.planar == PLANARCONFIG_SEPARATE ? layout.samples : 1;
    std::vector<std::uint8_t> row(size_t(TIFFScanlineSize(tif)));
    for (int plane = 0; plane < planes; ++plane)
        for (int y = 0; y < height; ++y) {
            std::fill(row.begin(), row.end(), 0);
            for (int x = 0; x < width; ++x) {
                const QRgb c = quadrantColour(layout, (y >= height / 2) * 2 + (x >= width / 2));
                const int rgb[3] = {qRed(c), qGreen(c), qBlue(c)};
                if (layout.bits == 1) {
                    const bool ink = qRed(c) == 0;
                    if (ink == (layout.photometric == PHOTOMETRIC_MINISWHITE))
                        row[size_t(x / 8)] |= std::uint8_t(0x80 >> (x % 8));
                    continue;
                }
                const int perPixel = planes == 1 ? layout.samples : 1;
                for (int i = 0; i < perPixel; ++i) {
                    int v = layout.samples == 1 ? rgb[0] : rgb[planes == 1 ? i : plane];
                    if (layout.photometric == PHOTOMETRIC_MINISWHITE)
                        v = 255 - v;
                    const size_t at = size_t(x * perPixel + i);
                    if (layout.bits == 16)
                        reinterpret_cast<std::uint16_t*>(row.data())[at] = std::uint16_t(v * 257);
                    else
                        row[at] = std::uint8_t(v);
                }
            }
            QVERIFY(TIFFWriteScanline(tif, row.data(), std::uint32_t(y), std::uint16_t(plane)) ==
                    1);
        }
    TIFFClose(tif);
}

// The colour at a point of the first page, rendered at the given resolution.
QRgb pdfColourAt(const QString& pdf, int dpi, QPointF mm)
{
    return renderPdf(pdf, dpi).pixel(qRound(mm.x() / 25.4 * dpi), qRound(mm.y() / 25.4 * dpi));
}

// Whether the rectangle is within the tolerance of the wanted one, edge by edge.
bool within(const QRectF& seen, const QRectF& wanted, double tolerance)
{
    return qAbs(seen.left() - wanted.left()) <= tolerance &&
           qAbs(seen.top() - wanted.top()) <= tolerance &&
           qAbs(seen.right() - wanted.right()) <= tolerance &&
           qAbs(seen.bottom() - wanted.bottom()) <= tolerance;
}

bool near(QRgb a, QRgb b, int tolerance)
{
    return qAbs(qRed(a) - qRed(b)) <= tolerance && qAbs(qGreen(a) - qGreen(b)) <= tolerance &&
           qAbs(qBlue(a) - qBlue(b)) <= tolerance;
}

QList<Variant> printArgs(int copies, int sizeMode, int output)
{
    return {Variant::int32(copies), Variant::int32(sizeMode), Variant::int32(output),
            Variant::boolean(false)};
}

constexpr double PxPerMm = 300 / 25.4;

// A page as a driverless printer got it: CUPS's PWG raster, read back with libcups.
struct RasterPage {
    cups_page_header2_t header{};
    QRectF inkMm;         // where the page has ink
    int grey = 255;       // the ink's lightness
    QList<QRgb> coloured; // the colours at the points asked for
    QImage picture;       // in grey, where asked for
    double mmPerDot = 0;

    // Where the page has ink within that part of it, and how dark.
    QRectF inkMmIn(const QRectF& partMm, int* darkness) const
    {
        const QRect part =
            QRect(qRound(partMm.left() / mmPerDot), qRound(partMm.top() / mmPerDot),
                  qRound(partMm.width() / mmPerDot), qRound(partMm.height() / mmPerDot)) &
            picture.rect();
        const QRect ink = inkOf(picture.copy(part), darkness).translated(part.topLeft());
        return QRectF(ink.x() * mmPerDot, ink.y() * mmPerDot, ink.width() * mmPerDot,
                      ink.height() * mmPerDot);
    }
};

QList<RasterPage> readRaster(const QString& path, const QList<QPointF>& pointsMm = {},
                             bool keepPictures = false)
{
    QList<RasterPage> pages;
    QFile file(path);
    cups_raster_t* raster =
        file.open(QIODevice::ReadOnly) ? cupsRasterOpen(file.handle(), CUPS_RASTER_READ) : nullptr;
    RasterPage page;
    while (raster && cupsRasterReadHeader2(raster, &page.header)) {
        const cups_page_header2_t& h = page.header;
        std::vector<unsigned char> line(h.cupsBytesPerLine);
        const unsigned bytes = std::max(1u, h.cupsBitsPerPixel / 8);
        unsigned x0 = h.cupsWidth, y0 = h.cupsHeight, x1 = 0, y1 = 0;
        const double xMm = 25.4 / h.HWResolution[0], yMm = 25.4 / h.HWResolution[1];
        page.coloured = QList<QRgb>(pointsMm.size());
        page.mmPerDot = xMm;
        if (keepPictures) {
            page.picture = QImage(int(h.cupsWidth), int(h.cupsHeight), QImage::Format_Grayscale8);
            page.picture.fill(255);
        }
        for (unsigned y = 0; y < h.cupsHeight; ++y) {
            cupsRasterReadPixels(raster, line.data(), h.cupsBytesPerLine);
            uchar* kept = keepPictures ? page.picture.scanLine(int(y)) : nullptr;
            for (qsizetype i = 0; i < pointsMm.size(); ++i) {
                const unsigned at = unsigned(pointsMm[i].x() / xMm) * bytes;
                if (unsigned(pointsMm[i].y() / yMm) == y && bytes >= 1)
                    page.coloured[i] = bytes == 3 ? qRgb(line[at], line[at + 1], line[at + 2])
                                                  : qRgb(line[at], line[at], line[at]);
            }
            for (unsigned x = 0; x < h.cupsWidth; ++x) {
                int value = h.cupsBitsPerPixel == 1 ? (line[x / 8] >> (7 - x % 8) & 1) * 255
                                                    : line[x * bytes];
                if (h.cupsColorSpace == CUPS_CSPACE_K || h.cupsBitsPerPixel == 1)
                    value = 255 - value;
                if (kept)
                    kept[x] = uchar(value);
                if (value >= 200)
                    continue;
                if (x0 == h.cupsWidth)
                    page.grey = value;
                x0 = std::min(x0, x);
                y0 = std::min(y0, y);
                x1 = std::max(x1, x + 1);
                y1 = std::max(y1, y + 1);
            }
        }
        page.inkMm = QRectF(x0 * xMm, y0 * yMm, (x1 - x0) * xMm, (y1 - y0) * yMm);
        pages.append(page);
        page = RasterPage();
    }
    if (raster)
        cupsRasterClose(raster);
    return pages;
}

// The attributes a driverless printer (at its IPP address) keeps of its newest job, read with
// ipptool: name → value as ipptool shows it.
QMap<QString, QString> newestPrinterJob(const QString& uri)
{
    QTemporaryFile test(QDir::tempPath() + QStringLiteral("/kopyra-XXXXXX.test"));
    if (!test.open())
        return {};
    test.write("{\n OPERATION Get-Jobs\n GROUP operation-attributes-tag\n"
               " ATTR charset attributes-charset utf-8\n"
               " ATTR language attributes-natural-language en\n ATTR uri printer-uri $uri\n"
               " ATTR keyword which-jobs completed\n ATTR keyword requested-attributes all\n"
               " STATUS successful-ok\n}\n");
    test.flush();
    const QString shown =
        run(QStringLiteral("ipptool"), {QStringLiteral("-tv"), uri, test.fileName()});
    QMap<QString, QString> newest, job;
    const auto keep = [&] {
        if (job.value(QStringLiteral("job-id")).toInt() >
            newest.value(QStringLiteral("job-id")).toInt())
            newest = job;
        job.clear();
    };
    static const QRegularExpression line(QStringLiteral("^\\s+([a-z0-9-]+) \\([^)]*\\) = (.*)$"));
    for (const QString& text :
         shown.section(QStringLiteral("RECEIVED"), 1).split(QLatin1Char('\n'))) {
        if (text.contains(QLatin1String("-- separator --")))
            keep();
        else if (const auto m = line.match(text); m.hasMatch())
            job.insert(m.captured(1), m.captured(2));
    }
    keep();
    return newest;
}

// The pages of a PDF a printer got, rendered at 300 dpi as the raster's pages are read: the
// paper's size in points, where the ink is and how light.
QList<RasterPage> readPdfPages(const QString& pdf)
{
    QList<RasterPage> pages;
    const int count = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)"))
                          .match(run(QStringLiteral("pdfinfo"), {pdf}))
                          .captured(1)
                          .toInt();
    for (int p = 1; p <= count; ++p) {
        const QString base = pdf + QStringLiteral(".page");
        run(QStringLiteral("pdftoppm"),
            {QStringLiteral("-singlefile"), QStringLiteral("-gray"), QStringLiteral("-r"),
             QStringLiteral("300"), QStringLiteral("-f"), QString::number(p), QStringLiteral("-l"),
             QString::number(p), pdf, base});
        const QImage image(base + QStringLiteral(".pgm"));
        QFile::remove(base + QStringLiteral(".pgm"));
        RasterPage page;
        page.header.PageSize[0] = unsigned(qRound(image.width() / PxPerMm / 25.4 * 72));
        page.header.PageSize[1] = unsigned(qRound(image.height() / PxPerMm / 25.4 * 72));
        const QRect ink = inkOf(image, &page.grey);
        page.inkMm = QRectF(ink.x() / PxPerMm, ink.y() / PxPerMm, ink.width() / PxPerMm,
                            ink.height() / PxPerMm);
        page.picture = image.convertToFormat(QImage::Format_Grayscale8);
        page.mmPerDot = 1 / PxPerMm;
        pages.append(page);
    }
    return pages;
}

// What the newest job of the printer was handed: the document's type.
QByteArray newestJobFormat(const QString& printer)
{
    cups_job_t* jobs = nullptr;
    const int n =
        cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer.toUtf8().constData(), 0, CUPS_WHICHJOBS_ALL);
    const auto newest =
        std::max_element(jobs, jobs + std::max(n, 0),
                         [](const cups_job_t& a, const cups_job_t& b) { return a.id < b.id; });
    const QByteArray format = n > 0 ? QByteArray(newest->format) : QByteArray();
    cupsFreeJobs(n, jobs);
    return format;
}

// The jobs of the printer (of all printers: none named) not yet done.
int activeJobs(const QString& printer)
{
    cups_job_t* jobs = nullptr;
    const QByteArray name = printer.toUtf8();
    const int n =
        cupsGetJobs2(CUPS_HTTP_DEFAULT, &jobs, printer.isEmpty() ? nullptr : name.constData(), 0,
                     CUPS_WHICHJOBS_ACTIVE);
    cupsFreeJobs(n, jobs);
    return n;
}

// The driverless printer that tools/test.sh starts beside the test cupsd: its queue's
// name and the folder it keeps the jobs' pages in; skipped, saying why, where its parts
// could not be had.
#define KOPYRA_REQUIRE_DRIVERLESS_PRINTER()                                                        \
    KOPYRA_REQUIRE_TEST_CUPSD();                                                                   \
    if (qEnvironmentVariableIsEmpty("KOPYRA_TEST_IPP_SPOOL")) {                                    \
        if (qEnvironmentVariableIsEmpty("KOPYRA_TEST_IPP_MISSING"))                                \
            QFAIL("tools/test.sh started no driverless printer and says not why");                 \
        QSKIP(qPrintable(QStringLiteral("kein treiberloser Drucker: ") +                           \
                         qEnvironmentVariable("KOPYRA_TEST_IPP_MISSING")));                        \
    }
const QString Driverless = QStringLiteral("KopyraIPP");
const QString DriverlessPdf = QStringLiteral("KopyraIPPPDF"); // takes PDF as well

// A driverless test printer's own setting (KOPYRA_TEST_IPP…_SPOOL, _URI), by its queue.
QString driverless(const QString& printer, const char* what)
{
    const QString kind = printer == QLatin1String("KopyraIPPPDF")      ? QStringLiteral("IPPPDF")
                         : printer == QLatin1String("KopyraIPPColour") ? QStringLiteral("IPPCOLOUR")
                                                                       : QStringLiteral("IPP");
    return qEnvironmentVariable(
        qPrintable(QStringLiteral("KOPYRA_TEST_%1_%2").arg(kind, QLatin1String(what))));
}

// Prints the shown page to the driverless printer and waits for it; the one document its spool
// folder gained (PWG raster, or the PDF of a printer that takes PDF), or nothing.
QString printedDocument(ImgEdit& edit, const QString& printer, const QList<Variant>& args)
{
    const QString spool = driverless(printer, "SPOOL");
    const QString pattern = printer == QLatin1String("KopyraIPPPDF") ? QStringLiteral("*.pdf")
                                                                     : QStringLiteral("*.pwg");
    const QStringList before = QDir(spool).entryList({pattern});
    edit.call(351, args);
    for (QDeadlineTimer patience(120000); activeJobs(printer) != 0 && !patience.hasExpired();)
        QTest::qWait(50);
    QStringList arrived = QDir(spool).entryList({pattern});
    for (const QString& old : before)
        arrived.removeOne(old);
    return arrived.size() == 1 ? QDir(spool).filePath(arrived.first()) : QString();
}

// What the printer can print on of an A4 sheet, in mm from its top-left corner, as CUPS says.
QRectF printableA4Mm(const QString& printer)
{
    cups_dest_t* dest = cupsGetNamedDest(CUPS_HTTP_DEFAULT, qPrintable(printer), nullptr);
    cups_dinfo_t* info = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest);
    cups_size_t a4{};
    const bool known = cupsGetDestMediaByName(CUPS_HTTP_DEFAULT, dest, info, "iso_a4_210x297mm",
                                              CUPS_MEDIA_FLAGS_DEFAULT, &a4);
    cupsFreeDestInfo(info);
    cupsFreeDests(1, dest);
    return known ? QRectF(a4.left / 100.0, a4.top / 100.0, 210 - (a4.left + a4.right) / 100.0,
                          297 - (a4.top + a4.bottom) / 100.0)
                 : QRectF();
}

// The print settings of a stack's copy, saved as the printer dialog saves them.
imaging::PrintSettings saveOrder(const QString& printer, int copies, bool collate, bool reverse,
                                 bool twoSided, int perSheet)
{
    imaging::PrintSettings settings;
    settings.printer = printer;
    settings.copies = copies;
    settings.collate = collate;
    settings.reverse = reverse;
    settings.twoSided = twoSided;
    settings.pagesPerSheet = perSheet;
    settings.save();
    return settings;
}

// Points this thread, and threads started meanwhile, at another scheduler while the returned
// guard lives.
auto cupsServer(const QByteArray& server)
{
    const QByteArray before = qgetenv("CUPS_SERVER");
    qputenv("CUPS_SERVER", server);
    cupsSetServer(server.constData());
    return qScopeGuard([before] {
        if (before.isEmpty())
            qunsetenv("CUPS_SERVER");
        else
            qputenv("CUPS_SERVER", before);
        cupsSetServer(nullptr);
    });
}

} // namespace

Q_DECLARE_METATYPE(TiffLayout)

class TestPrint : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void pageNeverWrittenThroughLink_data();
    void pageNeverWrittenThroughLink();
    void pageWriteFailureNamesCause_data();
    void pageWriteFailureNamesCause();
    void showsPages_data();
    void showsPages();
    void layoutOnPaper_data();
    void layoutOnPaper();
    void pageShownAfterStartUp();
    void feedbackAfterCopy();
    void rasterOfEveryKindOfPage_data();
    void rasterOfEveryKindOfPage();
    void driverlessPrinterGetsThePages_data();
    void driverlessPrinterGetsThePages();
    void throughCupsd_data();
    void throughCupsd();
    void cupsdStopped_data();
    void cupsdStopped();
    void missingPrinterIsNamed_data();
    void missingPrinterIsNamed();
    void pageBreakingOffFailsThePrint_data();
    void pageBreakingOffFailsThePrint();
    void silentPrintServerKeepsWindowAlive_data();
    void silentPrintServerKeepsWindowAlive();
    void printDialogKeepsSettings();
    void twoOnASheetWithLittleMemory();
    void pageViewTellsWhatItShows();
    void stackOnEveryRoute_data();
    void stackOnEveryRoute();
    void stackPrintedWhileScanned_data();
    void stackPrintedWhileScanned();
    void rememberedOptionsSurviveTheDialog();
    void printerOptionsReachThePdfPrinter();
    void driversOwnDuplexNeverSent();
    void printerOptionsOnTheRaster_data();
    void printerOptionsOnTheRaster();
    void dialogChoicesReachThePaper();
    void printerOptionsInGerman();
    void cupsWordsInGerman_data();
    void cupsWordsInGerman();

private:
    QString newestPdf(const QString& folder, const QDateTime& since) const;
    QString printedByPdfPrinter(ImgEdit& edit, const QList<Variant>& args) const;
    void showNewPage(std::unique_ptr<ImgEdit>& edit, bool scannedSince, QSizeF pageMm, int dpi);

    std::unique_ptr<TestHome> m_home;
    QString m_page;
};

void TestPrint::init()
{
    m_home = std::make_unique<TestHome>();
    m_page = m_home->path() + QStringLiteral("/Kopyra.tif");
}

void TestPrint::cleanup() { m_home.reset(); }

QString TestPrint::newestPdf(const QString& folder, const QDateTime& since) const
{
    // cups-pdf names files after the job number, which starts anew with each cupsd: a new
    // copy may take an old name, so only the time tells. Not QDir::Time: its sort reads the
    // times again as it compares, and a file cups-pdf is writing meanwhile makes the order
    // inconsistent, which std::sort does not survive.
    const QFileInfoList pdfs = QDir(folder).entryInfoList({QStringLiteral("*.pdf")}, QDir::Files);
    const auto newest =
        std::max_element(pdfs.begin(), pdfs.end(), [](const QFileInfo& a, const QFileInfo& b) {
            return a.lastModified() < b.lastModified();
        });
    return newest == pdfs.end() || newest->lastModified() < since ? QString()
                                                                  : newest->absoluteFilePath();
}

// Prints the shown page to the PDF printer; the PDF it wrote once the job is done, or nothing.
QString TestPrint::printedByPdfPrinter(ImgEdit& edit, const QList<Variant>& args) const
{
    const QString out = qEnvironmentVariable("KOPYRA_TEST_PDF_DIR");
    QTest::qWait(1100); // cups-pdf's files have whole seconds
    const QDateTime start = QDateTime::currentDateTime().addSecs(-1);
    edit.call(351, args);
    for (QDeadlineTimer patience(60000); !patience.hasExpired() && activeJobs({}) != 0;)
        QTest::qWait(50);
    return newestPdf(out, start);
}

// Shows a page in a new edit control: one from before the control, or one scanned since,
// which the control lays out for print while it shows it.
void TestPrint::showNewPage(std::unique_ptr<ImgEdit>& edit, bool scannedSince, QSizeF pageMm,
                            int dpi)
{
    const auto write = [&] {
        writeQuadrantTiff(m_page, TiffLayout(), qRound(pageMm.width() / 25.4 * dpi),
                          qRound(pageMm.height() / 25.4 * dpi), dpi);
    };
    if (!scannedSince) {
        write();
        QFile page(m_page);
        QVERIFY(page.open(QIODevice::ReadWrite));
        QVERIFY(page.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                                 QFileDevice::FileModificationTime));
    }
    edit = std::make_unique<ImgEdit>();
    if (scannedSince)
        write();
    edit->call(343, showArgs(&m_page));
}

void TestPrint::pageNeverWrittenThroughLink_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("to a file") << "file";
    QTest::newRow("to a device") << "device";
    QTest::newRow("to a pipe") << "pipe";
    QTest::newRow("dangling") << "nothing";
}

// Whatever a link at the page's path points at stays as it was; the link gives way to the page.
void TestPrint::pageNeverWrittenThroughLink()
{
    QFETCH(QString, target);
    const QString aim = m_home->path() + QStringLiteral("/aim");
    const QByteArray aimName = QFile::encodeName(aim);
    if (target == QLatin1String("file")) {
        QVERIFY(writeFile(aim, "fremd"));
    } else if (target == QLatin1String("device")) {
        if (::mknod(aimName.constData(), S_IFCHR | 0666, makedev(1, 3)) != 0)
            QSKIP("making a device node needs root");
    } else if (target == QLatin1String("pipe")) {
        QVERIFY(::mkfifo(aimName.constData(), 0600) == 0);
    }
    QVERIFY(QFile::link(aim, m_page));
    struct stat before {};
    ::lstat(aimName.constData(), &before);
    writePage(m_page, 10, 10, 75);
    QVERIFY(QFileInfo(m_page).isFile() && !QFileInfo(m_page).isSymLink());
    struct stat after {};
    const bool aimThere = ::lstat(aimName.constData(), &after) == 0;
    QCOMPARE(aimThere, target != QLatin1String("nothing"));
    if (aimThere) {
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(after.st_size, before.st_size);
    }
}

void TestPrint::pageWriteFailureNamesCause_data()
{
    QTest::addColumn<int>("shortOfWhole"); // bytes the disk lacks for the whole file; 0: most
    QTest::newRow("full before the rows") << 0;
    // The rows are in, the directory at the file's end is not: no page, however nearly whole.
    QTest::newRow("full before the directory") << 16;
}

// A page that cannot be written says why, in German, as the system told it.
void TestPrint::pageWriteFailureNamesCause()
{
    QFETCH(int, shortOfWhole);
    writePage(m_page, 100, 100, 300);
    const qint64 whole = QFileInfo(m_page).size();
    QVERIFY(QFile::remove(m_page));
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit before {};
    getrlimit(RLIMIT_FSIZE, &before);
    struct rlimit tiny = before;
    tiny.rlim_cur = shortOfWhole ? rlim_t(whole - shortOfWhole) : 64 * 1024;
    setrlimit(RLIMIT_FSIZE, &tiny);
    const QString error = failureOf([this] { writePage(m_page, 100, 100, 300); });
    setrlimit(RLIMIT_FSIZE, &before);
    QVERIFY2(error.contains(QStringLiteral("zu groß")), qPrintable(error));
    QVERIFY(!QFile::exists(m_page));
    QCOMPARE(QDir(m_home->path()).entryList(QDir::Files | QDir::Hidden).size(), 0);
}

void TestPrint::showsPages_data()
{
    QTest::addColumn<TiffLayout>("layout");
    QTest::addColumn<int>("dpi");
    using L = TiffLayout;
    QTest::newRow("colour") << L{} << 100;
    QTest::newRow("colour, LZW") << L{8, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_LZW}
                                 << 100;
    // Larger than the display limit: shown reduced by averaging, a large page in two halves.
    QTest::newRow("colour, 600 dpi") << L{} << 600;
    QTest::newRow("colour, 800 dpi") << L{} << 800;
    QTest::newRow("colour, one plane at a time")
        << L{8, 3, PHOTOMETRIC_RGB, PLANARCONFIG_SEPARATE} << 100;
    QTest::newRow("colour, 16 bits") << L{16, 3} << 100;
    QTest::newRow("grey") << L{8, 1, PHOTOMETRIC_MINISBLACK} << 100;
    QTest::newRow("grey, white as 0") << L{8, 1, PHOTOMETRIC_MINISWHITE} << 100;
    // Averaged over blocks of 3 × 3: means that are not a power of two, to the exact level.
    QTest::newRow("grey, 900 dpi") << L{8, 1, PHOTOMETRIC_MINISBLACK} << 900;
    QTest::newRow("grey, one row a strip")
        << L{8, 1, PHOTOMETRIC_MINISBLACK, PLANARCONFIG_CONTIG, COMPRESSION_NONE, 1} << 100;
    QTest::newRow("line art, black as 1") << L{1, 1, PHOTOMETRIC_MINISWHITE} << 100;
    QTest::newRow("line art, black as 0") << L{1, 1, PHOTOMETRIC_MINISBLACK} << 100;
    QTest::newRow("line art, 600 dpi") << L{1, 1, PHOTOMETRIC_MINISWHITE} << 600;
}

// Each quadrant keeps its colour on screen and on paper, however the page file stores it.
void TestPrint::showsPages()
{
    QFETCH(TiffLayout, layout);
    QFETCH(int, dpi);
    const QSizeF pageMm(100, 140);
    const QSize pixels(qRound(pageMm.width() / 25.4 * dpi), qRound(pageMm.height() / 25.4 * dpi));
    writeQuadrantTiff(m_page, layout, pixels.width(), pixels.height(), dpi);
    ImgEdit edit;
    edit.call(343, showArgs(&m_page));
    QCOMPARE(edit.pageSize(), pixels);
    const QImage shown = edit.page();
    QVERIFY(shown.width() <= ImgEdit::DisplayLimit && shown.height() <= ImgEdit::DisplayLimit);
    // Every row is the page's: top quadrant, then at most one row mixing both, then bottom.
    const QRgb top = quadrantColour(layout, 0), bottom = quadrantColour(layout, 2);
    const auto between = [](int v, int a, int b) {
        return v >= std::min(a, b) && v <= std::max(a, b);
    };
    int mixed = 0;
    for (int y = 0; y < shown.height(); ++y) {
        const QRgb c = shown.pixel(shown.width() / 4, y);
        if (near(c, top, 1) || near(c, bottom, 1))
            continue;
        ++mixed;
        QVERIFY2(between(qRed(c), qRed(top), qRed(bottom)) &&
                     between(qGreen(c), qGreen(top), qGreen(bottom)) &&
                     between(qBlue(c), qBlue(top), qBlue(bottom)),
                 qPrintable(QStringLiteral("row %1 is %2").arg(y).arg(c, 0, 16)));
    }
    QVERIFY(mixed <= 1);
    edit.call(351, printArgs(1, 0, 1));
    for (int q = 0; q < 4; ++q) {
        const QPointF centre((q % 2 * 2 + 1) / 4.0, (q / 2 * 2 + 1) / 4.0);
        const QRgb wanted = quadrantColour(layout, q);
        const QRgb onScreen =
            shown.pixel(int(centre.x() * shown.width()), int(centre.y() * shown.height()));
        QVERIFY2(near(onScreen, wanted, 0),
                 qPrintable(QStringLiteral("quadrant %1 shown as %2").arg(q).arg(onScreen, 0, 16)));
        // At true size from the paper's corner; colour pages go through JPEG.
        const QRgb onPaper =
            pdfColourAt(edit.lastPdfCopy(), 20,
                        QPointF(centre.x() * pageMm.width(), centre.y() * pageMm.height()));
        QVERIFY2(
            near(onPaper, wanted, 12),
            qPrintable(QStringLiteral("quadrant %1 printed as %2").arg(q).arg(onPaper, 0, 16)));
    }
}

void TestPrint::layoutOnPaper_data()
{
    QTest::addColumn<QSizeF>("pageMm");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("sizeMode");
    QTest::addColumn<int>("copies");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<QRectF>("inkMm"); // where the page lands on A4
    QTest::addColumn<bool>("cutOff");  // and whether the user is told before it prints
    const QRectF a4(0, 0, 210, 297);
    // At true size from the paper's corner, whatever the resolution.
    for (int dpi : {75, 150, 300, 600})
        QTest::addRow("true size, %d dpi", dpi) << a4.size() << dpi << 0 << 1 << 100 << a4 << false;
    // Fitted: as wide as the paper, centred from top to bottom, whatever the zoom says.
    for (int zoom : {100, 200})
        QTest::addRow("fitted, zoom %d %%", zoom)
            << QSizeF(100, 50) << 100 << 1 << 1 << zoom << QRectF(0, 96, 210, 105) << false;
    QTest::newRow("three copies") << a4.size() << 75 << 0 << 3 << 100 << a4 << false;
    // Zoomed from the paper's corner, as on a copier's glass; what does not fit is cut off,
    // and said.
    QTest::newRow("A4 → A5 (71 %)")
        << a4.size() << 300 << 0 << 1 << 71 << QRectF(0, 0, 149.1, 210.87) << false;
    QTest::newRow("50 %") << a4.size() << 150 << 0 << 1 << 50 << QRectF(0, 0, 105, 148.5) << false;
    QTest::newRow("A5 → A4 (141 %) of an A4 page")
        << a4.size() << 150 << 0 << 1 << 141 << a4 << true;
    QTest::newRow("whole scan area at 1:1")
        << QSizeF(300, 300) << 75 << 0 << 1 << 100 << a4 << true;
}

void TestPrint::layoutOnPaper()
{
    QFETCH(QSizeF, pageMm);
    QFETCH(int, dpi);
    QFETCH(int, sizeMode);
    QFETCH(int, copies);
    QFETCH(int, zoom);
    QFETCH(QRectF, inkMm);
    QFETCH(bool, cutOff);
    imaging::PrintSettings settings;
    settings.zoomPercent = zoom;
    settings.sizeMode = imaging::PrintSettings::SizeMode(sizeMode);
    settings.save();
    writePage(m_page, pageMm.width(), pageMm.height(), dpi);
    QWidget window;
    ImgEdit edit;
    edit.createView(&window)->resize(300, 400);
    window.show();
    edit.call(343, showArgs(&m_page));
    QCOMPARE(edit.feedback().line().contains(QStringLiteral("An Seite anpassen")), cutOff);
    edit.call(351, printArgs(copies, sizeMode, 1));
    QCOMPARE(edit.feedback().line().contains(QStringLiteral("abgeschnitten")), cutOff);
    const PdfFacts pdf = readPdf(edit.lastPdfCopy());
    QCOMPARE(pdf.pages, copies);
    QVERIFY(qAbs(pdf.sizePt.width() - 595.28) < 0.5 && qAbs(pdf.sizePt.height() - 841.89) < 0.5);
    // Each edge within half a millimetre (the renderer rounds A4's 841.89 pt) and the pixel the
    // ink edge falls into.
    const QRectF ink(pdf.inkPx.left() / PxPerMm, pdf.inkPx.top() / PxPerMm,
                     pdf.inkPx.width() / PxPerMm, pdf.inkPx.height() / PxPerMm);
    QVERIFY2(within(ink, inkMm, 0.5 + 1 / PxPerMm), qPrintable(QDebug::toString(ink)));
}

// At start-up the window is not on screen yet: it comes up at once, and the page follows.
void TestPrint::pageShownAfterStartUp()
{
    QWidget window; // not shown yet
    ImgEdit edit;
    edit.createView(&window);
    writePage(m_page, 100, 140, 150);
    edit.call(343, showArgs(&m_page));
    QVERIFY(!edit.hasPage()); // the call did not wait for the page
    QTRY_VERIFY(edit.hasPage());
    QCOMPARE(edit.pageSize(), QSize(591, 827));

    // A page asked for later wins over a larger one asked for before and read after it.
    writePage(m_page, 210, 297, 300);
    edit.call(343, showArgs(&m_page));
    QString other = m_home->path() + QStringLiteral("/other.tif");
    writePage(other, 50, 50, 100);
    edit.call(343, showArgs(&other));
    imaging::waitForBackgroundWork();
    QCoreApplication::processEvents();
    QCOMPARE(edit.pageSize(), QSize(197, 197));

    // A page that cannot be read leaves the area empty and nothing to print, which is said.
    QVERIFY(writeFile(m_page, "Dies ist keine Seite."));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("kann nicht angezeigt")));
    edit.call(343, showArgs(&m_page));
    imaging::waitForBackgroundWork();
    QCoreApplication::processEvents();
    QVERIFY(!edit.hasPage());
    QString source;
    const QString error = failureOf([&edit] { edit.call(351, printArgs(1, 0, 1)); }, &source);
    QVERIFY2(error.startsWith(QString::number(int(imaging::ErrorNumber::NothingShown))),
             qPrintable(error));
    QCOMPARE(source, QStringLiteral("ImgeditLibCtl.ImgEdit"));
}

// After a copy the user is told where it went (a PDF file: a new one each time, never one
// overwritten), by a line that stops nothing; a job that CUPS
// cancels later, or that waits for a printer gone away, is told the same way.
void TestPrint::feedbackAfterCopy()
{
    KOPYRA_REQUIRE_TEST_CUPSD();
    QWidget window;
    ImgEdit edit;
    edit.createView(&window)->resize(300, 400);
    window.show();
    writePage(m_page, 50, 50, 75);
    edit.call(343, showArgs(&m_page));
    edit.call(351, printArgs(1, 0, 1));
    const QString first = edit.lastPdfCopy();
    QVERIFY(first.startsWith(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)));
    edit.call(351, printArgs(1, 0, 1)); // a new file, the first one kept
    QVERIFY(edit.lastPdfCopy() != first && QFile::exists(first));
    QVERIFY2(edit.feedback().line().contains(QFileInfo(edit.lastPdfCopy()).fileName()),
             qPrintable(edit.feedback().line()));
    QVERIFY(!QApplication::activeModalWidget());

    imaging::PrintSettings settings;
    settings.printer = QStringLiteral("KopyraPDF");
    settings.save();
    run(QStringLiteral("cupsdisable"), {settings.printer}); // the job waits
    edit.call(351, printArgs(2, 0, 0));
    QCOMPARE(edit.feedback().line(), QStringLiteral("Kopie an „KopyraPDF“ gesendet (2 Kopien)"));
    QVERIFY(!QApplication::activeModalWidget());
    run(QStringLiteral("cancel"), {QStringLiteral("-a"), settings.printer});
    run(QStringLiteral("cupsenable"), {settings.printer});
    QTRY_VERIFY_WITH_TIMEOUT(edit.feedback().line().contains(QStringLiteral("abgebrochen")), 10000);
    QVERIFY(!QApplication::activeModalWidget());

    // A printer gone from the network while its job waits (a queue on a port where nobody
    // answers): CUPS keeps the job and tries again, the user learns why the copy does not come.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString uri = QStringLiteral("ipp://localhost:%1/ipp/print").arg(closed.serverPort());
    closed.close();
    settings.printer = QStringLiteral("KopyraWeg");
    settings.save();
    run(QStringLiteral("lpadmin"),
        {QStringLiteral("-p"), settings.printer, QStringLiteral("-E"), QStringLiteral("-v"), uri,
         QStringLiteral("-P"), QStringLiteral("/usr/share/ppd/cups-pdf/CUPS-PDF_opt.ppd")});
    const auto removeQueue = qScopeGuard([&settings] {
        cupsCancelJob2(CUPS_HTTP_DEFAULT, qPrintable(settings.printer), CUPS_JOBID_ALL, 1);
        run(QStringLiteral("lpadmin"), {QStringLiteral("-x"), settings.printer});
    });
    edit.feedback().setPatienceMs(2000);
    edit.call(351, printArgs(1, 0, 0));
    QTRY_VERIFY_WITH_TIMEOUT(edit.feedback().line().contains(QStringLiteral("wartet seit")), 30000);
    QVERIFY2(edit.feedback().line().contains(settings.printer), qPrintable(edit.feedback().line()));
    // What CUPS says of the printer, quoted in its German, the sentence ended.
    QVERIFY2(edit.feedback().line().contains(
                 QRegularExpression(QStringLiteral("der meldet: „[^“]+([.!?]“|“\\.) Bitte"))),
             qPrintable(edit.feedback().line()));
    QVERIFY(!QApplication::activeModalWidget());
}

void TestPrint::rasterOfEveryKindOfPage_data()
{
    QTest::addColumn<TiffLayout>("layout");
    QTest::addColumn<bool>("colourPrinter");
    using L = TiffLayout;
    QTest::newRow("colour, colour printer") << L{} << true;
    QTest::newRow("colour, grey printer") << L{} << false;
    QTest::newRow("colour, 16 bits") << L{16, 3} << true;
    QTest::newRow("grey") << L{8, 1, PHOTOMETRIC_MINISBLACK} << true;
    QTest::newRow("line art") << L{1, 1, PHOTOMETRIC_MINISWHITE} << false;
}

// The raster a driverless printer gets: every kind of page, each quadrant in its place and
// colour, grey where the printer prints grey (the colours' luminance).
void TestPrint::rasterOfEveryKindOfPage()
{
    QFETCH(TiffLayout, layout);
    QFETCH(bool, colourPrinter);
    writeQuadrantTiff(m_page, layout, 400, 400, 100);
    imaging::PrintJob job;
    job.pageFile = m_page;
    job.raster = {300, 300, colourPrinter};
    const QString path = m_home->path() + QStringLiteral("/page.pwg");
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    imaging::writePageRaster(
        job, [&out](const char* bytes, std::size_t length) { out.write(bytes, qint64(length)); });
    out.close();
    const QList<QPointF> middles = {{25, 25}, {76, 25}, {25, 76}, {76, 76}};
    const QList<RasterPage> pages = readRaster(path, middles);
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages[0].inkMm.topLeft(), QPointF(0, 0));
    for (int q = 0; q < 4; ++q) {
        const QRgb c = quadrantColour(layout, q);
        const int luminance = (qRed(c) * 54 + qGreen(c) * 183 + qBlue(c) * 19) >> 8;
        const QRgb wanted =
            colourPrinter || layout.samples == 1 ? c : qRgb(luminance, luminance, luminance);
        QVERIFY2(
            near(pages[0].coloured[q], wanted, 2),
            qPrintable(QStringLiteral("quadrant %1: %2").arg(q).arg(pages[0].coloured[q], 0, 16)));
    }
}

// The page area tells a screen reader what it shows, anew when the page changes (Qt tells the
// change on to the screen reader; the end-to-end test hears it over AT-SPI).
void TestPrint::pageViewTellsWhatItShows()
{
    writePage(m_page, 210, 297, 50, 3);
    ImgEdit edit;
    QWidget site;
    site.resize(300, 400);
    QWidget* view = edit.createView(&site);
    QVERIFY(view);
    view->resize(site.size());
    site.show();
    QAccessibleInterface* at = QAccessible::queryAccessibleInterface(view);
    QCOMPARE(at->text(QAccessible::Name), QStringLiteral("Seite"));
    QCOMPARE(at->text(QAccessible::Description), QStringLiteral("Keine Seite"));
    edit.call(343, showArgs(&m_page));
    QCOMPARE(at->text(QAccessible::Description),
             QStringLiteral("Seite 1 von 3, 210 × 297 mm, Graustufen"));
    QTest::keyClick(&site, Qt::Key_PageDown);
    QTRY_COMPARE(at->text(QAccessible::Description),
                 QStringLiteral("Seite 2 von 3, 210 × 297 mm, Graustufen"));
    auto* counter = view->findChild<QWidget*>(QStringLiteral("PageNumber"));
    QCOMPARE(QAccessible::queryAccessibleInterface(counter)->text(QAccessible::Name),
             QStringLiteral("Seite 2 von 3"));
    QCOMPARE(unnamedControls(&site), QStringList());
}

// Two colour originals on a sheet at 1200 dpi (the sheet some 420 MB as pixels) with little
// memory to spare: the sheet comes whole and right, never a page without rows.
void TestPrint::twoOnASheetWithLittleMemory()
{
    if (dlsym(RTLD_DEFAULT, "__asan_init"))
        QSKIP("AddressSanitizer reserves more address space than the limit allows");
    writeQuadrantTiff(m_page, TiffLayout(), 800, 1100, 100);
    imaging::PrintJob job;
    job.pageFile = m_page;
    job.settings.pagesPerSheet = 2;
    job.raster = {1200, 1200, true};
    const QString path = m_home->path() + QStringLiteral("/sheet.pwg");
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    // What the process has mapped now, and 200 MB more.
    QFile status(QStringLiteral("/proc/self/status"));
    QVERIFY(status.open(QIODevice::ReadOnly));
    const qint64 mappedKb = QRegularExpression(QStringLiteral("VmSize:\\s+(\\d+)"))
                                .match(QString::fromLatin1(status.readAll()))
                                .captured(1)
                                .toLongLong();
    struct rlimit before {};
    getrlimit(RLIMIT_AS, &before);
    struct rlimit tight = before;
    tight.rlim_cur = rlim_t(mappedKb + 200 * 1024) * 1024;
    QVERIFY(setrlimit(RLIMIT_AS, &tight) == 0);
    const QString error = failureOf([&] {
        imaging::writePageRaster(job, [&out](const char* bytes, std::size_t length) {
            out.write(bytes, qint64(length));
        });
    });
    setrlimit(RLIMIT_AS, &before);
    out.close();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    const QList<RasterPage> pages = readRaster(path);
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages[0].header.cupsHeight, 14031u); // 297 mm at 1200 dpi
    QCOMPARE(pages[0].header.cupsBitsPerPixel, 24u);
    // The original (203 × 279 mm) across the upper half (no edges without a printer), reduced
    // to 204 × 148.5 mm.
    QVERIFY2(within(pages[0].inkMm, QRectF(2.9, 0, 204.2, 148.5), 0.5),
             qPrintable(QDebug::toString(pages[0].inkMm)));
}

void TestPrint::driverlessPrinterGetsThePages_data()
{
    QTest::addColumn<QString>("printer");
    QTest::addColumn<int>("pages");
    QTest::addColumn<QSizeF>("pageMm");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("sizeMode");
    QTest::addColumn<int>("zoom");
    QTest::addColumn<int>("copies");
    QTest::addColumn<bool>("twoSided");
    // The printer that takes raster only gets Kopyra's raster; the one that takes PDF as well,
    // as most sold do, gets the PDF through CUPS's own filters.
    for (const QString& printer : {Driverless, DriverlessPdf}) {
        const char* name = printer == Driverless ? "raster" : "PDF";
        QTest::addRow("%s: true size", name)
            << printer << 1 << QSizeF(150, 200) << 300 << 0 << 100 << 1 << false;
        QTest::addRow("%s: fitted into the printable area", name)
            << printer << 1 << QSizeF(100, 50) << 100 << 1 << 100 << 1 << false;
        QTest::addRow("%s: zoomed", name)
            << printer << 1 << QSizeF(150, 200) << 150 << 0 << 71 << 1 << false;
        QTest::addRow("%s: two pages, two copies, collated", name)
            << printer << 2 << QSizeF(80, 60) << 150 << 0 << 100 << 2 << false;
    }
    QTest::newRow("raster: two pages, two-sided")
        << Driverless << 2 << QSizeF(80, 60) << 150 << 0 << 100 << 1 << true;
}

// Through a driverless printer's queue: the page at true size (or zoomed) within 0.2 mm, fitted
// into what the printer can print on, copies collated and two-sided as asked.
void TestPrint::driverlessPrinterGetsThePages()
{
    QFETCH(QString, printer);
    QFETCH(int, pages);
    QFETCH(QSizeF, pageMm);
    QFETCH(int, dpi);
    QFETCH(int, sizeMode);
    QFETCH(int, zoom);
    QFETCH(int, copies);
    QFETCH(bool, twoSided);
    KOPYRA_REQUIRE_DRIVERLESS_PRINTER();
    const bool raster = printer == Driverless;
    imaging::PrintSettings settings;
    settings.printer = printer;
    settings.sizeMode = imaging::PrintSettings::SizeMode(sizeMode);
    settings.zoomPercent = zoom;
    settings.twoSided = twoSided;
    settings.save();
    writePage(m_page, pageMm.width(), pageMm.height(), dpi, pages);
    ImgEdit edit;
    edit.call(343, showArgs(&m_page));
    const QString document = printedDocument(edit, printer, printArgs(copies, sizeMode, 0));
    QVERIFY(!document.isEmpty());
    // Raster from Kopyra, not from Ghostscript; else the PDF.
    QCOMPARE(newestJobFormat(printer),
             raster ? QByteArray("image/pwg-raster") : QByteArray("application/pdf"));
    const QList<RasterPage> sheets = raster ? readRaster(document) : readPdfPages(document);
    // A printer that makes copies itself gets them as the job's attributes, collated.
    const QMap<QString, QString> job = newestPrinterJob(driverless(printer, "URI"));
    const int itsCopies = job.value(QStringLiteral("copies"), QStringLiteral("1")).toInt();
    QCOMPARE(sheets.size() * itsCopies, pages * copies);
    if (itsCopies > 1)
        QCOMPARE(job.value(QStringLiteral("multiple-document-handling")),
                 QStringLiteral("separate-documents-collated-copies"));
    QCOMPARE(job.value(QStringLiteral("sides")),
             twoSided ? QStringLiteral("two-sided-long-edge") : QStringLiteral("one-sided"));

    // Fitted: as large as the printable area allows, centred in it.
    const QRectF printable = printableA4Mm(printer);
    QVERIFY(!printable.isEmpty());
    const double scale =
        std::min(printable.width() / pageMm.width(), printable.height() / pageMm.height());
    QRectF inkMm(QPointF(), sizeMode == 0 ? pageMm * (zoom / 100.0) : pageMm * scale);
    if (sizeMode == 1)
        inkMm.moveCenter(printable.center());
    // The PDF rendered again: a pixel more of tolerance.
    const double tolerance = raster ? 0.2 : 0.2 + 1 / PxPerMm;
    for (int i = 0; i < sheets.size(); ++i) {
        const cups_page_header2_t& h = sheets[i].header;
        QVERIFY2(h.PageSize[0] == 595 && qAbs(int(h.PageSize[1]) - 842) <= 1,
                 qPrintable(QStringLiteral("%1 x %2 pt").arg(h.PageSize[0]).arg(h.PageSize[1])));
        if (raster)
            QCOMPARE(bool(h.Duplex), twoSided);
        QVERIFY2(qAbs(sheets[i].grey - pageGrey(i % pages)) < 25,
                 qPrintable(QStringLiteral("page %1: %2").arg(i + 1).arg(sheets[i].grey)));
        QVERIFY2(within(sheets[i].inkMm, inkMm, tolerance),
                 qPrintable(QDebug::toString(sheets[i].inkMm)));
    }
}

void TestPrint::throughCupsd_data()
{
    QTest::addColumn<bool>("scannedSince"); // the page is newer than the control: laid out early
    QTest::addColumn<QSizeF>("pageMm");
    QTest::addColumn<int>("sizeMode");
    QTest::addColumn<QSizeF>("rewrittenMm");   // the page file replaced after it was shown
    QTest::addColumn<QSizeF>("inkMm");         // empty: fitted, as wide as the paper allows
    QTest::addColumn<int>("settingsSizeMode"); // when shown, what the page is laid out for
    const QSizeF a4(210, 297), half(100, 50);
    QTest::newRow("page from before") << false << a4 << 0 << QSizeF() << a4 << 0;
    QTest::newRow("new page, laid out while shown") << true << a4 << 0 << QSizeF() << a4 << 0;
    QTest::newRow("new page, laid out fitted while shown")
        << true << half << 1 << QSizeF() << QSizeF() << 1;
    QTest::newRow("new page, printed fitted instead")
        << true << half << 1 << QSizeF() << QSizeF() << 0;
    QTest::newRow("new page, file replaced meanwhile") << true << half << 0 << a4 << a4 << 0;
}

// Through the test cupsd's PDF printer, a PostScript printer to CUPS, read back as it arrives:
// A4, one page, not rescaled, the colours where they are on the page, the right way up.
void TestPrint::throughCupsd()
{
    QFETCH(bool, scannedSince);
    QFETCH(QSizeF, pageMm);
    QFETCH(int, sizeMode);
    QFETCH(QSizeF, rewrittenMm);
    QFETCH(QSizeF, inkMm);
    QFETCH(int, settingsSizeMode);
    const QString out = qEnvironmentVariable("KOPYRA_TEST_PDF_DIR");
    KOPYRA_REQUIRE_TEST_CUPSD();
    QDir().mkpath(out);
    imaging::PrintSettings settings;
    settings.printer = QStringLiteral("KopyraPDF");
    settings.sizeMode = imaging::PrintSettings::SizeMode(settingsSizeMode);
    settings.save();
    std::unique_ptr<ImgEdit> edit;
    showNewPage(edit, scannedSince, pageMm, 150);
    if (QTest::currentTestFailed())
        return;
    if (!rewrittenMm.isEmpty())
        writePage(m_page, rewrittenMm.width(), rewrittenMm.height(), 150);
    QTest::qWait(1100); // cups-pdf's files have whole seconds
    const QDateTime start = QDateTime::currentDateTime().addSecs(-1);
    edit->call(351, printArgs(1, sizeMode, 0));
    QTRY_VERIFY_WITH_TIMEOUT(!newestPdf(out, start).isEmpty(), 60000);
    const QString arrived = newestPdf(out, start);
    QTRY_VERIFY_WITH_TIMEOUT(readPdf(arrived).pages == 1, 10000); // written to the end
    const PdfFacts pdf = readPdf(arrived);
    QVERIFY(qAbs(pdf.sizePt.width() - 595.28) < 1 && qAbs(pdf.sizePt.height() - 841.89) < 1);
    const QSizeF ink(pdf.inkPx.width() / PxPerMm, pdf.inkPx.height() / PxPerMm);
    if (inkMm.isEmpty()) {
        QVERIFY2(ink.width() > 180 && qAbs(ink.height() - ink.width() / 2) < 1,
                 qPrintable(QStringLiteral("%1 x %2 mm").arg(ink.width()).arg(ink.height())));
    } else {
        QVERIFY(pdf.inkPx.left() <= 2 && pdf.inkPx.top() <= 2);
        QVERIFY2(qAbs(ink.width() - inkMm.width()) <= 0.5 &&
                     qAbs(ink.height() - inkMm.height()) <= 0.5,
                 qPrintable(QStringLiteral("%1 x %2 mm").arg(ink.width()).arg(ink.height())));
    }
    QCOMPARE(newestJobFormat(settings.printer), QByteArray("application/postscript"));
    // The quadrants' middles, wherever the page landed.
    const QRectF inkRect(pdf.inkPx.left() / PxPerMm, pdf.inkPx.top() / PxPerMm, ink.width(),
                         ink.height());
    for (int q = 0; q < 4 && rewrittenMm.isEmpty(); ++q) {
        const QRgb seen =
            pdfColourAt(arrived, 50,
                        inkRect.topLeft() + QPointF((q % 2 * 2 + 1) * inkRect.width() / 4,
                                                    (q / 2 * 2 + 1) * inkRect.height() / 4));
        QVERIFY2(near(seen, Quadrants[q], 40),
                 qPrintable(QStringLiteral("quadrant %1: %2").arg(q).arg(seen, 0, 16)));
    }
}

void TestPrint::pageBreakingOffFailsThePrint_data()
{
    QTest::addColumn<QString>("printer"); // none: into a PDF file
    QTest::newRow("PDF file") << QString();
    QTest::newRow("PostScript printer, sent while written") << QStringLiteral("KopyraPDF");
    QTest::newRow("driverless printer, raster sent while made") << Driverless;
}

// A page file that cannot be read to its end (its last strip damaged): the print fails with
// the reason, leaves neither a job nor a file, and does not hang on the bands under way.
void TestPrint::pageBreakingOffFailsThePrint()
{
    QFETCH(QString, printer);
    const bool toPrinter = !printer.isEmpty();
    if (printer == Driverless) {
        KOPYRA_REQUIRE_DRIVERLESS_PRINTER();
    } else if (toPrinter) {
        KOPYRA_REQUIRE_TEST_CUPSD();
    }
    const TiffLayout lzw{8, 3, PHOTOMETRIC_RGB, PLANARCONFIG_CONTIG, COMPRESSION_LZW, 16};
    writeQuadrantTiff(m_page, lzw, 1240, 1754, 150); // A4, four bands
    {
        TIFF* tif = TIFFOpen(QFile::encodeName(m_page).constData(), "r");
        QVERIFY(tif);
        const std::uint32_t last = TIFFNumberOfStrips(tif) - 1;
        std::uint64_t* offsets = nullptr;
        std::uint64_t* sizes = nullptr;
        QVERIFY(TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets) &&
                TIFFGetField(tif, TIFFTAG_STRIPBYTECOUNTS, &sizes));
        const qint64 at = qint64(offsets[last]), size = qint64(sizes[last]);
        TIFFClose(tif);
        QFile page(m_page);
        QVERIFY(page.open(QIODevice::ReadWrite) && page.seek(at));
        page.write(QByteArray(size, '\xff'));
    }
    imaging::PrintJob job;
    job.pageFile = m_page;
    job.output = toPrinter ? imaging::PrintSettings::Printer : imaging::PrintSettings::PdfFile;
    job.pdfFile = m_home->path() + QStringLiteral("/Kopie.pdf");
    job.settings.printer = printer;
    const QString error = failureOf([&job, toPrinter] {
        if (toPrinter)
            imaging::PdfInAdvance(job).sendFor(job);
        else
            imaging::printPage(job);
    });
    QVERIFY2(error.startsWith(QStringLiteral("9211 ")) &&
                 error.contains(QStringLiteral("kann nicht gedruckt werden")),
             qPrintable(error));
    QVERIFY(!QFile::exists(job.pdfFile));
    if (toPrinter)
        QCOMPARE(activeJobs(printer), 0);
}

void TestPrint::cupsdStopped_data()
{
    QTest::addColumn<QString>("remembered");
    QTest::newRow("printer remembered") << "KopyraPDF";
    QTest::newRow("none remembered") << "";
}

// No print service: the copy is neither printed nor silently filed away, and the user is told
// that the service does not answer (not that the printer is unknown).
void TestPrint::cupsdStopped()
{
    QFETCH(QString, remembered);
    imaging::PrintSettings settings;
    settings.printer = remembered;
    settings.save();
    writePage(m_page, 50, 50, 75);
    ImgEdit edit;
    edit.call(343, showArgs(&m_page));
    const auto dead =
        cupsServer(QFile::encodeName(m_home->path() + QStringLiteral("/no-cupsd.sock")));
    QCOMPARE(imaging::ImgAdmin().read(16).toInt32(), std::int32_t(imaging::PrintSettings::Printer));
    const QString error = failureOf([&edit] { edit.call(351, printArgs(1, 0, 0)); });
    QVERIFY2(error.startsWith(QStringLiteral("9213 Der Druckdienst (CUPS) antwortet nicht")),
             qPrintable(error));
    QVERIFY(edit.hasPage()); // the page stays shown
}

void TestPrint::missingPrinterIsNamed_data()
{
    QTest::addColumn<bool>("scannedSince"); // the page is newer than the control: laid out early
    QTest::addColumn<QString>("printerWhenShown");
    const QString missing = QStringLiteral("Verschwunden");
    QTest::newRow("page from before") << false << missing;
    QTest::newRow("new page, laid out while shown") << true << missing;
    // Laid out for a printer that exists; the settings name another one before the print.
    QTest::newRow("printer changed after the layout") << true << QStringLiteral("KopyraPDF");
}

// A printer the settings name that CUPS does not know: the print says which, and makes no job.
void TestPrint::missingPrinterIsNamed()
{
    QFETCH(bool, scannedSince);
    QFETCH(QString, printerWhenShown);
    KOPYRA_REQUIRE_TEST_CUPSD();
    imaging::PrintSettings settings;
    settings.printer = printerWhenShown;
    settings.save();
    std::unique_ptr<ImgEdit> edit;
    showNewPage(edit, scannedSince, QSizeF(50, 50), 75);
    if (QTest::currentTestFailed())
        return;
    settings.printer = QStringLiteral("Verschwunden");
    settings.save();
    const QString error = failureOf([&edit] { edit->call(351, printArgs(1, 0, 0)); });
    QVERIFY2(error.startsWith(QStringLiteral("9212 ")) &&
                 error.contains(QStringLiteral("„Verschwunden“ gibt es nicht")),
             qPrintable(error));
    QCOMPARE(activeJobs(QString()), 0);
}

void TestPrint::silentPrintServerKeepsWindowAlive_data()
{
    QTest::addColumn<int>("member");
    QTest::addColumn<int>("serverLifeMs");
    // The lookup before every print waits for the server to go away and finds no printer; a
    // print service that has gone is no reason to print into a file.
    QTest::newRow("member 16, before printing") << 16 << 1500;
    // The print dialog does not wait for ever: after its patience the service is reported as
    // not answering.
    QTest::newRow("member 104, the print dialog")
        << 104 << imaging::ImgAdmin::PrintServicePatienceMs + 2000;
}

void TestPrint::silentPrintServerKeepsWindowAlive()
{
    QFETCH(int, member);
    QFETCH(int, serverLifeMs);
    // A print server that takes the connection and never answers, until it goes away; on a
    // thread of its own, so that a stopped event loop cannot keep it.
    std::promise<quint16> port;
    std::thread silent([&port, serverLifeMs] {
        QTcpServer server;
        port.set_value(server.listen(QHostAddress::LocalHost) ? server.serverPort() : 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(serverLifeMs));
    });
    const quint16 silentPort = port.get_future().get();
    QVERIFY(silentPort != 0);
    Heartbeat heartbeat;
    // A dialog that opens anyway is closed: this is about the wait before it.
    const auto closer = whenShown<QPrintDialog>([](QPrintDialog* dialog) {
        dialog->reject();
        return false;
    });
    QElapsedTimer clock;
    clock.start();
    Variant result;
    QString error;
    {
        const auto server = cupsServer("127.0.0.1:" + QByteArray::number(silentPort));
        imaging::ImgAdmin admin;
        error = failureOf(
            [&] { result = member == 16 ? admin.read(16) : admin.call(104, {Variant::int32(0)}); });
    }
    const qint64 took = clock.elapsed();
    const qint64 longestGap = heartbeat.longestGap();
    silent.join();
    QVERIFY2(longestGap < 500, qPrintable(QString::number(longestGap)));
    if (member == 16) {
        QVERIFY(took >= serverLifeMs); // the lookup did wait for the server
        QCOMPARE(result.toInt32(), std::int32_t(imaging::PrintSettings::Printer));
    } else {
        QVERIFY2(error.startsWith(QString::number(int(imaging::ErrorNumber::PrintServiceSilent))),
                 qPrintable(error));
        QVERIFY(took < serverLifeMs);
    }
}

void TestPrint::printDialogKeepsSettings()
{
    QWidget owner;
    owner.show();
    QVERIFY(QTest::qWaitForWindowExposed(&owner));
    imaging::ImgAdmin admin;
    // Fitted and cancelled, fitted, a zoom preset; then cancelled from a window handle that
    // names no window (the dialog has no owner then); the ID card chosen as the original.
    for (int pass : {0, 1, 2, 3, 4}) {
        const bool accept = pass == 1 || pass == 2 || pass == 4;
        if (pass == 4)
            imaging::ImagingSettings().set(imaging::Settings::ScanSource, QStringLiteral("IdCard"));
        QWidget* parent = reinterpret_cast<QWidget*>(1);
        const auto answer = whenShown<QPrintDialog>([&](QPrintDialog* dialog) {
            parent = dialog->parentWidget();
            [&] {
                // Choosing is not printing.
                auto* buttons = dialog->findChild<QDialogButtonBox*>();
                QVERIFY(buttons && buttons->button(QDialogButtonBox::Ok));
                QCOMPARE(buttons->button(QDialogButtonBox::Ok)->text(), QStringLiteral("OK"));
                // Alt and a letter reaches one control only ("Eigenschaften" and
                // "Einstellungen" shared the E), and the options page, when shown, as well.
                QCOMPARE(imaging::duplicateAccessKeys(dialog), QStringList());
                QCOMPARE(unnamedControls(dialog), QStringList());
                auto* fit = dialog->findChild<QRadioButton*>(QStringLiteral("fitToPage"));
                auto* presets = dialog->findChild<QComboBox*>(QStringLiteral("zoomPresets"));
                QVERIFY(fit && presets);
                fit->click();
                if (pass == 2)
                    emit presets->activated(presets->findText(QStringLiteral("A4 → A5 (71 %)")));
                // Not sorted, the last page first, two on a sheet: the size of the copy does
                // not apply then, and the page says so.
                auto* perSheet = dialog->findChild<QComboBox*>(QStringLiteral("pagesPerSheet"));
                QVERIFY(perSheet);
                if (pass == 2) {
                    dialog->findChild<QCheckBox*>(QStringLiteral("collate"))->setChecked(false);
                    dialog->findChild<QCheckBox*>(QStringLiteral("reverse"))->setChecked(true);
                    perSheet->setCurrentIndex(perSheet->findData(2));
                    QVERIFY(!fit->isEnabled() && !presets->isEnabled());
                    QVERIFY(!dialog->findChild<QLabel*>(QStringLiteral("pagesPerSheetNote"))
                                 ->isHidden());
                }
                // The card's sides come at true size, one card a sheet: the page says so.
                QCOMPARE(dialog->findChild<QLabel*>(QStringLiteral("idCardNote"))->isHidden(),
                         pass != 4);
                QCOMPARE(perSheet->isEnabled(), pass != 4);
                QVERIFY(pass != 4 || !presets->isEnabled());
            }();
            accept ? dialog->accept() : dialog->reject();
            return true;
        });
        admin.call(104, {Variant::int32(pass == 3 ? 0x7ffffff0 : std::int32_t(owner.winId()))});
        QCOMPARE(parent, pass == 3 ? nullptr : &owner);
        // Abbrechen keeps the old size, OK the new one, also for a new control (next run).
        QCOMPARE(admin.read(28).toInt32(), pass == 1 ? 1 : 0);
        QCOMPARE(imaging::ImgAdmin().read(28).toInt32(), pass == 1 ? 1 : 0);
        QCOMPARE(admin.read(29).toInt32(), 1);
        const imaging::PrintSettings kept = imaging::PrintSettings::load();
        QCOMPARE(kept.zoomPercent, pass >= 2 ? 71 : 100);
        QCOMPARE(kept.collate, pass < 2);
        QCOMPARE(kept.reverse, pass >= 2);
        QCOMPARE(kept.pagesPerSheet, pass >= 2 ? 2 : 1);
    }
}

void TestPrint::stackOnEveryRoute_data()
{
    QTest::addColumn<QString>("printer");
    QTest::addColumn<int>("pages");
    QTest::addColumn<int>("copies");
    QTest::addColumn<bool>("collate");
    QTest::addColumn<bool>("reverse");
    QTest::addColumn<bool>("twoSided");
    QTest::addColumn<int>("perSheet");
    QTest::addColumn<bool>("card"); // an ID card's two sides
    // The faces of paper as they come out: the originals on each ("+" between several on a
    // sheet), "-" a blank back.
    QTest::addColumn<QString>("expected");
    struct Row {
        const char* name;
        int pages, copies;
        bool collate, reverse, twoSided;
        int perSheet;
        bool card;
        const char* expected;
    };
    const Row rows[] = {
        {"sorted", 4, 2, true, false, false, 1, false, "1 2 3 4 1 2 3 4"},
        {"not sorted", 3, 2, false, false, false, 1, false, "1 1 2 2 3 3"},
        {"reversed", 3, 2, true, true, false, 1, false, "3 2 1 3 2 1"},
        {"not sorted, reversed", 3, 2, false, true, false, 1, false, "3 3 2 2 1 1"},
        {"both sides", 3, 2, true, false, true, 1, false, "1 2 3 - 1 2 3"},
        {"both sides, not sorted", 3, 2, false, false, true, 1, false, "1 2 1 2 3 - 3"},
        {"both sides, reversed", 3, 1, true, true, true, 1, false, "3 - 1 2"},
        {"both sides, reversed, even", 4, 1, true, true, true, 1, false, "3 4 1 2"},
        {"two on a sheet, not sorted", 3, 2, false, false, false, 2, false, "1+2 1+2 3 3"},
        {"two on a sheet, both sides, reversed", 5, 1, true, true, true, 2, false, "5 - 1+2 3+4"},
        {"four on a sheet", 4, 1, true, false, false, 4, false, "1+2+3+4"},
        {"ID card", 2, 1, true, false, false, 2, true, "1+2"},
    };
    for (const QString& printer : {QStringLiteral("KopyraPDF"), Driverless, DriverlessPdf})
        for (const Row& r : rows)
            QTest::addRow("%s, %s", qPrintable(printer), r.name)
                << printer << r.pages << r.copies << r.collate << r.reverse << r.twoSided
                << r.perSheet << r.card << QString::fromLatin1(r.expected);
}

// A stack of pages told apart by their grey, read back from what each printer got (PostScript
// through CUPS, Kopyra's raster, a PDF through CUPS's filters): the faces in the order a copier
// stacks its sheets, and in each part of a face its page: at true size from the corner, or two
// or four on a sheet, each reduced to fit and centred in its part of the printable area
// (± 0.5 mm), two on a sheet turned a quarter. An ID card's front and back on one sheet at true
// size, whatever size of the copy is stored, each centred in its half. Options stored for the
// printer under Kopyra's own names (a damaged or hand-edited file) change nothing.
void TestPrint::stackOnEveryRoute()
{
    QFETCH(QString, printer);
    QFETCH(int, pages);
    QFETCH(int, copies);
    QFETCH(bool, collate);
    QFETCH(bool, reverse);
    QFETCH(bool, twoSided);
    QFETCH(int, perSheet);
    QFETCH(bool, card);
    QFETCH(QString, expected);
    KOPYRA_REQUIRE_DRIVERLESS_PRINTER();
    // For a card, a stored layout and zoom that do not apply to it.
    imaging::PrintSettings settings =
        saveOrder(printer, copies, collate, reverse, twoSided, card ? 4 : perSheet);
    settings.zoomPercent = card ? 50 : 100;
    settings.save();
    QVariantMap hostile;
    for (const char* name : {"copies", "collate", "outputorder", "sides", "media", "number-up",
                             "print-scaling", "page-ranges", "job-hold-until"})
        hostile.insert(QString::fromLatin1(name), QStringLiteral("x"));
    hostile[QStringLiteral("copies")] = QStringLiteral("500");
    hostile[QStringLiteral("collate")] = collate ? QStringLiteral("false") : QStringLiteral("true");
    hostile[QStringLiteral("outputorder")] = QStringLiteral("reverse");
    hostile[QStringLiteral("sides")] = QStringLiteral("two-sided-short-edge");
    hostile[QStringLiteral("number-up")] = QStringLiteral("4");
    hostile[QStringLiteral("job-hold-until")] = QStringLiteral("indefinite");
    hostile[QStringLiteral("bad name!")] = QStringLiteral("1");
    imaging::ImagingSettings().replaceSection(QStringLiteral("PrinterOptions/") + printer, hostile);
    const QSizeF pageMm = card ? QSizeF(96, 64) : QSizeF(200, 280);
    writePage(m_page, pageMm.width(), pageMm.height(), card ? 150 : 50, pages, card);
    ImgEdit edit;
    edit.call(343, showArgs(&m_page));
    QString document;
    if (printer == QLatin1String("KopyraPDF")) {
        document = printedByPdfPrinter(edit, printArgs(copies, 0, 0));
    } else {
        document = printedDocument(edit, printer, printArgs(copies, 0, 0));
        // The document holds every copy: the printer makes none of its own.
        const QMap<QString, QString> job = newestPrinterJob(driverless(printer, "URI"));
        QCOMPARE(job.value(QStringLiteral("copies"), QStringLiteral("1")), QStringLiteral("1"));
        QCOMPARE(job.value(QStringLiteral("sides")),
                 twoSided ? QStringLiteral("two-sided-long-edge") : QStringLiteral("one-sided"));
    }
    QVERIFY(!document.isEmpty());
    const QList<RasterPage> sheets =
        printer == Driverless ? readRaster(document, {}, true) : readPdfPages(document);
    const QStringList faces = expected.split(QLatin1Char(' '));
    QCOMPARE(sheets.size(), faces.size());

    const QRectF printable = printableA4Mm(printer);
    QVERIFY(!printable.isEmpty());
    for (qsizetype i = 0; i < sheets.size(); ++i) {
        const QString where = QStringLiteral("face %1 of \"%2\": ").arg(i + 1).arg(expected);
        int grey = 255;
        if (faces[i] == QLatin1String("-")) {
            QVERIFY2(sheets[i].inkMmIn(QRectF(0, 0, 210, 297), &grey).isEmpty(),
                     qPrintable(where + QStringLiteral("not blank")));
            continue;
        }
        const QStringList onFace = faces[i].split(QLatin1Char('+'));
        for (int cell = 0; cell < onFace.size(); ++cell) {
            const int page = onFace[cell].toInt() - 1;
            QRectF part(0, 0, 210, 297), inkMm(QPointF(), pageMm);
            if (card) {
                part = QRectF(printable.left(), printable.top() + cell * printable.height() / 2,
                              printable.width(), printable.height() / 2);
                inkMm.moveCenter(part.center());
            } else if (perSheet == 2) {
                // The upper and the lower half of the paper; the page lies across it.
                part = QRectF(printable.left(), printable.top() + cell * printable.height() / 2,
                              printable.width(), printable.height() / 2);
                inkMm.setSize(
                    QSizeF(pageMm.height(), pageMm.width()) *
                    std::min(part.height() / pageMm.width(), part.width() / pageMm.height()));
                inkMm.moveCenter(part.center());
            } else if (perSheet == 4) {
                part = QRectF(printable.left() + cell % 2 * printable.width() / 2,
                              printable.top() + cell / 2 * printable.height() / 2,
                              printable.width() / 2, printable.height() / 2);
                inkMm.setSize(pageMm * std::min(part.width() / pageMm.width(),
                                                part.height() / pageMm.height()));
                inkMm.moveCenter(part.center());
            }
            const QRectF seen = sheets[i].inkMmIn(part, &grey);
            QVERIFY2(within(seen, inkMm, 0.5),
                     qPrintable(where + QDebug::toString(seen) + QStringLiteral(" for ") +
                                QDebug::toString(inkMm)));
            QVERIFY2(qAbs(grey - pageGrey(page)) < 15,
                     qPrintable(where + QStringLiteral("page %1 has grey %2, wanted %3")
                                            .arg(page + 1)
                                            .arg(grey)
                                            .arg(pageGrey(page))));
        }
        // Nothing beyond the originals on the face.
        if (onFace.size() < perSheet && !card) {
            QRectF rest = perSheet == 2
                              ? QRectF(printable.left(), printable.top() + printable.height() / 2,
                                       printable.width(), printable.height() / 2)
                              : QRectF();
            // A millimetre off the middle, where the smoothed edge of the first may show.
            if (!rest.isEmpty())
                QVERIFY2(sheets[i].inkMmIn(rest.adjusted(0, 1, 0, 0), &grey).isEmpty(),
                         qPrintable(where + QStringLiteral("ink in the empty half: ") +
                                    QDebug::toString(sheets[i].inkMmIn(rest, &grey))));
        }
    }
}

void TestPrint::stackPrintedWhileScanned_data()
{
    QTest::addColumn<QString>("printer");
    QTest::addColumn<int>("pages"); // in the feeder
    QTest::addColumn<int>("copies");
    QTest::addColumn<bool>("collate");
    QTest::addColumn<bool>("reverse");
    QTest::addColumn<bool>("twoSided");
    QTest::addColumn<int>("perSheet");
    QTest::addColumn<QString>("mishap"); // "Abbrechen", "jam" or "printer stops" after page 2
    // The faces each job brought, the jobs in the order they came, "|" between them; "-" a
    // blank back, "+" between originals on one face.
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("told"); // the feedback line, or the failure
    struct Row {
        const char* name;
        int pages, copies;
        bool collate, reverse, twoSided;
        int perSheet;
        const char* mishap;
        const char* expected;
        const char* told;
    };
    const Row orders[] = {
        {"one copy", 4, 1, true, false, false, 1, "", "1 | 2 | 3 | 4", "gesendet (4 Seiten)"},
        {"3 copies not sorted", 3, 3, false, false, false, 1, "", "1 1 1 | 2 2 2 | 3 3 3",
         "gesendet (3 Kopien zu je 3 Seiten)"},
        {"2 copies sorted", 3, 2, true, false, false, 1, "", "1 | 2 | 3 | 1 2 3",
         "gesendet (2 Kopien zu je 3 Seiten)"},
        {"two on a sheet", 3, 1, true, false, false, 2, "", "1+2 | 3", "gesendet (2 Seiten)"},
        {"both sides, 2 copies not sorted", 3, 2, false, false, true, 1, "", "1 2 1 2 | 3 - 3",
         "gesendet (2 Kopien zu je 3 Seiten)"},
        {"reversed: once all are in", 3, 1, true, true, false, 1, "", "3 2 1",
         "gesendet (3 Seiten)"},
    };
    // Every order on the raster printer; the PDF printer takes the same jobs in another form.
    for (const QString& printer : {Driverless, DriverlessPdf})
        for (const Row& r : orders)
            if (printer == Driverless || r.perSheet == 2 || (r.copies == 2 && r.collate))
                QTest::addRow("%s, %s", qPrintable(printer), r.name)
                    << printer << r.pages << r.copies << r.collate << r.reverse << r.twoSided
                    << r.perSheet << QString() << QString::fromLatin1(r.expected)
                    << QString::fromUtf8(r.told);
    const Row mishaps[] = {
        {"Abbrechen after page 2 of 4", 4, 1, true, false, false, 1, "Abbrechen", "1 | 2",
         "gesendet (2 Seiten). Abgebrochen"},
        {"a jam on page 3 of 4", 4, 1, true, false, false, 1, "jam", "1 | 2",
         "9156 Beim Scannen von Seite 3: Im Scanner gibt es einen Papierstau. Die Seiten 1 bis "
         "2 sind an den Drucker gesendet."},
        {"the printer stops taking jobs after page 2", 4, 1, true, false, false, 1, "printer stops",
         "1 | 2", "nimmt zurzeit keine Aufträge an"},
    };
    for (const Row& r : mishaps)
        QTest::addRow("%s", r.name) << Driverless << r.pages << r.copies << r.collate << r.reverse
                                    << r.twoSided << r.perSheet << QString::fromLatin1(r.mishap)
                                    << QString::fromLatin1(r.expected) << QString::fromUtf8(r.told);
}

// The feeder's stack printed while it is scanned, as the scanner helper delivers it: each page
// complete in a file that grows, with grain, told to the stack; the next page is fed once the
// sheets before it are at the printer (the test fails if they never come). Each sheet is a job
// of its own where the order allows it; the faces across the jobs are those of the same copy
// printed at once. A cancel, a jam or a printer that stops ends the copy with what came out,
// told once; the scan is stopped with it.
void TestPrint::stackPrintedWhileScanned()
{
    QFETCH(QString, printer);
    QFETCH(int, pages);
    QFETCH(int, copies);
    QFETCH(bool, collate);
    QFETCH(bool, reverse);
    QFETCH(bool, twoSided);
    QFETCH(int, perSheet);
    QFETCH(QString, mishap);
    QFETCH(QString, expected);
    QFETCH(QString, told);
    KOPYRA_REQUIRE_DRIVERLESS_PRINTER();
    saveOrder(printer, 1, collate, reverse, twoSided, perSheet); // copies: the print's own
    const QString spool = driverless(printer, "SPOOL");
    const QString pattern =
        printer == DriverlessPdf ? QStringLiteral("*.pdf") : QStringLiteral("*.pwg");
    const QStringList before = QDir(spool).entryList({pattern});
    const auto jobsIn = [&] { return QDir(spool).entryList({pattern}).size() - before.size(); };
    const bool early = !reverse;
    const int sheetPages = perSheet * (twoSided ? 2 : 1);

    auto stack = std::make_shared<imaging::GrowingStack>(m_page);
    std::atomic_bool cancelled{false};
    stack->onCancel([&cancelled] { cancelled = true; });
    std::atomic_bool waitedInVain{false};
    std::thread feeder([&] {
        imaging::PageWriter writer(m_page);
        imaging::PageFormat f;
        f.xDpi = f.yDpi = 50;
        f.width = qRound(200 / 25.4 * 50);
        f.height = qRound(280 / 25.4 * 50);
        std::mt19937 random(4711);
        std::normal_distribution<double> grain(0, 6);
        std::vector<std::uint8_t> row(size_t(f.width));
        const auto waitUntil = [&](const std::function<bool()>& done) {
            QDeadlineTimer patience(30000);
            while (!done() && !patience.hasExpired())
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return done();
        };
        for (int page = 0; page < pages && !cancelled; ++page) {
            if (mishap == QLatin1String("jam") && page == 2) {
                writer.commit();
                stack->end(false, std::make_exception_ptr(imaging::DispatchError(
                                      9156,
                                      QStringLiteral("Beim Scannen von Seite 3: Im Scanner gibt "
                                                     "es einen Papierstau."),
                                      QStringLiteral("ScanLibCtl.ImgScan"))));
                return;
            }
            writer.begin(f);
            for (int y = 0; y < f.height; ++y) {
                for (std::uint8_t& level : row)
                    level = std::uint8_t(
                        std::clamp(pageGrey(page) + int(std::lround(grain(random))), 0, 255));
                writer.writeRow(row.data(), y);
            }
            writer.endPage();
            stack->pagesIn(page + 1, writer.temporaryName());
            if (page + 1 == 2 && mishap == QLatin1String("printer stops")) {
                waitUntil([&] { return jobsIn() >= 2; });
                run(QStringLiteral("cupsreject"), {printer});
            }
            if (page + 1 == 2 && mishap == QLatin1String("Abbrechen"))
                waitUntil([&] { return cancelled.load(); });
            // The sheets whose pages are in reach the printer before the next page is fed.
            if (early && (page + 1) % sheetPages == 0 && page + 1 < pages &&
                !waitUntil([&] { return jobsIn() >= (page + 1) / sheetPages || cancelled; }))
                waitedInVain = true;
        }
        writer.commit();
        stack->end(!cancelled);
    });
    const auto accepting = qScopeGuard([&] { run(QStringLiteral("cupsaccept"), {printer}); });
    QTRY_VERIFY(stack->state().pages > 0);
    imaging::GrowingStack::publish(stack);
    // "Abbrechen" once the second page is at the printer.
    const auto watcher = whenShown<QProgressDialog>([&](QProgressDialog* progress) {
        if (mishap != QLatin1String("Abbrechen") ||
            !progress->labelText().contains(QStringLiteral("Seiten 1 bis 2")))
            return false;
        progress->findChild<QPushButton*>()->click();
        return true;
    });
    ImgEdit edit;
    QWidget window;
    edit.createView(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    edit.call(343, showArgs(&m_page));
    const QString failure = failureOf([&] { edit.call(351, printArgs(copies, 0, 0)); });
    feeder.join();
    QVERIFY(!waitedInVain);
    QCOMPARE(cancelled.load(), !mishap.isEmpty() && mishap != QLatin1String("jam"));
    if (mishap == QLatin1String("jam") || mishap == QLatin1String("printer stops"))
        QVERIFY2(failure.contains(told), qPrintable(failure));
    else
        QVERIFY2(failure.isEmpty() && edit.feedback().line().contains(told),
                 qPrintable(failure + edit.feedback().line()));
    for (QDeadlineTimer patience(120000); activeJobs(printer) != 0 && !patience.hasExpired();)
        QTest::qWait(50);

    // The jobs in the order the printer got them (its spool names them by number).
    QStringList arrived = QDir(spool).entryList({pattern});
    for (const QString& old : before)
        arrived.removeOne(old);
    std::sort(arrived.begin(), arrived.end(), [](const QString& a, const QString& b) {
        return a.section(QLatin1Char('-'), 0, 0).toInt() <
               b.section(QLatin1Char('-'), 0, 0).toInt();
    });
    const QRectF printable = printableA4Mm(printer);
    QStringList jobs;
    for (const QString& name : arrived) {
        const QString document = QDir(spool).filePath(name);
        QStringList faces;
        for (const RasterPage& face :
             printer == Driverless ? readRaster(document, {}, true) : readPdfPages(document)) {
            // Each original by its grey, in the upper and the lower half for two on a sheet.
            QStringList onFace;
            for (int cell = 0; cell < perSheet; ++cell) {
                const QRectF part =
                    perSheet == 1 ? QRectF(0, 0, 210, 297)
                                  : QRectF(printable.left(),
                                           printable.top() + cell * printable.height() / 2 + 1,
                                           printable.width(), printable.height() / 2 - 2);
                int grey = 255;
                if (!face.inkMmIn(part, &grey).isEmpty())
                    onFace << QString::number(qRound((grey - 30) / 40.0) + 1);
            }
            faces << (onFace.isEmpty() ? QStringLiteral("-") : onFace.join(QLatin1Char('+')));
        }
        jobs << faces.join(QLatin1Char(' '));
    }
    QCOMPARE(jobs.join(QStringLiteral(" | ")), expected);
}

// What is chosen in the printer dialog reaches the next copy's paper, read by the copy as the
// copy run reads it (the copies, the size of the copy, both sides), and the printer's own
// options chosen in its properties are remembered for it, shown so the next time and sent with
// the copy (the printer gets them as IPP attributes). What a copy does not carry out is not
// shown.
void TestPrint::dialogChoicesReachThePaper()
{
    KOPYRA_REQUIRE_DRIVERLESS_PRINTER();
    imaging::PrintSettings settings;
    settings.printer = Driverless;
    settings.save();
    QMap<QString, QString> shown; // option: the choice shown when the properties opened
    QStringList visible;          // what should not be shown, shown
    for (const bool choose : {true, false}) {
        const auto properties = whenShown<QDialog>([&](QDialog* dialog) {
            if (!dialog->inherits("QPrintPropertiesDialog"))
                return false;
            for (const char* name : {"groupBox_3", "groupBox", "pagesPerSheetButtonGroup"})
                if (auto* w = dialog->findChild<QWidget*>(QString::fromLatin1(name));
                    w && w->isVisibleTo(dialog))
                    visible << QString::fromLatin1(name);
            for (QComboBox* b : dialog->findChildren<QComboBox*>()) {
                shown[imaging::driverOptionOf(b)] = b->currentText();
                // Draft and the manual feed, in CUPS's words or ours.
                for (int i = 0; choose && i < b->count(); ++i)
                    if (QStringList{QStringLiteral("Entwurf"), QStringLiteral("Manuelle Zufuhr")}
                            .contains(b->itemText(i)))
                        b->setCurrentIndex(i);
            }
            dialog->accept();
            return true;
        });
        const auto print = whenShown<QPrintDialog>([&](QPrintDialog* dialog) {
            for (const char* name : {"pageSetCombo", "printAll"})
                if (auto* w = dialog->findChild<QWidget*>(QString::fromLatin1(name));
                    w && w->isVisibleTo(dialog))
                    visible << QString::fromLatin1(name);
            dialog->findChild<QSpinBox*>(QStringLiteral("copies"))->setValue(2);
            dialog->findChild<QRadioButton*>(QStringLiteral("duplexLong"))->click();
            dialog->findChild<QSpinBox*>(QStringLiteral("zoomPercent"))->setValue(71);
            dialog->findChild<QPushButton*>(QStringLiteral("properties"))->click();
            choose ? dialog->accept() : dialog->reject();
            return true;
        });
        imaging::ImgAdmin().call(104, {Variant::int32(0)});
    }
    QCOMPARE(visible, QStringList());
    // Shown as chosen, the second time.
    QCOMPARE(shown.value(QStringLiteral("cupsPrintQuality")), QStringLiteral("Entwurf"));
    QCOMPARE(shown.value(QStringLiteral("InputSlot")), QStringLiteral("Manuelle Zufuhr"));

    const QSizeF pageMm(150, 200);
    writePage(m_page, pageMm.width(), pageMm.height(), 150);
    ImgEdit edit;
    edit.call(343, showArgs(&m_page));
    imaging::ImgAdmin admin;
    const QString document = printedDocument(
        edit, Driverless, printArgs(admin.read(29).toInt32(), admin.read(28).toInt32(), 0));
    QVERIFY(!document.isEmpty());
    // Both sides: each copy begins on a sheet of its own, a blank back between.
    const QList<RasterPage> pages = readRaster(document);
    QCOMPARE(pages.size(), 3);
    QCOMPARE(pages[1].grey, 255);
    for (const RasterPage& page : {pages[0], pages[2]}) {
        QVERIFY(page.header.Duplex);
        // Draft: the coarsest resolution the printer takes (300 of 300 and 600 dpi).
        QCOMPARE(page.header.HWResolution[0], 300u);
        QVERIFY2(within(page.inkMm, QRectF(QPointF(), pageMm * 0.71), 0.2),
                 qPrintable(QDebug::toString(page.inkMm)));
    }
    const QMap<QString, QString> job = newestPrinterJob(driverless(Driverless, "URI"));
    QCOMPARE(job.value(QStringLiteral("print-quality")), QStringLiteral("draft"));
    QVERIFY2(job.value(QStringLiteral("media-col")).contains(QStringLiteral("manual")),
             qPrintable(job.value(QStringLiteral("media-col"))));
}

// A printer's remembered options stay remembered through the dialog: "Abbrechen" in its
// properties goes back to them (not to the driver's defaults), and after another printer was
// chosen and this one again, its properties show them again. Job options are not offered.
void TestPrint::rememberedOptionsSurviveTheDialog()
{
    KOPYRA_REQUIRE_DRIVERLESS_PRINTER();
    const QString printer = QStringLiteral("KopyraPDF");
    imaging::PrintSettings settings;
    settings.printer = printer;
    settings.save();
    imaging::savePrinterOptions(printer,
                                {{QStringLiteral("PDFVer"), QStringLiteral("1.5")},
                                 {QStringLiteral("job-hold-until"), QStringLiteral("indefinite")}});
    QStringList shown; // the PDF version each time the properties opened
    int opened = 0;
    bool jobOptionsShown = false;
    const auto properties = whenShown<QDialog>([&](QDialog* dialog) {
        if (!dialog->inherits("QPrintPropertiesDialog"))
            return false;
        for (QComboBox* box : dialog->findChildren<QComboBox*>())
            if (imaging::driverOptionOf(box) == QLatin1String("PDFVer")) {
                shown << box->currentText();
                box->setCurrentIndex(0); // another version, then thought better of
            }
        for (QTabWidget* tabs : dialog->findChildren<QTabWidget*>())
            for (int i = 0; i < tabs->count(); ++i)
                jobOptionsShown = jobOptionsShown ||
                                  (tabs->isTabVisible(i) && tabs->widget(i)->findChild<QWidget*>(
                                                                QStringLiteral("jobHoldComboBox")));
        ++opened == 1 ? dialog->reject() : dialog->accept();
        return opened == 3;
    });
    const auto print = whenShown<QPrintDialog>([&](QPrintDialog* dialog) {
        auto* printers = dialog->findChild<QComboBox*>(QStringLiteral("printers"));
        auto* button = dialog->findChild<QPushButton*>(QStringLiteral("properties"));
        button->click(); // Abbrechen
        button->click(); // as remembered again, then OK with version 1.2
        printers->setCurrentIndex(printers->findText(Driverless));
        printers->setCurrentIndex(printers->findText(printer));
        dialog->accept(); // the properties not opened again: as remembered
        return true;
    });
    imaging::ImgAdmin().call(104, {Variant::int32(0)});
    QCOMPARE(shown.mid(0, 2), (QStringList{QStringLiteral("1.5"), QStringLiteral("1.5")}));
    QVERIFY(!jobOptionsShown);
    QCOMPARE(imaging::printerOptions(printer),
             (imaging::PrinterOptions{{QStringLiteral("PDFVer"), QStringLiteral("1.5")}}));
}

// A PPD printer's own option (cups-pdf's PDF version) goes with the copy and shows in the file
// it writes; a choice its driver does not have is dropped, and the copy comes as without it.
void TestPrint::printerOptionsReachThePdfPrinter()
{
    KOPYRA_REQUIRE_TEST_CUPSD();
    const QString printer = QStringLiteral("KopyraPDF");
    imaging::PrintSettings settings;
    settings.printer = printer;
    settings.save();
    writePage(m_page, 80, 60, 100);
    ImgEdit edit;
    edit.call(343, showArgs(&m_page));
    QStringList headers;
    for (const char* version : {"", "1.5", "9.9"}) {
        imaging::PrinterOptions options;
        if (*version)
            options.append({QStringLiteral("PDFVer"), QString::fromLatin1(version)});
        imaging::savePrinterOptions(printer, options);
        const QString pdf = printedByPdfPrinter(edit, printArgs(1, 0, 0));
        QVERIFY(!pdf.isEmpty());
        headers << QString::fromLatin1(contents(pdf).left(8));
    }
    QCOMPARE(headers[1], QStringLiteral("%PDF-1.5"));
    QVERIFY2(headers[0] != headers[1] && headers[2] == headers[0],
             qPrintable(headers.join(QLatin1Char(' '))));
}

// A driver's own duplex or booklet option (constrained against Duplex in its PPD) and IPP's
// page-delivery would put the next copy on the back of the last one or reorder the sheets:
// never sent, whatever they are called; the printer's other options are.
void TestPrint::driversOwnDuplexNeverSent()
{
    KOPYRA_REQUIRE_TEST_CUPSD();
    const QString printer = QStringLiteral("KopyraVendor");
    QProcess lpadmin;
    lpadmin.start(QStringLiteral("lpadmin"),
                  {QStringLiteral("-p"), printer, QStringLiteral("-E"), QStringLiteral("-v"),
                   QStringLiteral("cups-pdf:/"), QStringLiteral("-P"),
                   QFINDTESTDATA("ppd/vendor_duplex.ppd")});
    QVERIFY(lpadmin.waitForFinished() && lpadmin.exitCode() == 0);
    const auto removed = qScopeGuard([&] {
        QProcess::execute(QStringLiteral("lpadmin"), {QStringLiteral("-x"), printer});
    });
    imaging::ImagingSettings().replaceSection(
        QStringLiteral("PrinterOptions/") + printer,
        {{QStringLiteral("KMDuplex"), QStringLiteral("Booklet")},
         {QStringLiteral("MediaType"), QStringLiteral("Thick")},
         {QStringLiteral("page-delivery"), QStringLiteral("reverse-order-face-up")}});
    imaging::PrintJob job;
    job.settings.printer = printer;
    job.output = imaging::PrintSettings::Printer;
    imaging::choosePrinter(job);
    QCOMPARE(job.printerOptions,
             (imaging::PrinterOptions{{QStringLiteral("MediaType"), QStringLiteral("Thick")}}));
}

void TestPrint::printerOptionsOnTheRaster_data()
{
    QTest::addColumn<QString>("colourModel"); // as remembered; empty: none
    QTest::addColumn<QString>("colourMode");  // as the printer got it
    QTest::newRow("colour") << ""
                            << "color";
    QTest::newRow("greyscale chosen") << "Gray"
                                      << "monochrome";
}

// Where no filter runs (PWG raster to a colour printer), what concerns the page is Kopyra's
// own: greyscale makes a grey raster, and the printer is told so.
void TestPrint::printerOptionsOnTheRaster()
{
    QFETCH(QString, colourModel);
    QFETCH(QString, colourMode);
    KOPYRA_REQUIRE_DRIVERLESS_PRINTER();
    const QString printer = QStringLiteral("KopyraIPPColour");
    imaging::PrintSettings settings;
    settings.printer = printer;
    settings.save();
    imaging::PrinterOptions options;
    if (!colourModel.isEmpty())
        options.append({QStringLiteral("ColorModel"), colourModel});
    imaging::savePrinterOptions(printer, options);
    writeQuadrantTiff(m_page, TiffLayout(), 400, 300, 100);
    ImgEdit edit;
    edit.call(343, showArgs(&m_page));
    const QString document = printedDocument(edit, printer, printArgs(1, 0, 0));
    QVERIFY(!document.isEmpty());
    const QList<RasterPage> pages = readRaster(document);
    QCOMPARE(pages.size(), 1);
    QCOMPARE(pages[0].header.cupsColorSpace == CUPS_CSPACE_SW, !colourModel.isEmpty());
    const QMap<QString, QString> job = newestPrinterJob(driverless(printer, "URI"));
    QCOMPARE(job.value(QStringLiteral("print-color-mode")), colourMode);
}

// A printer's options, which its PPD names in English, are shown in German where CUPS has the
// words (for the PDF printer: its group), or where we have them (a driverless printer's trays
// and papers; Qt's print device leaks in libcups with such a printer's PPD, so not opened here).
void TestPrint::printerOptionsInGerman()
{
    KOPYRA_REQUIRE_TEST_CUPSD();
    QStringList shown;
    const auto properties = whenShown<QDialog>([&shown](QDialog* dialog) {
        if (!dialog->inherits("QPrintPropertiesDialog"))
            return false;
        for (QGroupBox* group : dialog->findChildren<QGroupBox*>())
            shown << group->title();
        dialog->reject();
        return true;
    });
    const auto print = whenShown<QPrintDialog>([](QPrintDialog* dialog) {
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->text().remove(QLatin1Char('&')) == QStringLiteral("Eigenschaften"))
                button->click(); // returns once the properties are closed
        dialog->reject();
        return true;
    });
    imaging::ImgAdmin().call(104, {Variant::int32(0)});
    QVERIFY2(shown.contains(QStringLiteral("Allgemein")), qPrintable(shown.join(QLatin1Char('|'))));
    QVERIFY(!shown.contains(QStringLiteral("General")));
}

void TestPrint::cupsWordsInGerman_data()
{
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("german"); // empty: none
    QTest::addColumn<QString>("quoted"); // in a German sentence
    QTest::newRow("an option, CUPS's word") << "Print Quality"
                                            << "Druckqualität"
                                            << "„Druckqualität“.";
    QTest::newRow("a tray, our word") << "Main"
                                      << "Hauptfach"
                                      << "„Hauptfach“.";
    QTest::newRow("a driver's own") << "PDF version"
                                    << ""
                                    << "„PDF version“.";
    QTest::newRow("a state, a sentence") << "Connected to printer."
                                         << "Verbunden zum Drucker."
                                         << "„Verbunden zum Drucker.“";
    QTest::newRow("a state CUPS has no German for") << "  Printer on fire!\n"
                                                    << ""
                                                    << "„Printer on fire!“";
}

// CUPS's words inside Kopyra's German sentences: in German where its catalogue has them, and
// the sentence ended once, inside the quote or after it.
void TestPrint::cupsWordsInGerman()
{
    QFETCH(QString, english);
    QFETCH(QString, german);
    QFETCH(QString, quoted);
    QCOMPARE(imaging::cupsGerman(english.trimmed()), german);
    QCOMPARE(imaging::cupsQuoted(english), quoted);
}

KOPYRA_TEST_MAIN(TestPrint)

#include "tst_print.moc"
