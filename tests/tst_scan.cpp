// The scan control on SANE's virtual test scanner: pages, faults (from the tests' fault
// scanner), cancelling, the option dialog and the choice of the device.
#include "imaging/common/access_keys.h"
#include "imaging/common/imaging_settings.h"
#include "imaging/edit/img_edit.h"
#include "imaging/edit/print_feedback.h"
#include "imaging/page_file/card_sides.h"
#include "imaging/page_file/growing_stack.h"
#include "imaging/page_file/page_reader.h"
#include "imaging/page_file/page_writer.h"
#include "imaging/scan/img_scan.h"
#include "imaging/scan/link/remote_device.h"
#include "imaging/scan/link/scanner_helper.h"
#include "imaging/scan/link/scanner_thread.h"
#include "imaging/scan/original_stack.h"
#include "imaging/scan/scan_option_dialog.h"
#include "imaging/scan/scan_preferences.h"
#include "imaging/scan/scanner_choice.h"
#include "support/german_ui.h"
#include "test_support.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFormLayout>
#include <QImageReader>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QStandardItemModel>
#include <QTest>
#include <QToolButton>

#include <tiffio.h>

#include <memory>
#include <sys/mount.h>

using imaging::ImgScan;
using imaging::ScanPreferences;
using imaging::Variant;

namespace {

struct TiffInfo {
    int width = 0, height = 0, bits = 0, samples = 0, planar = 0, photometric = 0;
    double xDpi = 0, yDpi = 0;
};

TiffInfo readTiff(const QString& path)
{
    TiffInfo t;
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    if (!tif)
        return t;
    std::uint32_t w = 0, h = 0;
    std::uint16_t bits = 0, samples = 0, planar = 0, photometric = 0, unit = 0;
    float x = 0, y = 0;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &x);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &y);
    TIFFGetFieldDefaulted(tif, TIFFTAG_RESOLUTIONUNIT, &unit);
    TIFFClose(tif);
    t = {int(w), int(h), bits, samples, planar, photometric, x, y};
    if (unit == RESUNIT_CENTIMETER) {
        t.xDpi *= 2.54;
        t.yDpi *= 2.54;
    }
    return t;
}

// The pages of a page file: TIFF directories.
int pagesIn(const QString& path)
{
    TIFF* tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
    const int pages = tif ? TIFFNumberOfDirectories(tif) : 0;
    if (tif)
        TIFFClose(tif);
    return pages;
}

QString pressFile()
{
    return QDir::tempPath() +
           QStringLiteral("/kopyra-press-%1").arg(QCoreApplication::applicationPid());
}

// The boxes the scan control shows of itself (not modal), closed once counted.
QStringList boxesShown()
{
    QStringList texts;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            texts << box->text();
    return texts;
}

// The page of before, which a failed or cancelled scan must leave as it is.
const QByteArray OldPage("die alte Seite");

// Grid squares are 10 mm; the first square at the top-left is white.
bool gridAt(const QImage& page, double dpi, double xMm, double yMm, bool black)
{
    const QPoint p(int(xMm / 25.4 * dpi), int(yMm / 25.4 * dpi));
    const int grey = qGray(page.pixel(p));
    return black ? grey < 60 : grey > 195;
}

// The test scanner slowed down: buffers of the size given, each held back for a while.
QVariantMap slowly(int bufferBytes, int delayUs)
{
    return {{QStringLiteral("read-limit"), true},
            {QStringLiteral("read-limit-size"), bufferBytes},
            {QStringLiteral("read-delay"), true},
            {QStringLiteral("read-delay-duration"), delayUs}};
}

// A flatbed as the scan preferences see it: a scan area in millimetres and no choice of source
// (as many flatbeds are).
class PlainFlatbed : public imaging::sane::OptionAccess {
public:
    PlainFlatbed()
    {
        for (const char* name : {"tl-x", "tl-y", "br-x", "br-y"}) {
            imaging::sane::OptionInfo o;
            o.name = QString::fromLatin1(name);
            o.unit = imaging::sane::OptionInfo::Unit::Mm;
            o.max = name[3] == 'x' ? 216 : 297;
            options << o;
        }
    }
    int find(const QString& name) const override
    {
        for (qsizetype i = 0; i < options.size(); ++i)
            if (options[i].name == name)
                return int(i);
        return -1;
    }
    imaging::sane::OptionInfo option(int index) const override { return options.value(index); }
    QVariant value(int index) const override { return values.value(options.value(index).name); }
    bool setByName(const QString& name, const QVariant& value) override
    {
        values.insert(name, value);
        return find(name) >= 0;
    }

    QList<imaging::sane::OptionInfo> options;
    QVariantMap values;
};

struct Outcome {
    bool event = false;
    QString error;
    int number = 0;
    // The feeder's stack as it stood when the copy went on, while its scan went on.
    std::shared_ptr<imaging::GrowingStack> stack;
    int pagesAtEvent = 0;
};

} // namespace

class TestScan : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void pageSizeAndResolution_data();
    void pageSizeAndResolution();
    void faultsKeepOldPage_data();
    void faultsKeepOldPage();
    void slowScanCanBeCancelled_data();
    void slowScanCanBeCancelled();
    void feederCopiesTheStack_data();
    void feederCopiesTheStack();
    void originalTypeStored();
    void originalType_data();
    void originalType();
    void severalOriginals_data();
    void severalOriginals();
    void severalOriginalsLoseNothing_data();
    void severalOriginalsLoseNothing();
    void pagesOfAnEndedKopyra_data();
    void edgeErase_data();
    void edgeErase();
    void pagesOfAnEndedKopyra();
    void idCardBothSides_data();
    void idCardBothSides();
    void bookCopy_data();
    void bookCopy();
    void scannerButtonStartsCopy_data();
    void scannerButtonStartsCopy();
    void lighterToDarker_data();
    void lighterToDarker();
    void unwritableFolder();
    void scannerWithoutSourceChoice_data();
    void scannerWithoutSourceChoice();
    void pickDevice_data();
    void pickDevice();
    void rememberedDeviceGone();
    void optionDialogCoversEveryOption();
    void optionDialogInUsersLanguage();
    void setupDialogCancelScansNothing();
    void deviceReleasedAfterScan();
    void helperStartsWhileButtonHeld();
    void deadConnectionOpenedInFreshHelper_data();
    void deadConnectionOpenedInFreshHelper();

private:
    Outcome scan(const QVariantMap& deviceOptions, const ScanPreferences& preferences,
                 ImgScan* reused = nullptr);
    void chooseFaultScanner();

    std::unique_ptr<TestHome> m_home;
    QString m_page;
};

void TestScan::init()
{
    // The scanner helper's patience (the watchdog, the grace for a cancel), short for tests.
    qputenv("KOPYRA_SCANNER_PATIENCE_MS", "2000");
    // Where a test presses the fault scanner's buttons (its helper reads it from the start).
    qputenv("KOPYRA_FAULT_PRESS", QFile::encodeName(pressFile()));
    m_home = std::make_unique<TestHome>();
    m_page = m_home->path() + QStringLiteral("/Kopyra.tif");
    imaging::ScannerChoice{QStringLiteral("test:0"), QString(), QString()}.save();
}

void TestScan::cleanup() { m_home.reset(); }

// Device faults come from the fault scanner: the test backend's own fault reports now and then
// leave its reader thread dead with the heap lock held, and its cancel waits for ever.
void TestScan::chooseFaultScanner()
{
    imaging::ScannerChoice{QStringLiteral("fault:0"), QString(), QString()}.save();
}

Outcome TestScan::scan(const QVariantMap& deviceOptions, const ScanPreferences& preferences,
                       ImgScan* reused)
{
    // The test backend keeps option values from one opening to the next; start each scan from
    // the same state (options a device lacks are passed over).
    QVariantMap options{{QStringLiteral("three-pass"), false},
                        {QStringLiteral("book"), 0},
                        {QStringLiteral("hand-scanner"), false},
                        {QStringLiteral("depth"), 8},
                        {QStringLiteral("read-return-value"), QStringLiteral("Default")},
                        {QStringLiteral("read-limit"), false},
                        {QStringLiteral("read-delay"), false},
                        {QStringLiteral("read-pause"), 0},
                        {QStringLiteral("cancel-pause"), 0},
                        {QStringLiteral("test-picture"), QStringLiteral("Grid")}};
    options.insert(deviceOptions);
    preferences.save();
    ImgScan::rememberOptions(QStringLiteral("test:0"), options);
    ImgScan::rememberOptions(QStringLiteral("fault:0"), options);
    ImgScan own;
    ImgScan& control = reused ? *reused : own;
    Outcome outcome;
    const QMetaObject::Connection c =
        QObject::connect(&control, &ImgScan::eventRaised, [&](int position) {
            outcome.event = position == 10;
            if ((outcome.stack = imaging::GrowingStack::of(m_page)))
                outcome.pagesAtEvent = outcome.stack->state().pages;
        });
    control.put(1, Variant::text(m_page));
    QString source;
    outcome.error = failureOf([&control] { control.call(102, {}); }, &source);
    outcome.number = outcome.error.section(QLatin1Char(' '), 0, 0).toInt();
    [&] { QVERIFY(outcome.error.isEmpty() || source == QStringLiteral("ScanLibCtl.ImgScan")); }();
    QCoreApplication::processEvents(); // the completion event comes after the call
    QObject::disconnect(c);
    return outcome;
}

