// Memory of the raster a driverless printer gets, one original on a sheet against two: two
// colour A4 pages at 600 dpi, laid out at 600 and 1200 dpi, the raster counted and dropped;
// two on a sheet as scanned ("Foto") and whitened ("Text und Foto").
// Each measurement in a process of its own, for its own peak.
//   bench_sheet                 prints a Markdown table
//   bench_sheet one DPI PERSHEET   (internal) one measurement: "peak-growth-MB seconds"

#include "bench/peak_memory.h"
#include "imaging/edit/page_pdf.h"
#include "imaging/edit/page_raster.h"
#include "imaging/page_file/page_writer.h"
#include "imaging/page_file/paper_white.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

// Two colour A4 pages at 600 dpi, a gradient each; with a description, as a scan for "Text
// und Foto" records it.
void writePages(const QString& path, const QByteArray& description = {})
{
    imaging::PageFormat f;
    f.width = 4960;
    f.height = 7016;
    f.samplesPerPixel = 3;
    f.xDpi = f.yDpi = 600;
    imaging::PageWriter writer(path);
    std::vector<std::uint8_t> row(std::size_t(f.width) * 3);
    for (int page = 0; page < 2; ++page) {
        writer.begin(f);
        for (int y = 0; y < f.height; ++y) {
            for (std::size_t x = 0; x < row.size(); ++x)
                row[x] = std::uint8_t((x / 3 + std::size_t(y) + std::size_t(page) * 90) % 256);
            writer.writeRow(row.data(), y);
        }
        if (!description.isEmpty())
            writer.describe(description);
    }
    writer.commit();
}

// One measurement in a process of its own: its peak memory and seconds.
QStringList measuredApart(const QString& pageFile, int dpi, int perSheet)
{
    QProcess one;
    one.start(QCoreApplication::applicationFilePath(),
              {QStringLiteral("one"), pageFile, QString::number(dpi), QString::number(perSheet)});
    one.waitForFinished(-1);
    const QStringList figures = QString::fromLatin1(one.readAllStandardOutput())
                                    .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return {QStringLiteral("%1 MB").arg(figures.value(0).trimmed()),
            QStringLiteral("%1 s").arg(figures.value(1).trimmed())};
}

// A colour A4 letter at 300 dpi on yellowish paper (a gradient's text over it), scanned (rows
// written, the paper's level found as they go by, for text and photo) and laid out as the PDF
// a printer gets; seconds for both, the better of three.
double letterToPdf(const QString& folder, bool whiten)
{
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        QElapsedTimer clock;
        clock.start();
        const QString page = folder + QStringLiteral("/letter.tif");
        imaging::PageFormat f;
        f.width = 2480;
        f.height = 3508;
        f.samplesPerPixel = 3;
        f.xDpi = f.yDpi = 300;
        imaging::PageWriter writer(page);
        writer.begin(f);
        imaging::PaperSampler sampler(f.width, f.height, 3, 300);
        std::vector<std::uint8_t> row(std::size_t(f.width) * 3);
        for (int y = 0; y < f.height; ++y) {
            for (int x = 0; x < f.width; ++x) {
                const bool ink =
                    y > 300 && y < 3200 && x > 300 && x < 2180 && (x / 7 + y / 11) % 5 == 0;
                row[std::size_t(x) * 3] = ink ? 30 : 235;
                row[std::size_t(x) * 3 + 1] = ink ? 30 : 225;
                row[std::size_t(x) * 3 + 2] = ink ? 40 : 190;
            }
            if (whiten)
                sampler.row(row.data(), y);
            writer.writeRow(row.data(), y);
        }
        if (whiten) {
            imaging::Whitening w;
            if (const auto paper = sampler.paper())
                w.paper = *paper;
            writer.describe(w.toText());
        }
        writer.commit();
        imaging::PrintJob job;
        job.pageFile = page;
        job.output = imaging::PrintSettings::PdfFile;
        imaging::writePagePdf(job, folder + QStringLiteral("/letter.pdf"));

        best = std::min(best, double(clock.elapsed()) / 1000);
    }
    return best;
}

int measure(const QString& pageFile, int dpi, int perSheet)
{
    imaging::PrintJob job;
    job.pageFile = pageFile;
    job.settings.pagesPerSheet = perSheet;
    job.raster = {dpi, dpi, true};
    const double before = peakMb();
    QElapsedTimer clock;
    clock.start();
    qint64 bytes = 0;
    imaging::writePageRaster(
        job, [&bytes](const char*, std::size_t length) { bytes += qint64(length); });
    std::printf("%.0f %.2f\n", peakMb() - before, double(clock.elapsed()) / 1000);
    return bytes > 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv); // QPainter's fonts and images want it
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("one"))
        return measure(args.value(2), args.value(3).toInt(), args.value(4).toInt());
    QTemporaryDir dir;
    const QString pageFile = dir.filePath(QStringLiteral("Kopyra.tif"));
    writePages(pageFile);
    std::printf("## The raster for a driverless printer: one original on a sheet against two\n\n"
                "Two colour A4 pages scanned at 600 dpi, laid out as colour PWG raster; peak "
                "resident memory of the laying out over the process before it, and its time. "
                "One on a sheet: two sheets; two on a sheet: one sheet, turned.\n\n"
                "| Printer | 1 a sheet: memory | time | 2 a sheet: memory | time |\n"
                "|---|---:|---:|---:|---:|\n");
    for (const int dpi : {600, 1200}) {
        QStringList cells;
        for (const int perSheet : {1, 2})
            cells << measuredApart(pageFile, dpi, perSheet);
        std::printf("| %d dpi colour | %s |\n", dpi, qPrintable(cells.join(QStringLiteral(" | "))));
    }
    // The same two pages as "Text und Foto" records them (a yellowish paper's white).
    const QString whitened = dir.filePath(QStringLiteral("whitened.tif"));
    writePages(whitened, QByteArrayLiteral("Kopyra white: 182 174 146; text 0; tone 0"));
    std::printf("\n## Two on a sheet: Foto against Text und Foto\n\n"
                "The same two pages, two on a sheet (turned), as scanned and with the paper's "
                "white recorded as \"Text und Foto\" records it.\n\n"
                "| Printer | Foto: memory | time | Text und Foto: memory | time |\n"
                "|---|---:|---:|---:|---:|\n");
    for (const int dpi : {600, 1200}) {
        const QStringList cells = measuredApart(pageFile, dpi, 2) + measuredApart(whitened, dpi, 2);
        std::printf("| %d dpi colour | %s |\n", dpi, qPrintable(cells.join(QStringLiteral(" | "))));
    }
    const double photo = letterToPdf(dir.path(), false);
    const double mixed = letterToPdf(dir.path(), true);
    std::printf("\n## The original type: the paper printed white, against the page as scanned\n\n"
                "A colour A4 letter at 300 dpi on yellowish paper: its rows written into the "
                "page file (for \"Text und Foto\" the paper's level found as they go by) and "
                "the page laid out as the PDF a printer gets (for \"Text und Foto\" each band "
                "whitened as it is read); the better of three runs. The scanner's own time, "
                "seconds for such a page, comes on top of both.\n\n"
                "| Foto | Text und Foto | Extra |\n|---:|---:|---:|\n"
                "| %.3f s | %.3f s | %+.0f ms |\n",
                photo, mixed, (mixed - photo) * 1000);
    return 0;
}
