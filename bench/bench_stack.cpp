// Memory of several originals into one page file: twenty colour A4 pages at 300 dpi laid on
// the glass one after the other (each its own file, then joined), against the feeder's stack of
// twenty (written into the page file as they come). Each in a process of its own, for its own
// peak.
//   bench_stack                      prints a Markdown table
//   bench_stack one glass|feeder DIR   (internal) one measurement: "peak-growth-MB seconds"

#include "bench/peak_memory.h"
#include "imaging/page_file/page_join.h"
#include "imaging/page_file/page_writer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

constexpr int Pages = 20;

// A colour A4 page at 300 dpi as a scan delivers it, row by row, into the writer's next page.
void writePage(imaging::PageWriter& writer, int page)
{
    imaging::PageFormat f;
    f.width = 2480;
    f.height = 3508;
    f.samplesPerPixel = 3;
    f.xDpi = f.yDpi = 300;
    writer.begin(f);
    std::vector<std::uint8_t> row(std::size_t(f.width) * 3);
    for (int y = 0; y < f.height; ++y) {
        for (std::size_t x = 0; x < row.size(); ++x)
            row[x] = std::uint8_t((x / 3 + std::size_t(y) + std::size_t(page) * 40) % 256);
        writer.writeRow(row.data(), y);
    }
}

int measure(const QString& how, const QString& dir)
{
    const double before = peakMb();
    QElapsedTimer clock;
    clock.start();
    const QString pageFile = dir + QStringLiteral("/Kopyra.tif");
    if (how == QLatin1String("feeder")) {
        imaging::PageWriter writer(pageFile);
        for (int p = 0; p < Pages; ++p)
            writePage(writer, p);
        writer.commit();
    } else {
        QList<imaging::PageFrom> pages;
        for (int p = 0; p < Pages; ++p) {
            const QString one = dir + QStringLiteral("/seite-%1.tif").arg(p + 1);
            imaging::PageWriter writer(one);
            writePage(writer, p);
            writer.commit();
            pages.append({one, 0, {}});
        }
        imaging::joinPages(pages, pageFile);
    }
    std::printf("%.0f %.2f\n", peakMb() - before, double(clock.elapsed()) / 1000);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("one"))
        return measure(args.value(2), args.value(3));
    std::printf("## Twenty originals into one page file: from the glass against the feeder\n\n"
                "Twenty colour A4 pages at 300 dpi (26 MB each as pixels): from the glass each "
                "into a file of its own as it is scanned, then joined into the page file; from "
                "the feeder straight into the page file. Peak resident memory over the process "
                "before it, and the time (the scanning itself not included).\n\n"
                "| Stack | Memory | Time |\n|---|---:|---:|\n");
    for (const QString& how : {QStringLiteral("feeder"), QStringLiteral("glass")}) {
        QTemporaryDir dir;
        QProcess one;
        one.start(QCoreApplication::applicationFilePath(),
                  {QStringLiteral("one"), how, dir.path()});
        one.waitForFinished(-1);
        const QStringList figures = QString::fromLatin1(one.readAllStandardOutput())
                                        .split(QLatin1Char(' '), Qt::SkipEmptyParts);
        std::printf("| %s | %s MB | %s s |\n",
                    how == QLatin1String("feeder") ? "the feeder's stack" : "the glass, joined",
                    qPrintable(figures.value(0).trimmed()), qPrintable(figures.value(1).trimmed()));
    }
    return 0;
}