void TestScan::pageSizeAndResolution_data()
{
    QTest::addColumn<QVariantMap>("options");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("dpi");
    QTest::addColumn<int>("bits");
    QTest::addColumn<int>("samples");
    QTest::addColumn<bool>("separate"); // a plane of each colour after the other
    QTest::addColumn<bool>("a4");
    using M = ScanPreferences::Mode;
    const QVariantMap none;
    for (int dpi : {150, 300}) {
        QTest::addRow("colour %d", dpi) << none << int(M::Color) << dpi << 8 << 3 << false << true;
        QTest::addRow("grey %d", dpi) << none << int(M::Gray) << dpi << 8 << 1 << false << true;
        // The test scanner has no line-art mode: grey with one bit per pixel.
        QTest::addRow("line art %d", dpi)
            << none << int(M::Lineart) << dpi << 1 << 1 << false << true;
    }
    QTest::newRow("three-pass colour")
        << QVariantMap{{QStringLiteral("three-pass"), true},
                       {QStringLiteral("three-pass-order"), QStringLiteral("GBR")}}
        << int(M::Color) << 100 << 8 << 3 << true << true;
    QTest::newRow("16-bit grey") << QVariantMap{{QStringLiteral("depth"), 16}} << int(M::Gray)
                                 << 100 << 16 << 1 << false << true;
    QTest::newRow("16-bit colour") << QVariantMap{{QStringLiteral("depth"), 16}} << int(M::Color)
                                   << 100 << 16 << 3 << false << true;
    // A hand scanner does not know the height in advance, and has a width of its own.
    QTest::newRow("hand scanner") << QVariantMap{{QStringLiteral("hand-scanner"), true}}
                                  << int(M::Gray) << 100 << 8 << 1 << false << false;
}

// The page file holds the page as scanned: A4 at the resolution asked for, in the scan's own
// kind of pixels, the test scanner's 10 mm grid where it belongs, no temporary file left.
void TestScan::pageSizeAndResolution()
{
    QFETCH(QVariantMap, options);
    QFETCH(int, mode);
    QFETCH(int, dpi);
    QFETCH(int, bits);
    QFETCH(int, samples);
    QFETCH(bool, separate);
    QFETCH(bool, a4);
    ScanPreferences prefs;
    prefs.mode = static_cast<ScanPreferences::Mode>(mode);
    prefs.dpi = dpi;
    const Outcome o = scan(options, prefs);
    QVERIFY2(o.error.isEmpty(), qPrintable(o.error));
    QVERIFY(o.event);

    const TiffInfo t = readTiff(m_page);
    QVERIFY(t.height > 0);
    if (a4) {
        QVERIFY(qAbs(t.width - qRound(210 / 25.4 * dpi)) <= 1);
        QVERIFY(qAbs(t.height - qRound(297 / 25.4 * dpi)) <= 1);
    }
    QCOMPARE(t.bits, bits);
    QCOMPARE(t.samples, samples);
    QCOMPARE(t.planar, separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    QCOMPARE(t.xDpi, double(dpi));
    QCOMPARE(t.yDpi, double(dpi));

    const QImage page = QImageReader(m_page).read();
    QCOMPARE(page.size(), QSize(t.width, t.height));
    // The grid lands where it belongs: squares of 10 mm, alternating.
    QVERIFY(gridAt(page, dpi, 5, 5, false));
    QVERIFY(gridAt(page, dpi, 15, 5, true));
    QVERIFY(!a4 || gridAt(page, dpi, 15, 15, false));
    QVERIFY(!a4 || gridAt(page, dpi, 205, 295, false) || gridAt(page, dpi, 205, 295, true));
    QVERIFY(QDir(m_home->path())
                .entryList(QDir::Files)
                .filter(QStringLiteral("Kopyra.tif."))
                .isEmpty());
}

void TestScan::faultsKeepOldPage_data()
{
    QTest::addColumn<QString>("status");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("words");
    QTest::newRow("jammed") << "SANE_STATUS_JAMMED" << 9156 << "Papierstau";
    QTest::newRow("no documents") << "SANE_STATUS_NO_DOCS" << 9157 << "keine Vorlage";
    QTest::newRow("cover open") << "SANE_STATUS_COVER_OPEN" << 9158 << "Abdeckung";
    QTest::newRow("I/O error") << "SANE_STATUS_IO_ERROR" << 9159 << "Verbindung";
    QTest::newRow("busy") << "SANE_STATUS_DEVICE_BUSY" << 9153 << "belegt";
    QTest::newRow("access denied") << "SANE_STATUS_ACCESS_DENIED" << 9161 << "Zugriff";
    QTest::newRow("no memory") << "SANE_STATUS_NO_MEM" << 9160 << "Speicher";
    // Foreign code misbehaving: it costs the scanner helper, never the program.
    QTest::newRow("driver crashes") << "Crash" << 9106 << "Scannertreiber ist abgestürzt";
    QTest::newRow("driver never returns") << "Hang" << 9105 << "antwortet nicht mehr";
}

void TestScan::faultsKeepOldPage()
{
    QFETCH(QString, status);
    QFETCH(int, number);
    QFETCH(QString, words);
    QVERIFY(writeFile(m_page, OldPage));
    ScanPreferences prefs;
    prefs.dpi = 75;
    chooseFaultScanner();
    const Outcome failed = scan({{QStringLiteral("read-return-value"), status}}, prefs);
    QCOMPARE(failed.number, number);
    QVERIFY2(failed.error.contains(words), qPrintable(failed.error));
    QVERIFY2(number >= 9150 || failed.error.contains(QStringLiteral("„fault:0“")),
             qPrintable(failed.error)); // which device, when the helper went
    QVERIFY(!failed.event);
    QCOMPARE(contents(m_page), OldPage);
    QCOMPARE(QDir(m_home->path()).entryList(QDir::Files),
             QStringList{QStringLiteral("Kopyra.tif")});

    // The fault removed, the next scan works.
    const Outcome next =
        scan({{QStringLiteral("read-return-value"), QStringLiteral("Default")}}, prefs);
    QVERIFY2(next.error.isEmpty(), qPrintable(next.error));
    QVERIFY(next.event);
    QCOMPARE(readTiff(m_page).xDpi, 75.0);
}

void TestScan::slowScanCanBeCancelled_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<QVariantMap>("options");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("dpi");
    // About 26 MB, each of the test backend's buffers held back for 0.2 s: some 40 seconds.
    QTest::newRow("slow delivery")
        << "test:0" << slowly(4096, 200000) << int(ScanPreferences::Mode::Color) << 300;
    // A backend whose cancel waits for its device (or its reader thread): the window must
    // not wait with it. 118 rows of 0.1 s, 1.5 s for each cancel.
    QTest::newRow("slow cancel") << "fault:0"
                                 << QVariantMap{{QStringLiteral("read-pause"), 100},
                                                {QStringLiteral("cancel-pause"), 1500}}
                                 << int(ScanPreferences::Mode::Gray) << 75;
    // One that never returns from its cancel: the helper is ended, the next scan starts anew.
    QTest::newRow("cancel never returns")
        << "fault:0"
        << QVariantMap{{QStringLiteral("read-pause"), 100}, {QStringLiteral("cancel-pause"), -1}}
        << int(ScanPreferences::Mode::Gray) << 75;
    // The test backend goes on with the next colour after a cancel: the next scan must not.
    QVariantMap threePass = slowly(4096, 200000);
    threePass.insert(QStringLiteral("three-pass"), true);
    QTest::newRow("three-pass colour")
        << "test:0" << threePass << int(ScanPreferences::Mode::Color) << 150;
}

void TestScan::slowScanCanBeCancelled()
{
    QFETCH(QString, device);
    QFETCH(QVariantMap, options);
    QFETCH(int, mode);
    QFETCH(int, dpi);
    imaging::ScannerChoice{device, QString(), QString()}.save();
    QVERIFY(writeFile(m_page, OldPage));
    ScanPreferences prefs;
    prefs.mode = ScanPreferences::Mode(mode);
    prefs.dpi = dpi;
    QElapsedTimer clock;
    clock.start();
    Heartbeat heartbeat;
    bool cancelled = false;
    const auto canceller = whenShown<QProgressDialog>(
        [&](QProgressDialog* progress) {
            if (!progress->labelText().contains(QStringLiteral("gescannt")) ||
                clock.elapsed() < 300)
                return false;
            // As the user does it: the dialog's own button.
            const auto buttons = progress->findChildren<QPushButton*>();
            if (buttons.size() != 1 || buttons.first()->text() != QStringLiteral("Abbrechen"))
                return false;
            cancelled = true;
            heartbeat.restart();
            buttons.first()->click();
            return true;
        },
        50);
    ImgScan control;
    const Outcome o = scan(options, prefs, &control);
    QVERIFY2(o.error.isEmpty(), qPrintable(o.error));
    QVERIFY(!o.event);
    QVERIFY(cancelled);
    QVERIFY(clock.elapsed() < 10000);
    const qint64 afterCancel = heartbeat.longestGap();
    QVERIFY2(afterCancel < 1000, qPrintable(QString::number(afterCancel)));
    QCOMPARE(contents(m_page), OldPage);

    // The device is free again at once, and the next page is whole.
    const Outcome next =
        scan({{QStringLiteral("three-pass"), options.value(QStringLiteral("three-pass"), false)}},
             prefs, &control);
    QVERIFY2(next.error.isEmpty(), qPrintable(next.error));
    QVERIFY(next.event);
    imaging::PageReader page;
    QString why;
    QVERIFY2(page.open(m_page, &why) && !page.reducedCopy(QSize(200, 200), &why).isNull(),
             qPrintable(why));
}

