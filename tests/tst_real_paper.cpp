// The original type on pages as real scanners deliver them: paper with the grain and noise of
// a real scan (seeded, so every run sees the same pixels), recycled and yellowish paper,
// newsprint's mottle, the back's text showing through, faint pencil, photos without paper at
// their edges. Read back as every way of printing reads the page, and drawn two on a sheet.
#include "dispatch/dispatch_error.h"
#include "dispatch/error_numbers.h"
#include "imaging/edit/page_printer.h"
#include "imaging/edit/pages_on_sheet.h"
#include "imaging/edit/print_job.h"
#include "imaging/page_file/book_pages.h"
#include "imaging/page_file/page_reader.h"
#include "imaging/page_file/page_writer.h"
#include "imaging/page_file/paper_white.h"
#include "real_scan.h"

#include <QDebug>
#include <QDir>
#include <QGuiApplication>
#include <QPageSize>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <vector>

using real_scan::Scan;
using real_scan::writeScan;

namespace {

// The mean level of an area (x, y, width, height in mm) of the page as every reader gets it:
// the lightness of colour pages.
double meanAt(const QString& path, const QRectF& mm, int pageNumber = 0)
{
    imaging::PageReader page;
    QString why;
    if (!page.open(path, &why, pageNumber))
        return -1;
    const double dpi = page.xDpi();
    const QRect area(int(mm.x() / 25.4 * dpi), int(mm.y() / 25.4 * dpi),
                     std::max(1, int(mm.width() / 25.4 * dpi)),
                     std::max(1, int(mm.height() / 25.4 * dpi)));
    double sum = 0;
    int n = 0;
    page.forEachBand(
        64,
        [&](const QImage& band, int top) {
            const QImage rgb = band.convertToFormat(QImage::Format_RGB32);
            for (int y = std::max(top, area.top());
                 y <= std::min(top + band.height() - 1, area.bottom()); ++y)
                for (int x = area.left(); x <= area.right(); ++x, ++n)
                    sum += qGray(rgb.pixel(x, y - top));
        },
        &why, area.top(), area.bottom() + 1);
    return n ? sum / n : -1;
}

// The dark strokes down a column of a grey picture, at pxPerMm: where each begins and how long
// it is, in mm.
QList<QPointF> strokesDown(const QImage& picture, double xMm, double pxPerMm)
{
    const QImage grey = picture.convertToFormat(QImage::Format_Grayscale8);
    const int x = int(std::lround(xMm * pxPerMm));
    QList<QPointF> strokes;
    for (int y = 0, begun = -1; y <= grey.height(); ++y) {
        const bool dark = y < grey.height() && grey.constScanLine(y)[x] < 128;
        if (dark && begun < 0)
            begun = y;
        if (!dark && begun >= 0) {
            strokes.append(QPointF(begun / pxPerMm, (y - begun) / pxPerMm));
            begun = -1;
        }
    }
    return strokes;
}

// The distance from the first stroke after the heading to the last, over their count.
double spacingOf(const QList<QPointF>& strokes)
{
    return strokes.size() < 3 ? 0
                              : (strokes.last().x() - strokes[1].x()) / double(strokes.size() - 2);
}

} // namespace

class TestRealPaper : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void paperOfRealScans_data();
    void paperOfRealScans();
    void textWithLighterOrDarker_data();
    void textWithLighterOrDarker();
    void pagesWithoutPaperKeepTheirLight_data();
    void pagesWithoutPaperKeepTheirLight();
    void damagedDescriptionMeansAsScanned_data();
    void damagedDescriptionMeansAsScanned();
    void sixteenBitGreyPage();
    void twoOnASheetWhitenedAsEachOriginal();
    void bookMadeItsTwoPages_data();
    void bookMadeItsTwoPages();
    void noBookNoPages_data();
    void noBookNoPages();
    void bookOnPaper();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_page;
};

void TestRealPaper::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_page = m_dir->filePath(QStringLiteral("page.tif"));
}

void TestRealPaper::cleanup() { m_dir.reset(); }