// "Vorlagenart" in Optionen: stored as Original=Mixed|Text|Photo; missing or unknown is text
// and photo.
void TestScan::originalTypeStored()
{
    using O = ScanPreferences::Original;
    QCOMPARE(ScanPreferences::load().original, O::Mixed);
    imaging::ImagingSettings().set(imaging::Settings::ScanOriginal, QStringLiteral("Sepia"));
    QCOMPARE(ScanPreferences::load().original, O::Mixed);
    imaging::ScanPreferencesDialog dialog(ScanPreferences::load());
    auto* box = dialog.findChild<QComboBox*>(QStringLiteral("original"));
    QVERIFY(box);
    QCOMPARE(box->currentText(), QStringLiteral("Text und Foto"));
    box->setCurrentIndex(box->findText(QStringLiteral("Foto")));
    dialog.preferences().save();
    QCOMPARE(imaging::ImagingSettings().text(imaging::Settings::ScanOriginal),
             QStringLiteral("Photo"));
    QCOMPARE(ScanPreferences::load().original, O::Photo);
}

void TestScan::originalType_data()
{
    QTest::addColumn<int>("original");
    QTest::addColumn<int>("textAtMost"); // the paper white (≥ 250) as read for print and display
    QTest::addColumn<QVariantMap>("options"); // the scanner's own
    QTest::addColumn<bool>("colour");
    using O = ScanPreferences::Original;
    const QVariantMap none;
    QTest::newRow("text and photo") << int(O::Mixed) << 60 << none << false;
    // 16 bits a level, and colour one colour at a time: whitened as any other scan; 16-bit
    // grey is grey.
    QTest::newRow("text and photo, 16-bit grey")
        << int(O::Mixed) << 60 << QVariantMap{{QStringLiteral("depth"), 16}} << false;
    QTest::newRow("text, three-pass colour")
        << int(O::Text) << 30 << QVariantMap{{QStringLiteral("three-pass"), 1}} << true;
}

// A grainy letter on grey paper (200) with a bar of text (20) through the scanner helper, which
// finds the paper as the rows come (also 16 bits a level and one colour at a time): the paper
// white, the text dark.
void TestScan::originalType()
{
    QFETCH(int, original);
    QFETCH(int, textAtMost);
    QFETCH(QVariantMap, options);
    QFETCH(bool, colour);
    chooseFaultScanner();
    ScanPreferences prefs;
    prefs.mode = ScanPreferences::Mode::Gray;
    prefs.dpi = 100;
    prefs.original = ScanPreferences::Original(original);
    options.insert(QStringLiteral("paper"), 200);
    const Outcome o = scan(options, prefs);
    QVERIFY2(o.error.isEmpty(), qPrintable(o.error));
    imaging::PageReader page;
    QString why;
    QVERIFY2(page.open(m_page, &why), qPrintable(why));
    QCOMPARE(page.bandFormat() == imaging::PageReader::BandFormat::Colour, colour);
    const QSize size = page.size();
    // Means of 9 × 9 pixels: the page is grainy.
    int paperSum = 0, textSum = 0;
    QVERIFY(page.forEachBand(
        64,
        [&](const QImage& band, int top) {
            const QImage grey = band.convertToFormat(QImage::Format_Grayscale8);
            for (int y = 0; y < grey.height(); ++y)
                for (int d = -4; d <= 4; ++d) {
                    if (std::abs(top + y - size.height() / 10) <= 4)
                        paperSum += grey.constScanLine(y)[size.width() / 10 + d];
                    if (std::abs(top + y - size.height() / 2) <= 4)
                        textSum += grey.constScanLine(y)[size.width() / 2 + d];
                }
        },
        &why));
    const int paper = paperSum / 81, text = textSum / 81;
    QVERIFY2(paper >= 250, qPrintable(QString::number(paper)));
    QVERIFY2(text <= textAtMost, qPrintable(QString::number(text)));
}

void TestScan::severalOriginals_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("source");
    QTest::addColumn<QStringList>("answers"); // to the questions, in turn; "!": the helper killed
    QTest::addColumn<int>("backs"); // sheets in the feeder for the backs; the glass jams: -2, on
                                    // page 2: -3
    QTest::addColumn<QList<int>>("greys"); // of the page file's pages; empty: the old one
    QTest::addColumn<int>("number");       // of the failure
    QTest::addColumn<QString>("words");
    using S = ScanPreferences::Source;
    const QStringList weiter{QStringLiteral("Weiter")};
    // The test scanner's grid from the glass: every page the same.
    QTest::newRow("the glass, three pages")
        << "test:0" << int(S::FlatbedPages)
        << QStringList{QStringLiteral("Weiter"), QStringLiteral("Weiter"), QStringLiteral("Fertig")}
        << 0 << QList<int>{-1, -1, -1} << 0 << "";
    QTest::newRow("the glass, cancelled after page 2")
        << "test:0" << int(S::FlatbedPages)
        << QStringList{QStringLiteral("Weiter"), QStringLiteral("Abbrechen"), QStringLiteral("Ja")}
        << 0 << QList<int>() << 0 << "";
    // The fault scanner's feeder: each page fed a grey of its own, 232, 208, 184 … (the backs
    // pass the fourth to the sixth).
    QTest::newRow("the feeder, the backs after the fronts")
        << "fault:0" << int(S::FeederBacksAfter) << weiter << 3
        << QList<int>{232, 112, 208, 136, 184, 160} << 0 << "";
    QTest::newRow("the feeder, a back missing")
        << "fault:0" << int(S::FeederBacksAfter) << weiter << 2 << QList<int>() << 9110
        << "3 Vorderseiten, aber 2 Rückseiten";
    QTest::newRow("the glass, a jam on the first page")
        << "fault:0" << int(S::FlatbedPages) << QStringList() << -2 << QList<int>() << 9156
        << "Seite 1: Im Scanner gibt es einen Papierstau";
    // The scanner jams on the second page from the glass, and the page is scanned again in a
    // fresh opening of the device.
    QTest::newRow("the glass, a jam on page 2, scanned again")
        << "fault:0" << int(S::FlatbedPages)
        << QStringList{QStringLiteral("Weiter"), QStringLiteral("Seite 2 neu scannen"),
                       QStringLiteral("Fertig")}
        << -3 << QList<int>{128, 128} << 0 << "";
    // The scanner helper ends while the user lays the next original: started again, unasked.
    QTest::newRow("the glass, the helper ended between the pages")
        << "fault:0" << int(S::FlatbedPages)
        << QStringList{QStringLiteral("Weiter!"), QStringLiteral("Fertig")} << 0
        << QList<int>{128, 128} << 0 << "";
    QTest::newRow("the feeder, cancelled at the turn")
        << "fault:0" << int(S::FeederBacksAfter)
        << QStringList{QStringLiteral("Abbrechen"), QStringLiteral("Ja")} << 3 << QList<int>() << 0
        << "";
}

// Several originals into one page file: from the glass one after the other, each answered
// with "Weiter" until "Fertig"; the feeder's fronts and then its backs, put in place front 1,
// back 1, front 2 … "Abbrechen" keeps the old page file, and backs that do not match the
// fronts are refused.
void TestScan::severalOriginals()
{
    QFETCH(QString, device);
    QFETCH(int, source);
    QFETCH(QStringList, answers);
    QFETCH(int, backs);
    QFETCH(QList<int>, greys);
    QFETCH(int, number);
    QFETCH(QString, words);
    imaging::ScannerChoice{device, QString(), QString()}.save();
    QVERIFY(writeFile(m_page, OldPage));
    ScanPreferences prefs;
    prefs.mode = ScanPreferences::Mode::Gray;
    prefs.dpi = 25;
    prefs.source = ScanPreferences::Source(source);
    prefs.original = ScanPreferences::Original::Photo; // the feeder's pages are all paper
    QStringList asked;
    const auto answer = whenShown<QMessageBox>([&](QMessageBox* box) {
        if (box->windowTitle() != QLatin1String("Mehrere Vorlagen"))
            return false;
        asked << box->text();
        QString wanted = answers.value(asked.size() - 1, QStringLiteral("Abbrechen"));
        if (wanted.endsWith(QLatin1Char('!'))) {
            QProcess::execute(QStringLiteral("pkill"),
                              {QStringLiteral("-KILL"), QStringLiteral("-P"),
                               QString::number(QCoreApplication::applicationPid()),
                               QStringLiteral("kopyra-scanner")});
            QTest::qWait(300);
            wanted.chop(1);
        }
        for (QAbstractButton* button : box->buttons())
            if (button->text().remove(QLatin1Char('&')) == wanted)
                button->click();
        return asked.size() >= answers.size();
    });
    ImgScan control;
    QVariantMap options{{QStringLiteral("sheets"), 3}, {QStringLiteral("refill"), backs}};
    if (backs == -2) // not a back: a jam
        options = {{QStringLiteral("read-return-value"), QStringLiteral("SANE_STATUS_JAMMED")}};
    if (backs == -3) // a jam on the second page
        options = {{QStringLiteral("jam-page"), 2}};
    const Outcome o = scan(options, prefs, &control);
    QCOMPARE(o.number, number);
    QVERIFY2(o.error.contains(words), qPrintable(o.error));
    QCOMPARE(asked.size(), answers.size());
    if (source == int(ScanPreferences::Source::FlatbedPages) && !asked.isEmpty())
        QCOMPARE(asked.first(), QStringLiteral("Seite 1 ist gescannt. Nächste Vorlage auflegen "
                                               "und „Weiter“ drücken – oder „Fertig“, um zu "
                                               "kopieren."));
    if (greys.isEmpty()) {
        QVERIFY(!o.event);
        QCOMPARE(contents(m_page), OldPage);
        return;
    }
    QVERIFY(o.event);
    QCOMPARE(pagesIn(m_page), greys.size());
    for (int p = 0; p < greys.size(); ++p) {
        imaging::PageReader page;
        QString why;
        QVERIFY2(page.open(m_page, &why, p), qPrintable(why));
        if (greys[p] < 0) { // the grid: A4
            const QSizeF mm = QSizeF(page.size()) / page.xDpi() * 25.4;
            QVERIFY2(qAbs(mm.width() - 210) < 1.5 && qAbs(mm.height() - 297) < 1.5,
                     qPrintable(QDebug::toString(mm)));
            continue;
        }
        const QImage first = page.reducedCopy(QSize(8, 8), &why);
        QVERIFY2(qAbs(qGray(first.pixel(4, 4)) - greys[p]) <= 2,
                 qPrintable(QStringLiteral("page %1: grey %2, wanted %3")
                                .arg(p + 1)
                                .arg(qGray(first.pixel(4, 4)))
                                .arg(greys[p])));
    }
}

void TestScan::severalOriginalsLoseNothing_data()
{
    QTest::addColumn<bool>("glass");          // else the feeder's fronts, then its backs
    QTest::addColumn<QStringList>("scans");   // what each scan does: ok, jam, cancel
    QTest::addColumn<QStringList>("answers"); // to the questions, in turn; Escape: the key
    QTest::addColumn<QString>("pages");       // the page file's pages by their grey; "-": none
    QTest::addColumn<QString>("asked");       // a question that must have been asked
    QTest::addColumn<int>("megabytes");       // the page file on a disk of that size; 0: any
    // "a|b": a list of texts.
    const auto list = [](const char* texts) {
        return QString::fromUtf8(texts).split(QLatin1Char('|'));
    };
    const QStringList ok3 = list("ok|ok|ok");
    // Each scan's pages have greys of their own: scan 1 30, scan 2 60 … (a feeder's stack 30,
    // 40, 50; the next 60, 70, 80 …).
    QTest::newRow("Escape with 3 pages, Nein goes on")
        << true << ok3 << list("Weiter|Weiter|Escape|Nein|Fertig") << "30 60 90"
        << "3 gescannte Seiten verwerfen?" << 0;
    QTest::newRow("Escape with 3 pages, Ja discards")
        << true << ok3 << list("Weiter|Weiter|Escape|Ja") << "-"
        << "3 gescannte Seiten verwerfen?" << 0;
    QTest::newRow("a jam at page 3, scanned again")
        << true << list("ok|ok|jam|ok") << list("Weiter|Weiter|Seite 3 neu scannen|Fertig")
        << "30 60 120"
        << "Die Seiten 1 bis 2 sind gescannt." << 0;
    QTest::newRow("a jam at page 3, the two copied")
        << true << list("ok|ok|jam") << list("Weiter|Weiter|2 Seiten kopieren") << "30 60"
        << "Papierstau" << 0;
    QTest::newRow("page 2 cancelled, Abbrechen asked")
        << true << list("ok|cancel") << list("Weiter|Abbrechen|Ja") << "-"
        << "1 gescannte Seite verwerfen?" << 0;
    QTest::newRow("a jam on back 2, the backs again")
        << false << list("ok|jam|ok") << list("Weiter|Weiter") << "30 110 40 100 50 90"
        << "Papierstau" << 0;
    QTest::newRow("Escape at the turn, Nein goes on")
        << false << list("ok|ok") << list("Escape|Nein|Weiter") << "30 80 40 70 50 60"
        << "3 gescannte Vorderseiten verwerfen?" << 0;
    // Pages of 9 MB on a disk of 64 MB: after the third the next would not fit with the page
    // file they are joined into.
    QTest::newRow("a nearly full disk")
        << true << list("ok|ok|ok|ok") << list("Weiter|Weiter|Weiter|Fertig") << "30 60 90"
        << "MB frei" << 64;
}

// Pages of several originals are kept through Escape, a jam and a full disk: scanned by a
// stand-in for the scanner that writes pages of a grey of each scan's own, answered as a user
// answers.
void TestScan::severalOriginalsLoseNothing()
{
    QFETCH(bool, glass);
    QFETCH(QStringList, scans);
    QFETCH(QStringList, answers);
    QFETCH(QString, pages);
    QFETCH(QString, asked);
    QFETCH(int, megabytes);
    QString pageFile = m_page;
    const QString disk = m_home->path() + QStringLiteral("/disk");
    if (megabytes > 0) {
        QDir().mkpath(disk);
        const QByteArray size = "size=" + QByteArray::number(megabytes) + "m";
        if (::mount("tmpfs", QFile::encodeName(disk).constData(), "tmpfs", 0, size.constData()) !=
            0)
            QSKIP("a small disk needs root");
        pageFile = disk + QStringLiteral("/Kopyra.tif");
    }
    const auto unmount = qScopeGuard([&] {
        if (megabytes > 0)
            ::umount(QFile::encodeName(disk).constData());
    });
    const int side = megabytes > 0 ? 3000 : 100;
    int scan = 0;
    const auto scanner = [&](const QString& file) {
        const QString what = scans.value(scan++, QStringLiteral("cancel"));
        if (what == QLatin1String("jam"))
            throw imaging::DispatchError(9158,
                                         QStringLiteral("Im Scanner gibt es einen Papierstau."),
                                         QStringLiteral("ScanLibCtl.ImgScan"));
        if (what == QLatin1String("cancel"))
            return false;
        imaging::PageWriter writer(file);
        imaging::PageFormat f;
        f.width = f.height = side;
        f.xDpi = f.yDpi = 100;
        f.compressed = megabytes == 0;
        for (int p = 0; p < (glass ? 1 : 3); ++p) {
            writer.begin(f);
            const std::vector<std::uint8_t> row(std::size_t(side),
                                                std::uint8_t(30 * scan + 10 * p));
            for (int y = 0; y < side; ++y)
                writer.writeRow(row.data(), y);
        }
        writer.commit();
        return true;
    };
    QStringList questions;
    const auto answer = whenShown<QMessageBox>([&](QMessageBox* box) {
        questions << box->text();
        const QString wanted = answers.value(questions.size() - 1, QStringLiteral("Abbrechen"));
        if (wanted == QLatin1String("Escape")) {
            QTest::keyClick(box, Qt::Key_Escape);
            return false;
        }
        for (QAbstractButton* button : box->buttons())
            if (button->text().remove(QLatin1Char('&')) == wanted)
                button->click();
        return false;
    });
    bool copied = false;
    const QString failure = failureOf([&] {
        copied = glass ? imaging::scanFlatbedPages(pageFile, nullptr, scanner)
                       : imaging::scanBacksAfterFronts(pageFile, nullptr, scanner);
    });
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QVERIFY2(questions.join(QLatin1Char('|')).contains(asked),
             qPrintable(questions.join(QLatin1Char('|'))));
    QCOMPARE(questions.size(), answers.size());
    QStringList greys;
    for (int p = 0; copied && p < pagesIn(pageFile); ++p) {
        imaging::PageReader page;
        QString why;
        QVERIFY2(page.open(pageFile, &why, p), qPrintable(why));
        greys << QString::number(qGray(page.reducedCopy(QSize(8, 8), &why).pixel(4, 4)));
    }
    QCOMPARE(greys.isEmpty() ? QStringLiteral("-") : greys.join(QLatin1Char(' ')), pages);
    // Nothing left behind where the pages waited.
    QVERIFY(!QFileInfo::exists(imaging::WaitingPages(pageFile).folder()));
}