void TestRealPaper::paperOfRealScans_data()
{
    QTest::addColumn<Scan>("scan");
    QTest::addColumn<int>("original");
    const QRgb yellowish = qRgb(235, 225, 190);
    for (const int original : {0, 1}) {
        const char* type = original ? "text" : "text and photo";
        for (const int dpi : {150, 600})
            for (const double grain : {2.0, 6.0, 10.0}) {
                const QByteArray name = QByteArray(type) + ", paper 200, grain " +
                                        QByteArray::number(grain) + ", " + QByteArray::number(dpi) +
                                        " dpi";
                QTest::newRow(name)
                    << Scan{QStringLiteral("letter"), qRgb(200, 200, 200), grain, dpi} << original;
            }
        QTest::newRow(QByteArray(type) + ", yellowish, grain 6")
            << Scan{QStringLiteral("letter"), yellowish, 6, 150} << original;
        QTest::newRow(QByteArray(type) + ", yellowish, grain 10, 600 dpi")
            << Scan{QStringLiteral("letter"), yellowish, 10, 600} << original;
        QTest::newRow(QByteArray(type) + ", newsprint")
            << Scan{QStringLiteral("newsprint"), qRgb(200, 200, 200), 8, 300} << original;
    }
}

// Text und Foto and Text print the paper of a real scan white, with its grain and what shows
// through from the back; the heading stays dark, the ramp rising.
void TestRealPaper::paperOfRealScans()
{
    QFETCH(Scan, scan);
    QFETCH(int, original);
    scan.original = original;
    writeScan(m_page, scan);
    const double paper = meanAt(m_page, {40, 126, 20, 8});
    const double edge = meanAt(m_page, {2, 2, 6, 6});
    const double text = meanAt(m_page, {30, 17, 40, 6});
    const double showThrough = meanAt(m_page, {60, 32, 25, 16});
    const double ramp[] = {meanAt(m_page, {19.5, 80, 1, 20}), meanAt(m_page, {34.5, 80, 1, 20}),
                           meanAt(m_page, {49.5, 80, 1, 20})};
    const QString seen = QStringLiteral("paper %1 (edge %2), text %3, show-through %4, ramp %5 "
                                        "%6 %7")
                             .arg(paper, 0, 'f', 1)
                             .arg(edge, 0, 'f', 1)
                             .arg(text, 0, 'f', 1)
                             .arg(showThrough, 0, 'f', 1)
                             .arg(ramp[0], 0, 'f', 1)
                             .arg(ramp[1], 0, 'f', 1)
                             .arg(ramp[2], 0, 'f', 1);
    imaging::PageReader page;
    QString why;
    QVERIFY(page.open(m_page, &why) && page.whitening());
    qInfo("%s: %s", page.whitening()->toText().constData(), qPrintable(seen));
    QVERIFY2(paper >= 245 && edge >= 245, qPrintable(seen));
    QVERIFY2(showThrough >= 245, qPrintable(seen));
    QVERIFY2(text <= (original == 1 ? 40 : 60), qPrintable(seen));
    if (original == 0)
        QVERIFY2(ramp[0] + 20 < ramp[1] && ramp[1] + 20 < ramp[2] && ramp[2] < 245,
                 qPrintable(seen));
}

void TestRealPaper::textWithLighterOrDarker_data()
{
    QTest::addColumn<int>("tone");
    QTest::addColumn<bool>("pencilShown");
    QTest::newRow("heller, two steps: the pencil dropped") << -2 << false;
    QTest::newRow("heller") << -1 << false;
    QTest::newRow("normal") << 0 << true;
    QTest::newRow("dunkler") << 1 << true;
    QTest::newRow("dunkler, two steps: the pencil brought out") << 2 << true;
}

// Text keeps the text black at every step; lighter drops faint marks, darker brings them out,
// and the paper stays white either way.
void TestRealPaper::textWithLighterOrDarker()
{
    QFETCH(int, tone);
    QFETCH(bool, pencilShown);
    Scan scan;
    scan.original = 1;
    scan.tone = tone;
    writeScan(m_page, scan);
    const double paper = meanAt(m_page, {40, 126, 20, 8});
    const double text = meanAt(m_page, {30, 17, 40, 6});
    const double pencil = meanAt(m_page, {30, 54.5, 40, 2});
    const QString seen = QStringLiteral("paper %1, text %2, pencil %3")
                             .arg(paper, 0, 'f', 1)
                             .arg(text, 0, 'f', 1)
                             .arg(pencil, 0, 'f', 1);
    QVERIFY2(paper >= 245 && text <= 40, qPrintable(seen));
    QVERIFY2(pencilShown ? pencil <= 230 : pencil >= 245, qPrintable(seen));
    if (tone == 2)
        QVERIFY2(pencil <= 190, qPrintable(seen));
}