void TestScan::edgeErase_data()
{
    QTest::addColumn<QString>("stored"); // EdgeErase as the settings file has it
    QTest::addColumn<int>("mm");         // erased on each side
    QTest::addColumn<int>("mode");
    using M = ScanPreferences::Mode;
    QTest::newRow("10 mm, grey") << "10" << 10 << int(M::Gray);
    QTest::newRow("15 mm, colour") << "15" << 15 << int(M::Color);
    QTest::newRow("5 mm, line art") << "5" << 5 << int(M::Lineart);
    QTest::newRow("aus") << "0" << 0 << int(M::Gray);
    QTest::newRow("a value not offered: aus") << "7" << 0 << int(M::Gray);
    QTest::newRow("damaged: aus") << "zehn" << 0 << int(M::Gray);
}

// "Rand löschen" on the test scanner's grid: a border of that width white on every side, the
// grid inside as scanned without it.
void TestScan::edgeErase()
{
    QFETCH(QString, stored);
    QFETCH(int, mm);
    QFETCH(int, mode);
    ScanPreferences prefs;
    prefs.mode = ScanPreferences::Mode(mode);
    prefs.dpi = 100;
    prefs.original = ScanPreferences::Original::Photo;
    const auto scanned = [&] { return scan({}, prefs).error; };
    const auto pixels = [this] {
        imaging::PageReader page;
        QString why;
        return page.open(m_page, &why) ? page.reducedCopy(page.size(), &why) : QImage();
    };
    QCOMPARE(scanned(), QString());
    const QImage plain = pixels();
    prefs.save();
    imaging::ImagingSettings().set(imaging::Settings::ScanEdgeErase, stored);
    prefs.edgeErase = ScanPreferences::load().edgeErase;
    QCOMPARE(prefs.edgeErase, mm);
    QCOMPARE(scanned(), QString());
    const QImage erased = pixels();
    QCOMPARE(erased.size(), plain.size());
    const int border = qRound(mm / 25.4 * 100);
    int white = 0, kept = 0, inBorder = 0, inside = 0;
    for (int y = 0; y < erased.height(); ++y)
        for (int x = 0; x < erased.width(); ++x) {
            const bool edge = x < border || y < border || x >= erased.width() - border ||
                              y >= erased.height() - border;
            if (edge) {
                ++inBorder;
                white += erased.pixel(x, y) == qRgb(255, 255, 255);
            } else {
                ++inside;
                kept += erased.pixel(x, y) == plain.pixel(x, y);
            }
        }
    QCOMPARE(white, inBorder);
    QCOMPARE(kept, inside);
    // The grid reached into the border before.
    if (mm > 0)
        QVERIFY(plain.copy(0, 0, plain.width(), border) !=
                erased.copy(0, 0, plain.width(), border));
}

void TestScan::pagesOfAnEndedKopyra_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<int>("copied"); // pages in the page file
    QTest::addColumn<bool>("kept");  // still waiting
    QTest::newRow("Kopieren") << "Kopieren" << 2 << false;
    QTest::newRow("Verwerfen") << "Verwerfen" << 0 << false;
    QTest::newRow("closed: asked again next time") << "Escape" << 0 << true;
}

// A Kopyra killed while "Mehrere Vorlagen" waited for page 3 left two pages: the next start
// offers them, through the scan control as the window does once it stands.
void TestScan::pagesOfAnEndedKopyra()
{
    QFETCH(QString, answer);
    QFETCH(int, copied);
    QFETCH(bool, kept);
    const imaging::WaitingPages waiting(m_page);
    waiting.make();
    for (int n = 1; n <= 2; ++n) {
        imaging::PageWriter writer(waiting.file(QStringLiteral("seite-%1.tif").arg(n)));
        imaging::PageFormat f;
        f.width = f.height = 50;
        f.compressed = true;
        writer.begin(f);
        const std::vector<std::uint8_t> row(50, 100);
        for (int y = 0; y < 50; ++y)
            writer.writeRow(row.data(), y);
        writer.commit();
    }
    QString asked;
    const auto reply = whenShown<QMessageBox>([&](QMessageBox* box) {
        asked = box->text();
        if (answer == QLatin1String("Escape"))
            QTest::keyClick(box, Qt::Key_Escape);
        for (QAbstractButton* button : box->buttons())
            if (button->text().remove(QLatin1Char('&')) == answer)
                button->click();
        return true;
    });
    ImgScan control;
    bool completed = false;
    QObject::connect(&control, &ImgScan::eventRaised,
                     [&](int position) { completed = position == 10; });
    control.put(1, Variant::text(m_page));
    control.call(113, {});
    QCoreApplication::processEvents();
    QCOMPARE(asked,
             QStringLiteral("Von einer Kopie, die nicht zu Ende kam, liegen noch 2 gescannte "
                            "Seiten vor. Jetzt kopieren oder verwerfen?"));
    QCOMPARE(completed, copied > 0);
    QCOMPARE(QFileInfo::exists(m_page) ? pagesIn(m_page) : 0, copied);
    QCOMPARE(waiting.left(), kept ? 2 : 0);
}

void TestScan::feederCopiesTheStack_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("source");
    QTest::addColumn<QVariantMap>("options");
    QTest::addColumn<int>("cancelAfter"); // pages; 0: never
    QTest::addColumn<int>("pages");       // in the new page file; 0: the old one stays
    QTest::addColumn<int>("number");      // of the failure
    QTest::addColumn<QString>("words");
    using S = ScanPreferences::Source;
    const QVariantMap none;
    // SANE's test scanner has ten sheets in its feeder; then it says it is empty. The fault
    // scanner's page takes 0.4 s.
    const auto sheets = [](int count, int jam) {
        return QVariantMap{{QStringLiteral("sheets"), count},
                           {QStringLiteral("jam-page"), jam},
                           {QStringLiteral("read-pause"), 10}};
    };
    QTest::newRow("the glass: one page")
        << "test:0" << int(S::Flatbed) << none << 0 << 1 << 0 << "";
    QTest::newRow("the feeder: every page")
        << "test:0" << int(S::Feeder) << slowly(8192, 30000) << 0 << 10 << 0 << "";
    QTest::newRow("no feeder for both sides")
        << "test:0" << int(S::FeederDuplex) << none << 0 << 0 << 9108 << "nicht beidseitig";
    QTest::newRow("an empty feeder: no paper")
        << "fault:0" << int(S::Feeder) << sheets(0, 0) << 0 << 0 << 9157
        << "Im Einzug des Scanners liegt keine Vorlage";
    QTest::newRow("a jam on page 4: pages 1 to 3 kept")
        << "fault:0" << int(S::Feeder) << sheets(6, 4) << 0 << 3 << 9156
        << "Seite 4: Im Scanner gibt es einen Papierstau";
    QTest::newRow("cancelled after page 2: pages 1 and 2 kept")
        << "fault:0" << int(S::Feeder) << sheets(6, 0) << 2 << 2 << 0 << "";
}

// One press copies the whole stack from the feeder, each page a page of the file, shown one at
// a time. The copy goes on once the first page is in, the rest of the stack following while it
// is shown (and printed); a stack that breaks off keeps the pages before. One that cannot be
// begun leaves the last page file as it was.
void TestScan::feederCopiesTheStack()
{
    QFETCH(QString, device);
    QFETCH(int, source);
    QFETCH(QVariantMap, options);
    QFETCH(int, cancelAfter);
    QFETCH(int, pages);
    QFETCH(int, number);
    QFETCH(QString, words);
    imaging::ScannerChoice{device, QString(), QString()}.save();
    QVERIFY(writeFile(m_page, OldPage));
    ScanPreferences prefs;
    prefs.mode = ScanPreferences::Mode::Gray;
    prefs.dpi = 25;
    prefs.source = ScanPreferences::Source(source);
    ImgScan control;
    const Outcome o = scan(options, prefs, &control);
    if (pages == 0) {
        QCOMPARE(o.number, number);
        QVERIFY2(o.error.contains(words), qPrintable(o.error));
        QVERIFY(!o.event);
        QCOMPARE(contents(m_page), OldPage);
        // The feeder filled, or the glass chosen instead: the next press of the same control
        // sets the device up afresh (the test scanner's feeder, left chosen by the row before,
        // would give ten pages) and copies.
        options.insert(QStringLiteral("sheets"), 5);
        options.insert(QStringLiteral("read-pause"), 0);
        const bool glass = number == int(imaging::ErrorNumber::NoSuchSource);
        prefs.source = glass ? ScanPreferences::Source::Flatbed : ScanPreferences::Source::Feeder;
        const Outcome again = scan(options, prefs, &control);
        QVERIFY(again.event);
        if (again.stack)
            QTRY_VERIFY_WITH_TIMEOUT(again.stack->state().ended, 30000);
        QCOMPARE(pagesIn(m_page), glass ? 1 : 5);
        return;
    }
    QVERIFY2(o.error.isEmpty(), qPrintable(o.error));
    QVERIFY(o.event);

    QWidget window;
    imaging::ImgEdit edit;
    edit.createView(&window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.activateWindow(); // Bild ab is a shortcut of the active window
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QString file = m_page;
    edit.call(343, showArgs(&file));
    if (source == int(ScanPreferences::Source::Feeder)) {
        // The copy went on with the first page, the feeder still scanning: shown at once, the
        // rest of the stack coming in meanwhile.
        QVERIFY(o.stack);
        QVERIFY2(o.pagesAtEvent >= 1 && o.pagesAtEvent < std::max(pages, 3),
                 qPrintable(QString::number(o.pagesAtEvent)));
        QVERIFY(edit.hasPage());
        if (cancelAfter > 0) {
            QTRY_VERIFY(o.stack->state().pages >= cancelAfter);
            o.stack->cancel(); // "Abbrechen" in the print's dialog
        }
        QTRY_VERIFY_WITH_TIMEOUT(o.stack->state().ended, 30000);
        QCOMPARE(o.stack->state().completed, number == 0 && cancelAfter == 0);
        if (number != 0) {
            const QString failure =
                failureOf([&] { std::rethrow_exception(o.stack->state().failed); });
            QVERIFY2(failure.startsWith(QString::number(number)) && failure.contains(words),
                     qPrintable(failure));
            // Not printed (the print question answered "Nein"): the window's line tells it.
            QTRY_VERIFY2(edit.feedback().line().contains(words),
                         qPrintable(edit.feedback().line()));
        }
    }
    // Nothing lost: the page file holds every page that was whole, the display all of them.
    QCOMPARE(pagesIn(m_page), pages);
    QTRY_COMPARE(edit.pageCount(), pages);
    auto* pageNumber = window.findChild<QLabel*>(QStringLiteral("PageNumber"));
    QVERIFY(pageNumber);
    QTRY_COMPARE(pageNumber->isVisible(), pages > 1);
    if (pages > 1) {
        QCOMPARE(pageNumber->text(), QStringLiteral("Seite 1 von %1").arg(pages));
        window.findChild<QToolButton*>(QStringLiteral("NextPage"))->click();
        QTest::keyClick(&window, Qt::Key_PageDown);
        const int last = std::min(pages, 3);
        QCOMPARE(pageNumber->text(), QStringLiteral("Seite %1 von %2").arg(last).arg(pages));
        QTRY_COMPARE(edit.pageIndex(), last - 1);
    }
}

void TestScan::idCardBothSides_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("turned"); // "Weiter" at the question, else "Abbrechen"
    QTest::addColumn<int>("number");  // of the failure
    QTest::newRow("turned over") << "test:0" << true << 0;
    QTest::newRow("cancelled at the turn") << "test:0" << false << 0;
    QTest::newRow("a scanner without glass") << "fault:feeder" << true << 9108;
}