void TestRealPaper::pagesWithoutPaperKeepTheirLight_data()
{
    QTest::addColumn<Scan>("scan");
    QTest::addColumn<QRectF>("where");
    QTest::addColumn<int>("asScanned");
    // A large white area inside a frame: the frame's level at the edges is no paper.
    QTest::newRow("white inside a grey frame")
        << Scan{QStringLiteral("frame"), qRgb(170, 170, 170), 6, 150} << QRectF(5, 60, 8, 8) << 170;
    QTest::newRow("white inside a grey frame, its white")
        << Scan{QStringLiteral("frame"), qRgb(170, 170, 170), 6, 150} << QRectF(40, 60, 20, 20)
        << 245;
    QTest::newRow("a bright sky that fills the glass")
        << Scan{QStringLiteral("sky"), qRgb(255, 255, 255), 6, 150} << QRectF(40, 2, 20, 3) << 228;
    // Foto: the letter as scanned, its paper, what shows through and its heading.
    Scan photo;
    photo.original = 2;
    QTest::newRow("Foto: the paper") << photo << QRectF(40, 126, 20, 8) << 200;
    QTest::newRow("Foto: the heading") << photo << QRectF(30, 17, 40, 6) << 20;
    photo.paper = qRgb(235, 225, 190);
    QTest::newRow("Foto: a yellowish paper") << photo << QRectF(40, 126, 20, 8) << 223;
    QTest::newRow("white page with a grid")
        << Scan{QStringLiteral("grid"), qRgb(250, 250, 250), 3, 150} << QRectF(2, 2, 6, 6) << 250;
}

// Text und Foto leaves alone what is not paper, and Foto everything: the levels as scanned
// (± 3).
void TestRealPaper::pagesWithoutPaperKeepTheirLight()
{
    QFETCH(Scan, scan);
    QFETCH(QRectF, where);
    QFETCH(int, asScanned);
    writeScan(m_page, scan);
    const double seen = meanAt(m_page, where);
    QVERIFY2(std::abs(seen - asScanned) <= 3, qPrintable(QString::number(seen)));
}

void TestRealPaper::damagedDescriptionMeansAsScanned_data()
{
    QTest::addColumn<QByteArray>("description");
    QTest::addColumn<int>("paper");
    QTest::newRow("as a scan writes it")
        << QByteArray("Kopyra white: 150 150 150; text 0; tone 0") << 255;
    QTest::newRow("no levels") << QByteArray("Kopyra white: 0 0 0; text 0; tone 0") << 200;
    QTest::newRow("an overflowing level")
        << QByteArray("Kopyra white: 99999999999 150 150; text 0; tone 0") << 200;
    QTest::newRow("a level beyond 8 bits")
        << QByteArray("Kopyra white: 300 150 150; text 0; tone 0") << 200;
    QTest::newRow("paper darker than any paper")
        << QByteArray("Kopyra white: 95 150 150; text 0; tone 0") << 200;
    QTest::newRow("a two-digit tone")
        << QByteArray("Kopyra white: 150 150 150; text 0; tone -12") << 200;
    QTest::newRow("a tone beyond the steps")
        << QByteArray("Kopyra white: 150 150 150; text 0; tone 3") << 200;
    QTest::newRow("typed by hand") << QByteArray("Kopyra white: 150;text 0;tone 0") << 200;
}

// A page whose recorded treatment is damaged or made by hand prints as scanned, never blank.
void TestRealPaper::damagedDescriptionMeansAsScanned()
{
    QFETCH(QByteArray, description);
    QFETCH(int, paper);
    imaging::PageFormat f;
    f.width = 100;
    f.height = 100;
    f.xDpi = f.yDpi = 100;
    imaging::PageWriter writer(m_page);
    writer.begin(f);
    std::vector<std::uint8_t> row(100, 200);
    for (int y = 0; y < 100; ++y)
        writer.writeRow(row.data(), y);
    writer.describe(description);
    writer.commit();
    QCOMPARE(std::lround(meanAt(m_page, {5, 5, 10, 10})), paper);
}

// A 16-bit grey scan is read as grey and whitened as an 8-bit one.
void TestRealPaper::sixteenBitGreyPage()
{
    Scan scan;
    scan.bits = 16;
    writeScan(m_page, scan);
    imaging::PageReader page;
    QString why;
    QVERIFY2(page.open(m_page, &why), qPrintable(why));
    QCOMPARE(page.bandFormat(), imaging::PageReader::BandFormat::Grey);
    QVERIFY2(meanAt(m_page, {40, 126, 20, 8}) >= 245, "paper not white");
    QVERIFY2(meanAt(m_page, {30, 17, 40, 6}) <= 60, "text not dark");
}

// Two on a sheet (the sheet turned, every band crossing every row of both originals): each
// original whitened as its own reader whitens it, once, on what was drawn; a grey sheet of a
// colour original by its paper's lightness.
void TestRealPaper::twoOnASheetWhitenedAsEachOriginal()
{
    // The stack as scanned: a grey letter and a yellowish one, each recording its own paper.
    const QString first = m_dir->filePath(QStringLiteral("first.tif"));
    const QString second = m_dir->filePath(QStringLiteral("second.tif"));
    writeScan(first, Scan{QStringLiteral("letter"), qRgb(200, 200, 200), 6, 150});
    writeScan(second, Scan{QStringLiteral("letter"), qRgb(235, 225, 190), 6, 150});
    // The same two whitened by their readers and written without a description: what each
    // original should look like on the sheet.
    const auto stackOf = [](const QString& path, const QStringList& pages, bool whiten) {
        imaging::PageWriter writer(path);
        for (const QString& file : pages) {
            imaging::PageReader page;
            QString why;
            page.open(file, &why);
            page.setAsScanned(!whiten);
            imaging::PageFormat f;
            f.width = page.size().width();
            f.height = page.size().height();
            f.samplesPerPixel = page.bandFormat() == imaging::PageReader::BandFormat::Grey ? 1 : 3;
            f.xDpi = f.yDpi = page.xDpi();
            writer.begin(f);
            page.forEachBand(
                64,
                [&](const QImage& band, int top) {
                    for (int y = 0; y < band.height(); ++y)
                        writer.writeRow(band.constScanLine(y), top + y);
                },
                &why);
            if (!whiten && page.whitening())
                writer.describe(page.whitening()->toText());
        }
        writer.commit();
    };
    const QString scanned = m_dir->filePath(QStringLiteral("scanned.tif"));
    const QString expected = m_dir->filePath(QStringLiteral("expected.tif"));
    stackOf(scanned, {first, second}, false);
    stackOf(expected, {first, second}, true);
    for (const bool colour : {true, false}) {
        const auto sheet = [&](const QString& file) {
            imaging::PrintJob job;
            job.pageFile = file;
            job.settings.pagesPerSheet = 2;
            job.settings.pageSize = QPageSize(QPageSize::A4);
            const auto pages = imaging::openPages(job);
            return imaging::drawSheetBand(job, pages, 0, QSize(827, 1169), QSizeF(100, 100), colour,
                                          0, 1169, nullptr);
        };
        const QImage drawn = sheet(scanned).convertToFormat(QImage::Format_RGB32);
        const QImage wanted = sheet(expected).convertToFormat(QImage::Format_RGB32);
        QCOMPARE(drawn.size(), wanted.size());
        // Alike but for the grain smoothed before or after whitening: the mean difference
        // small, the sheet's paper white.
        double difference = 0;
        int white = 0;
        for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x) {
                difference += std::abs(qGray(drawn.pixel(x, y)) - qGray(wanted.pixel(x, y)));
                white += qGray(drawn.pixel(x, y)) >= 245;
            }
        difference /= double(drawn.width()) * drawn.height();
        QVERIFY2(difference < 1.5, qPrintable(QString::number(difference)));
        QVERIFY2(white > drawn.width() * drawn.height() * 6 / 10,
                 qPrintable(QString::number(white)));
    }
}