// The card's area at the glass's corner, front and back, into one page file of two pages named
// as the sides; Abbrechen at the turn, or a scanner without glass, leave the old page as it was.
// The choice in "Optionen" is offered where there is a glass, and says why not where there is
// none; so is the scanner's own button where it has one.
void TestScan::idCardBothSides()
{
    QFETCH(QString, device);
    QFETCH(bool, turned);
    QFETCH(int, number);
    imaging::ScannerChoice{device, QString(), QString()}.save();
    QVERIFY(writeFile(m_page, OldPage));
    ImgScan control;
    bool offered = false, buttonOffered = false;
    QString why;
    QStringList sourcesOffered; // of those a scanner may lack
    {
        // The scanner is asked while the dialog is open: its answer is awaited.
        const auto look = whenShown<imaging::ScanPreferencesDialog>([&](QDialog* dialog) {
            const auto* shown = static_cast<imaging::ScanPreferencesDialog*>(dialog);
            if (!shown->abilitiesShown)
                return false;
            const QComboBox* box = shown->sourceBox;
            const int card = box->findData(int(ScanPreferences::Source::IdCard));
            const auto* item = qobject_cast<QStandardItemModel*>(box->model())->item(card);
            offered = item && item->isEnabled();
            why = item ? item->toolTip() : QString();
            for (const auto source :
                 {ScanPreferences::Source::IdCard, ScanPreferences::Source::FlatbedPages,
                  ScanPreferences::Source::Book, ScanPreferences::Source::FeederBacksAfter})
                if (qobject_cast<QStandardItemModel*>(box->model())
                        ->item(box->findData(int(source)))
                        ->isEnabled())
                    sourcesOffered << box->itemText(box->findData(int(source)));
            buttonOffered = shown->startButtonBox->isEnabled();
            dialog->reject();
            return true;
        });
        control.call(112, {});
    }
    QCOMPARE(offered, number == 0);
    QVERIFY(offered || why.contains(QStringLiteral("nur einen Einzug")));
    const QStringList allSources{QStringLiteral("Ausweis (beide Seiten auf ein Blatt)"),
                                 QStringLiteral("Vorlagenglas, mehrere Seiten"),
                                 QStringLiteral("Buch (zwei Seiten)"),
                                 QStringLiteral("Einzug, Rückseiten danach")};
    QCOMPARE(sourcesOffered, number == 0 ? allSources : allSources.mid(3));
    // The test scanner has no buttons of its own, the fault scanner has.
    QCOMPARE(buttonOffered, device.startsWith(QLatin1String("fault")));

    int questions = 0;
    QString question;
    const auto answer = whenShown<QMessageBox>([&](QMessageBox* box) {
        ++questions;
        question = box->text();
        for (QAbstractButton* button : box->buttons())
            if (button->text() ==
                (turned ? QStringLiteral("&Weiter") : QStringLiteral("Abbrechen")))
                button->click();
        return true;
    });
    ScanPreferences prefs;
    prefs.mode = ScanPreferences::Mode::Gray;
    prefs.dpi = 100;
    prefs.source = ScanPreferences::Source::IdCard;
    const Outcome o = scan({}, prefs, &control);
    QCOMPARE(o.number, number);
    QCOMPARE(questions, number == 0 ? 1 : 0);
    QVERIFY(questions == 0 || question == QStringLiteral("Bitte den Ausweis umdrehen, an dieselbe "
                                                         "Stelle legen und „Weiter“ drücken."));
    QCOMPARE(o.event, turned && number == 0);
    if (!o.event) {
        QCOMPARE(contents(m_page), OldPage);
        return;
    }
    QCOMPARE(pagesIn(m_page), 2);
    for (int side = 0; side < 2; ++side) {
        imaging::PageReader page;
        QString error;
        QVERIFY2(page.open(m_page, &error, side), qPrintable(error));
        QCOMPARE(page.name(),
                 QByteArray(side == 0 ? imaging::card::FrontName : imaging::card::BackName));
        QVERIFY(qAbs(page.size().width() - qRound(96 / 25.4 * 100)) <= 1);
        QVERIFY(qAbs(page.size().height() - qRound(64 / 25.4 * 100)) <= 1);
        QCOMPARE(page.xDpi(), 100.0);
        QImage image;
        QVERIFY(page.forEachBand(
            10000, [&](const QImage& band, int) { image = band; }, &error));
        QVERIFY(gridAt(image, 100, 5, 5, false));
        QVERIFY(gridAt(image, 100, 15, 5, true));
    }
}

void TestScan::bookCopy_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("book");  // on the glass
    QTest::addColumn<int>("number"); // of the failure
    QTest::addColumn<QString>("words");
    QTest::newRow("an open book") << "fault:0" << true << 0 << "";
    QTest::newRow("no book on the glass")
        << "fault:0" << false << 9112 << "kein aufgeschlagenes Buch";
    QTest::newRow("a scanner without glass")
        << "fault:feeder" << true << 9108 << "kein Vorlagenglas, auf das ein Buch";
}

// An open book on the fault scanner's glass, its paper grey (200) with grain: the glass scanned
// whole, then the book's two pages, the left one first, each upright, the paper white; without
// a book, or without a glass, the old page stays.
void TestScan::bookCopy()
{
    QFETCH(QString, device);
    QFETCH(bool, book);
    QFETCH(int, number);
    QFETCH(QString, words);
    imaging::ScannerChoice{device, QString(), QString()}.save();
    QVERIFY(writeFile(m_page, OldPage));
    ScanPreferences prefs;
    prefs.mode = ScanPreferences::Mode::Gray;
    prefs.dpi = 50;
    prefs.source = ScanPreferences::Source::Book;
    const Outcome o = scan({{QStringLiteral("book"), book ? 1 : 0}}, prefs);
    QCOMPARE(o.number, number);
    QVERIFY2(o.error.contains(words), qPrintable(o.error));
    if (number != 0) {
        QCOMPARE(contents(m_page), OldPage);
        return;
    }
    QCOMPARE(pagesIn(m_page), 2);
    for (int p = 0; p < 2; ++p) {
        imaging::PageReader page;
        QString why;
        QVERIFY2(page.open(m_page, &why, p), qPrintable(why));
        const QSizeF mm = QSizeF(page.size()) / 50 * 25.4;
        QVERIFY2(qAbs(mm.width() - (p == 0 ? 158.5 : 138.5)) <= 1.5 && qAbs(mm.height() - 216) <= 1,
                 qPrintable(QDebug::toString(mm)));
        const QImage shown = page.reducedCopy(page.size(), &why);
        // The heading near the top, 15 mm below the head; paper below the last line.
        const int x = p == 0 ? 98 : 59; // 50 mm into the heading, at 50 dpi
        QVERIFY2(qGray(shown.pixel(x, 51)) < 80,
                 qPrintable(QString::number(qGray(shown.pixel(x, 51)))));
        QVERIFY2(qGray(shown.pixel(x, 396)) >= 245,
                 qPrintable(QString::number(qGray(shown.pixel(x, 396)))));
    }
}