void TestRealPaper::bookMadeItsTwoPages_data()
{
    QTest::addColumn<Scan>("scan");
    QTest::addColumn<int>("original");
    // The mean of the paper, at least and at most; the spine's shadow lifted at least to.
    QTest::addColumn<QList<int>>("paperLevels");
    QTest::addColumn<int>("inkAtMost");
    const Scan grey{QStringLiteral("book"), qRgb(200, 200, 200), 6, 150, 2, 0, 8, {216, 297}};
    Scan yellowish = grey;
    yellowish.paper = qRgb(235, 225, 190);
    yellowish.dpi = 300;
    Scan coarse = grey;
    coarse.grain = 10;
    coarse.dpi = 100;
    QTest::newRow("grey, text and photo") << grey << 0 << QList<int>{245, 255, 245} << 60;
    QTest::newRow("yellowish colour, 300 dpi, text")
        << yellowish << 1 << QList<int>{245, 255, 245} << 40;
    QTest::newRow("coarse grain, 100 dpi, text and photo")
        << coarse << 0 << QList<int>{245, 255, 245} << 60;
    QTest::newRow("photo: the paper as scanned") << grey << 2 << QList<int>{194, 206, 190} << 30;
    Scan lineArt = grey;
    lineArt.bits = 1;
    QTest::newRow("line art") << lineArt << 2 << QList<int>{250, 255, 245} << 10;
    // Laid askew: the shadow crosses the rows, 5 mm higher at one end than at the other.
    Scan askew = grey;
    askew.skewDeg = 3;
    QTest::newRow("askew by 3°") << askew << 0 << QList<int>{245, 255, 245} << 60;
}

// An open book on a dark glass, its spine 10 mm off the middle: the left page first, then the
// right, each upright (the heading at the top), cut at the spine, at true size (the strokes as
// far apart as in the book); the glass around the book white, the spine's shadow white (a
// photo's: the paper's own level, as scanned).
void TestRealPaper::bookMadeItsTwoPages()
{
    QFETCH(Scan, scan);
    QFETCH(int, original);
    QFETCH(QList<int>, paperLevels);
    QFETCH(int, inkAtMost);
    const QString glass = m_dir->filePath(QStringLiteral("glass.tif"));
    writeScan(glass, scan);
    imaging::book::splitPages(glass, m_page, {original, 0, 0});
    imaging::PageReader first;
    QString why;
    QVERIFY2(first.open(m_page, &why), qPrintable(why));
    QCOMPARE(first.pageCount(), 2);
    const double pxPerMm = scan.dpi / 25.4;
    const double widths[] = {158.5, 138.5}, pitches[] = {6, 8};
    const int lines[] = {25, 19};
    for (int p = 0; p < 2; ++p) {
        imaging::PageReader page;
        QVERIFY2(page.open(m_page, &why, p), qPrintable(why));
        const QSizeF mm = QSizeF(page.size()) / pxPerMm;
        QVERIFY2(qAbs(mm.width() - widths[p]) <= 1 && qAbs(mm.height() - 216) <= 0.2,
                 qPrintable(QDebug::toString(mm)));
        if (scan.skewDeg != 0) {
            // The shadow's side white from end to end: no dark wedge where the spine runs off.
            const QRectF side =
                p == 0 ? QRectF(mm.width() - 7, 12, 6.5, 190) : QRectF(0.5, 12, 6.5, 190);
            QVERIFY2(meanAt(m_page, side, p) >= 245,
                     qPrintable(QString::number(meanAt(m_page, side, p))));
            continue;
        }
        const QImage picture = page.reducedCopy(page.size(), &why);
        // 5 mm into the first word of each line: the left page's lines begin 28.5 mm further in.
        const QList<QPointF> strokes = strokesDown(picture, p == 0 ? 48.5 : 20, pxPerMm);
        QVERIFY2(strokes.size() == lines[p] + 1, qPrintable(QDebug::toString(strokes)));
        QVERIFY2(qAbs(strokes[0].x() - 23) <= 0.5 && qAbs(strokes[0].y() - 6) <= 0.5,
                 qPrintable(QStringLiteral("page %1: the heading at %2 mm, %3 mm high")
                                .arg(p + 1)
                                .arg(strokes[0].x())
                                .arg(strokes[0].y())));
        QVERIFY2(qAbs(spacingOf(strokes) - pitches[p]) <= 0.1,
                 qPrintable(QString::number(spacingOf(strokes))));
        // The spine's shadow, the glass beyond the outer edge, beyond the head and the foot.
        const double w = mm.width();
        const QRectF white[] = {p == 0 ? QRectF(w - 7, 40, 6.5, 150) : QRectF(0.5, 40, 6.5, 150),
                                p == 0 ? QRectF(2, 40, 24, 150) : QRectF(131, 40, w - 132, 150),
                                QRectF(30, 1, 90, 6), QRectF(30, 209, 90, 6)};
        for (const QRectF& area : white)
            QVERIFY2(meanAt(m_page, area, p) >= (&area == white ? paperLevels[2] : 245),
                     qPrintable(QStringLiteral("page %1, %2: %3")
                                    .arg(p + 1)
                                    .arg(QDebug::toString(area))
                                    .arg(meanAt(m_page, area, p))));
        const double paper = meanAt(m_page, QRectF(p == 0 ? 50 : 22, 196, 70, 9), p);
        const double ink = meanAt(m_page, QRectF(p == 0 ? 50 : 22, 24, 70, 4), p);
        QVERIFY2(paper >= paperLevels[0] && paper <= paperLevels[1],
                 qPrintable(QString::number(paper)));
        QVERIFY2(ink <= inkAtMost, qPrintable(QString::number(ink)));
    }
}