void TestScan::scannerButtonStartsCopy_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("on");       // "Taste am Scanner startet eine Kopie"
    QTest::addColumn<QString>("press"); // what happens at the scanner
    QTest::addColumn<int>("presses");   // told to the program
    QTest::addColumn<QString>("told");  // in a box, once
    QTest::newRow("copy") << "fault:0" << true << "copy" << 1 << "";
    QTest::newRow("scan") << "fault:0" << true << "scan" << 1 << "";
    QTest::newRow("switched off") << "fault:0" << false << "copy" << 0 << "";
    QTest::newRow("no buttons") << "test:0" << true << "copy" << 0 << "keine Taste";
    QTest::newRow("stops answering")
        << "fault:0" << true << "hang" << 0 << "Der Scanner antwortet nicht mehr";
}

// While switched on and idle, the scanner's own copy and scan buttons are watched: each press
// is told once. A scanner without them, or one that cannot be asked, is told once, and watched
// again after the next copy.
void TestScan::scannerButtonStartsCopy()
{
    QFETCH(QString, device);
    QFETCH(bool, on);
    QFETCH(QString, press);
    QFETCH(int, presses);
    QFETCH(QString, told);
    QFile::remove(pressFile());
    imaging::ScannerChoice{device, QString(), QString()}.save();
    ScanPreferences prefs;
    prefs.dpi = 25;
    prefs.startButton = on;
    prefs.save();
    ImgScan control;
    int pressesTold = 0;
    QObject::connect(&control, &ImgScan::eventRaised,
                     [&](int position) { pressesTold += position == 11; });
    QTest::qWait(600); // watching
    QVERIFY(writeFile(pressFile(), press.toLatin1()));
    if (presses > 0)
        QTRY_COMPARE(pressesTold, presses);
    if (!told.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(boxesShown().size(), 1, 8000);
    QTest::qWait(1500); // nothing more: a press is told once, a failure too
    QCOMPARE(pressesTold, presses);
    const QStringList boxes = boxesShown();
    QCOMPARE(boxes.size(), told.isEmpty() ? 0 : 1);
    QVERIFY(told.isEmpty() || boxes.first().contains(told));
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(w))
            w->close();
    if (on && press == QLatin1String("copy")) {
        // A press while a copy runs, which the scanner keeps until it is read, is no second
        // copy afterwards.
        QVERIFY(writeFile(pressFile(), "copy"));
        QVERIFY(scan({}, prefs, &control).event);
        QTest::qWait(1500);
        QCOMPARE(pressesTold, presses);
    }
    if (!told.isEmpty() && press != QLatin1String("hang")) {
        // Watched again after a copy, and failing again: not told again.
        QVERIFY(scan({}, prefs, &control).event);
        QTest::qWait(1500);
        QCOMPARE(boxesShown().size(), 0);
    }
    if (press != QLatin1String("hang"))
        return;
    // After the next copy the buttons are watched again.
    QFile::remove(pressFile());
    QVERIFY(scan({}, prefs, &control).event);
    QTest::qWait(600);
    QVERIFY(writeFile(pressFile(), "copy"));
    QTRY_COMPARE(pressesTold, 1);
}

void TestScan::lighterToDarker_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("bits");
    using M = ScanPreferences::Mode;
    QTest::newRow("colour") << int(M::Color) << 8;
    QTest::newRow("grey") << int(M::Gray) << 8;
    // The test scanner has no threshold: line art made from grey at a level of each step.
    QTest::newRow("line art") << int(M::Lineart) << 1;
}

// Five steps from "Heller" to "Dunkler": the page gets darker with each.
void TestScan::lighterToDarker()
{
    QFETCH(int, mode);
    QFETCH(int, bits);
    QList<double> means;
    for (int tone = -2; tone <= 2; ++tone) {
        ScanPreferences prefs;
        prefs.mode = ScanPreferences::Mode(mode);
        prefs.dpi = 50;
        prefs.tone = tone;
        const Outcome o =
            scan({{QStringLiteral("test-picture"), QStringLiteral("Color pattern")}}, prefs);
        QVERIFY2(o.error.isEmpty(), qPrintable(o.error));
        QCOMPARE(readTiff(m_page).bits, bits);
        // As the page is printed and shown: with text and photo, lighter or darker comes with
        // the page and is applied as it is read.
        imaging::PageReader reader;
        QString why;
        QVERIFY2(reader.open(m_page, &why), qPrintable(why));
        const QImage page =
            reader.reducedCopy(QSize(4096, 4096), &why).convertToFormat(QImage::Format_Grayscale8);
        double sum = 0;
        for (int y = 0; y < page.height(); ++y)
            for (int x = 0; x < page.width(); ++x)
                sum += page.constScanLine(y)[x];
        means.append(sum / (double(page.width()) * page.height()));
    }
    // Line art in the middle is the device's own; the steps beside it are levels of ours.
    const QString said = QStringLiteral("mean grey from lighter to darker: %1, %2, %3, %4, %5")
                             .arg(means[0])
                             .arg(means[1])
                             .arg(means[2])
                             .arg(means[3])
                             .arg(means[4]);
    for (int i = 1; i < means.size(); ++i)
        QVERIFY2(bits == 1 || means[i] < means[i - 1], qPrintable(said));
    QVERIFY2(means.first() > means.last() + 20, qPrintable(said));
}

void TestScan::unwritableFolder()
{
    scan({}, ScanPreferences()); // a known state of the device
    ImgScan control;
    control.put(1, Variant::text(QStringLiteral("/proc/Kopyra.tif")));
    ScanPreferences prefs;
    prefs.dpi = 75;
    prefs.save();
    const QString error = failureOf([&control] { control.call(102, {}); });
    QVERIFY2(error.contains(QStringLiteral("/proc/Kopyra.tif")) &&
                 error.contains(QStringLiteral("nicht")),
             qPrintable(error));
}

void TestScan::scannerWithoutSourceChoice_data()
{
    QTest::addColumn<int>("source");
    QTest::addColumn<QSizeF>("areaMm"); // empty: refused
    using S = ScanPreferences::Source;
    QTest::newRow("as the device has it") << int(S::Device) << QSizeF(210, 297);
    QTest::newRow("the glass") << int(S::Flatbed) << QSizeF(210, 297);
    QTest::newRow("an ID card") << int(S::IdCard) << QSizeF(96, 64);
    QTest::newRow("the feeder") << int(S::Feeder) << QSizeF();
    QTest::newRow("several originals from the glass") << int(S::FlatbedPages) << QSizeF(210, 297);
    QTest::newRow("backs after fronts") << int(S::FeederBacksAfter) << QSizeF();
}

// A scanner without any choice of source is all glass: the glass, the ID card and several
// originals from the glass are set up on it, the feeder is refused, and not offered.
void TestScan::scannerWithoutSourceChoice()
{
    QFETCH(int, source);
    QFETCH(QSizeF, areaMm);
    PlainFlatbed device;
    ScanPreferences prefs;
    prefs.source = ScanPreferences::Source(source);
    const QString failure = failureOf([&] { prefs.applyTo(device); });
    QCOMPARE(failure.isEmpty(), !areaMm.isEmpty());
    const imaging::DeviceAbilities abilities = imaging::DeviceAbilities::of(device);
    QVERIFY(abilities.glass && !abilities.feeder);
    if (!areaMm.isEmpty())
        QCOMPARE(QSizeF(device.values.value(QStringLiteral("br-x")).toDouble(),
                        device.values.value(QStringLiteral("br-y")).toDouble()),
                 areaMm);
}

void TestScan::pickDevice_data()
{
    // The name, maker and model remembered, and the device that is picked of three.
    QTest::addColumn<QString>("rememberedAndPicked");
    QTest::newRow("remembered name") << "usb:002|Acme|Flat 1|usb:002";
    QTest::newRow("re-plugged: same model, new name") << "usb:001|Acme|Flat 1|usb:003";
    QTest::newRow("gone: first device") << "usb:009|Other|X|net:a:b";
    QTest::newRow("nothing remembered: first device") << "|||net:a:b";
}

void TestScan::pickDevice()
{
    QFETCH(QString, rememberedAndPicked);
    const QStringList r = rememberedAndPicked.split(QLatin1Char('|'));
    const QList<imaging::sane::DeviceInfo> devices{
        {QStringLiteral("net:a:b"), QStringLiteral("HP"), QStringLiteral("Jet"), {}},
        {QStringLiteral("usb:002"), QStringLiteral("Acme"), QStringLiteral("Flat 2"), {}},
        {QStringLiteral("usb:003"), QStringLiteral("Acme"), QStringLiteral("Flat 1"), {}}};
    const imaging::ScannerChoice choice{r[0], r[1], r[2]};
    const auto* found = choice.pick(devices);
    QVERIFY(found);
    QCOMPARE(found->name, r[3]);
    QVERIFY(!choice.pick({}));
}