void TestRealPaper::noBookNoPages_data()
{
    QTest::addColumn<Scan>("scan");
    Scan offMiddle{QStringLiteral("book"), qRgb(200, 200, 200), 6, 100, 2, 0, 8, {216, 297}};
    offMiddle.shiftMm = 20; // the spine 30 mm below the middle
    QTest::newRow("a letter") << Scan{QStringLiteral("letter"), qRgb(200, 200, 200), 6, 100, 2};
    QTest::newRow("a white page") << Scan{QStringLiteral("grid"), qRgb(250, 250, 250), 3, 100, 2};
    QTest::newRow("the spine 30 mm off the middle") << offMiddle;
}

// No book on the glass: said, and not a page made; the page file stays as it was.
void TestRealPaper::noBookNoPages()
{
    QFETCH(Scan, scan);
    const QString glass = m_dir->filePath(QStringLiteral("glass.tif"));
    writeScan(glass, scan);
    QFile old(m_page);
    QVERIFY(old.open(QIODevice::WriteOnly) && old.write("die alte Seite") == 14);
    old.close();
    try {
        imaging::book::splitPages(glass, m_page, {});
        QFAIL("pages made without a book");
    } catch (const imaging::DispatchError& e) {
        QCOMPARE(e.number(), imaging::ErrorNumber::NoBookFound);
        QVERIFY2(e.description().contains(QStringLiteral("kein aufgeschlagenes Buch")),
                 qPrintable(e.description()));
    }
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("die alte Seite"));
}

// The book's pages on paper: a sheet each at true size, the strokes as far apart as in the book
// (rendered at 300 dpi); two on a sheet, one sheet.
void TestRealPaper::bookOnPaper()
{
    const QString glass = m_dir->filePath(QStringLiteral("glass.tif"));
    writeScan(glass,
              Scan{QStringLiteral("book"), qRgb(200, 200, 200), 6, 150, 2, 0, 8, {216, 297}});
    imaging::book::splitPages(glass, m_page, {});
    for (const int perSheet : {1, 2}) {
        imaging::PrintJob job;
        job.pageFile = m_page;
        job.output = imaging::PrintSettings::PdfFile;
        job.pdfFile = m_dir->filePath(QStringLiteral("book-%1.pdf").arg(perSheet));
        job.settings.pagesPerSheet = perSheet;
        imaging::printPage(job);
        const QString base = m_dir->filePath(QStringLiteral("sheet"));
        QProcess::execute(QStringLiteral("pdftoppm"),
                          {QStringLiteral("-gray"), QStringLiteral("-r"), QStringLiteral("300"),
                           job.pdfFile, base});
        const QStringList sheets =
            QDir(m_dir->path()).entryList({QStringLiteral("sheet*.pgm")}, QDir::Files, QDir::Name);
        QCOMPARE(sheets.size(), perSheet == 1 ? 2 : 1);
        for (int s = 0; perSheet == 1 && s < 2; ++s) {
            const QImage sheet(m_dir->filePath(sheets[s]));
            const QList<QPointF> strokes = strokesDown(sheet, s == 0 ? 48.5 : 20, 300 / 25.4);
            QCOMPARE(strokes.size(), s == 0 ? 26 : 20);
            QVERIFY2(qAbs(spacingOf(strokes) - (s == 0 ? 6 : 8)) <= 0.1,
                     qPrintable(QString::number(spacingOf(strokes))));
        }
        for (const QString& sheet : sheets)
            QFile::remove(m_dir->filePath(sheet));
    }
}

QTEST_MAIN(TestRealPaper)
#include "tst_real_paper.moc"