void TestScan::rememberedDeviceGone()
{
    scan({}, ScanPreferences()); // a known state of the device
    imaging::ScannerChoice{QStringLiteral("test:7"), QStringLiteral("Noname"),
                           QStringLiteral("frontend-tester")}
        .save();
    ImgScan control;
    control.put(1, Variant::text(m_page));
    ScanPreferences prefs;
    prefs.dpi = 50;
    prefs.save();
    control.call(102, {});
    QCOMPARE(control.openDeviceName(), QStringLiteral("test:0"));
}

void TestScan::optionDialogCoversEveryOption()
{
    auto device = std::make_shared<imaging::scanner::Device>();
    auto& sane = imaging::scanner::ScannerThread::instance();
    const int options = sane.call([device] {
        device->open(QStringLiteral("test:0"));
        device->setByName(QStringLiteral("enable-test-options"), true);
        int n = 0;
        for (const auto& o : device->options())
            n += o.kind != imaging::sane::OptionInfo::Kind::Group;
        return n;
    });
    QVERIFY(options > 40);
    {
        imaging::ScanOptionDialog dialog(*device, QStringLiteral("test:0"));
        QCOMPARE(dialog.optionWidgetCount(), options);
        // Alt and a letter reaches one control only, in each of the scan side's dialogs.
        imaging::ScanPreferencesDialog preferences(ScanPreferences{});
        imaging::ScannerChoiceDialog choice(imaging::ScannerChoice{});
        // And a screen reader finds every control by its name.
        for (QDialog* d : std::initializer_list<QDialog*>{&dialog, &preferences, &choice}) {
            QCOMPARE(imaging::duplicateAccessKeys(d), QStringList());
            d->show();
            QCOMPARE(unnamedControls(d), QStringList());
            d->hide();
        }

        // A change reaches the device.
        auto* spin = qobject_cast<QSpinBox*>(dialog.widgetFor(QStringLiteral("int")));
        QVERIFY(spin);
        spin->setValue(99);
        QCOMPARE(sane.call([device] { return device->valueByName(QStringLiteral("int")); }).toInt(),
                 99);

        // The device changes what it was given: the dialog shows what it kept.
        auto* inexact = qobject_cast<QSpinBox*>(dialog.widgetFor(QStringLiteral("int-inexact")));
        QVERIFY(inexact);
        inexact->setValue(68);
        const int kept =
            sane.call([device] { return device->valueByName(QStringLiteral("int-inexact")); })
                .toInt();
        QCOMPARE(inexact->value(), kept);

        // Inactive options are shown, but cannot be changed.
        QWidget* threePassOrder = dialog.widgetFor(QStringLiteral("three-pass-order"));
        QVERIFY(threePassOrder);
        const bool active = sane.call([device] {
            return device->option(device->find(QStringLiteral("three-pass-order"))).active;
        });
        QCOMPARE(threePassOrder->isEnabled(), active);

        // Switching the test options off reloads the dialog with fewer options.
        auto* testOptions =
            qobject_cast<QCheckBox*>(dialog.widgetFor(QStringLiteral("enable-test-options")));
        QVERIFY(testOptions);
        testOptions->setChecked(false);
        QTRY_VERIFY(!dialog.widgetFor(QStringLiteral("int"))->isEnabled());
        QVERIFY(dialog.values().contains(QStringLiteral("resolution")));
    }
    sane.call([device] { device->close(); });
}

// SANE's English texts are shown in the user's language, and the dialog is wide enough for
// them; the device still gets its values as the backend names them.
void TestScan::optionDialogInUsersLanguage()
{
    // The tests run in C.UTF-8, where gettext takes the language from LANGUAGE.
    qputenv("LANGUAGE", "de");
    struct Restore {
        ~Restore() { qunsetenv("LANGUAGE"); }
    } restore;
    auto device = std::make_shared<imaging::scanner::Device>();
    auto& sane = imaging::scanner::ScannerThread::instance();
    sane.call([device] { device->open(QStringLiteral("test:0")); });
    {
        imaging::ScanOptionDialog dialog(*device, QStringLiteral("test:0"));
        auto* mode = qobject_cast<QComboBox*>(dialog.widgetFor(QStringLiteral("mode")));
        QVERIFY(mode);
        auto* form = qobject_cast<QFormLayout*>(mode->parentWidget()->layout());
        QVERIFY(form);
        auto* label = qobject_cast<QLabel*>(form->labelForField(mode));
        QVERIFY(label);
        QCOMPARE(label->text(), QStringLiteral("Scanmodus:"));
        const int grey = mode->findData(QStringLiteral("Gray"));
        QVERIFY(grey >= 0);
        QCOMPARE(mode->itemText(grey), QStringLiteral("Graustufen"));
        emit mode->activated(grey);
        QCOMPARE(
            sane.call([device] { return device->valueByName(QStringLiteral("mode")); }).toString(),
            QStringLiteral("Gray"));
        QCOMPARE(dialog.values().value(QStringLiteral("mode")).toString(), QStringLiteral("Gray"));

        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        auto* area = dialog.findChild<QScrollArea*>();
        QVERIFY(area);
        QVERIFY(!area->horizontalScrollBar()->isVisible());
    }
    sane.call([device] { device->close(); });
}

void TestScan::setupDialogCancelScansNothing()
{
    ScanPreferences prefs;
    prefs.dpi = 75;
    prefs.save();
    ImgScan control;
    bool event = false;
    QObject::connect(&control, &ImgScan::eventRaised, [&] { event = true; });
    control.put(1, Variant::text(m_page));
    control.put(16, Variant::boolean(true));
    QString title;
    QStringList buttons;
    const auto closer = whenShown<imaging::ScanOptionDialog>([&](QDialog* dialog) {
        title = dialog->windowTitle();
        for (QAbstractButton* button : dialog->findChildren<QAbstractButton*>())
            buttons << button->text().remove(QLatin1Char('&'));
        dialog->reject();
        return true;
    });
    control.call(102, {}); // no error
    QCoreApplication::processEvents();
    QVERIFY(!event);
    QVERIFY(!QFile::exists(m_page));
    QVERIFY(title.contains(QStringLiteral("test:0")));
    // The help names the dialog's buttons as they are written.
    const QString sentence = helpText()
                                 .section(QStringLiteral("„Scan-Setup zeigen“"), 1, 1)
                                 .section(QStringLiteral("</li>"), 0, 0);
    int helpNames = 0;
    for (auto it = QRegularExpression(QStringLiteral("<em>([^<]*)</em>")).globalMatch(sentence);
         it.hasNext(); ++helpNames) {
        const QString name = it.next().captured(1);
        QVERIFY2(buttons.contains(name), qPrintable(name));
    }
    QCOMPARE(helpNames, 2);
}

void TestScan::deviceReleasedAfterScan()
{
    ScanPreferences prefs;
    prefs.dpi = 50;
    const Outcome o = scan({}, prefs);
    QVERIFY(o.event);
    ImgScan control;
    control.put(1, Variant::text(m_page));
    control.call(102, {});
    QCOMPARE(control.openDeviceName(), QStringLiteral("test:0"));
    control.call(103, {});
    QCOMPARE(control.openDeviceName(), QString());
}

namespace {

// The helpers started so far; stopping the one that runs.
int helpersStarted()
{
    auto& helper = imaging::scanner::ScannerHelper::instance();
    return imaging::scanner::ScannerThread::instance().call([&] { return helper.generation(); });
}
void stopHelper()
{
    auto& helper = imaging::scanner::ScannerHelper::instance();
    imaging::scanner::ScannerThread::instance().call([&] { helper.stop(); });
}

} // namespace

// A button that uses the scanner, pressed, starts the helper (once); the scan then uses it.
void TestScan::helperStartsWhileButtonHeld()
{
    stopHelper();
    const int before = helpersStarted();
    ImgScan control;
    control.expectUse();
    control.expectUse();
    QCOMPARE(helpersStarted(), before + 1);
    ScanPreferences prefs;
    prefs.dpi = 50;
    QVERIFY(scan({}, prefs, &control).event);
    QCOMPARE(helpersStarted(), before + 1);
}

void TestScan::deadConnectionOpenedInFreshHelper_data()
{
    QTest::addColumn<QByteArray>("stale"); // how the backend meets the dead connection
    QTest::newRow("fails to open") << QByteArray("1");
    QTest::newRow("crashes while opening") << QByteArray("crash");
}

// A device whose connection from the last scan is dead by now (a network scanner restarted
// meanwhile) is opened in a fresh helper: the copy comes, no box.
void TestScan::deadConnectionOpenedInFreshHelper()
{
    QFETCH(QByteArray, stale);
    chooseFaultScanner();
    stopHelper();
    qputenv("KOPYRA_FAULT_STALE", stale);
    const auto restore = qScopeGuard([] {
        qunsetenv("KOPYRA_FAULT_STALE");
        stopHelper();
    });
    ScanPreferences prefs;
    prefs.dpi = 50;
    QVERIFY(scan({}, prefs).event);
    const int before = helpersStarted();
    const Outcome again = scan({}, prefs);
    QVERIFY2(again.event, qPrintable(again.error));
    QCOMPARE(helpersStarted(), before + 1);
}

KOPYRA_TEST_MAIN(TestScan)

#include "tst_scan.moc"
