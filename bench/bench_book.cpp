// A book's copy: the whole glass (216 × 297 mm) made the book's two pages, each turned upright,
// at 300 and 600 dpi in grey and colour and 1200 dpi in grey. Each in a process of its own,
// for its own peak; the scanning itself not included.
//   bench_book                          prints a Markdown table
//   bench_book one DPI colour|grey DIR  (internal) one measurement: "peak-growth-MB seconds"

#include "bench/peak_memory.h"
#include "imaging/page_file/book_pages.h"
#include "imaging/page_file/page_writer.h"
#include "tests/book_page.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

// The open book of the tests, with a little deterministic noise, as the scanner delivers it.
void writeGlass(const QString& path, int dpi, bool colour)
{
    imaging::PageFormat f;
    f.width = int(book_page::GlassWidthMm / 25.4 * dpi);
    f.height = int(book_page::GlassHeightMm / 25.4 * dpi);
    f.samplesPerPixel = colour ? 3 : 1;
    f.xDpi = f.yDpi = dpi;
    imaging::PageWriter writer(path);
    writer.begin(f);
    std::vector<std::uint8_t> row(std::size_t(writer.rowBytes()));
    unsigned noise = 4711;
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            const book_page::Point p = book_page::at(x * 25.4 / dpi, y * 25.4 / dpi);
            const int level = p.part == book_page::Part::Glass ? 15
                              : p.part == book_page::Part::Ink ? 20
                                                               : 200;
            for (int s = 0; s < f.samplesPerPixel; ++s) {
                noise = noise * 1103515245u + 12345u;
                const int v = int(level * p.light) + int(noise >> 28) - 8;
                row[std::size_t(x * f.samplesPerPixel + s)] = std::uint8_t(std::clamp(v, 0, 255));
            }
        }
        writer.writeRow(row.data(), y);
    }
    writer.commit();
}

int measure(int dpi, bool colour, const QString& dir)
{
    const QString glass = dir + QStringLiteral("/glas.tif");
    writeGlass(glass, dpi, colour);
    const double before = peakMb();
    QElapsedTimer clock;
    clock.start();
    imaging::book::splitPages(glass, dir + QStringLiteral("/Kopyra.tif"), {});
    std::printf("%.0f %.2f\n", peakMb() - before, double(clock.elapsed()) / 1000);
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QLatin1String("one"))
        return measure(args.value(2).toInt(), args.value(3) == QLatin1String("colour"),
                       args.value(4));
    std::printf("## A book's copy: the glass made the book's two pages\n\n"
                "The whole glass (216 × 297 mm) with an open book, found and cut at its spine, "
                "each page turned upright, the shadow lifted, the glass white, the paper found "
                "and whitened (text and photo). Peak resident memory over the process before "
                "it, and the time, after the scan; median of 3.\n\n"
                "| Glass | As pixels | Memory | Time |\n|---|---:|---:|---:|\n");
    const struct {
        int dpi;
        bool colour;
    } rows[] = {{300, false}, {300, true}, {600, false}, {600, true}, {1200, false}};
    for (const auto& row : rows) {
        QStringList memory, time;
        for (int run = 0; run < 3; ++run) {
            QTemporaryDir dir;
            QProcess one;
            one.start(QCoreApplication::applicationFilePath(),
                      {QStringLiteral("one"), QString::number(row.dpi),
                       row.colour ? QStringLiteral("colour") : QStringLiteral("grey"), dir.path()});
            one.waitForFinished(-1);
            const QStringList figures = QString::fromLatin1(one.readAllStandardOutput())
                                            .split(QLatin1Char(' '), Qt::SkipEmptyParts);
            memory << figures.value(0).trimmed();
            time << figures.value(1).trimmed();
        }
        std::sort(time.begin(), time.end(),
                  [](const QString& a, const QString& b) { return a.toDouble() < b.toDouble(); });
        const double pixels = 216 / 25.4 * row.dpi * 297 / 25.4 * row.dpi * (row.colour ? 3 : 1);
        std::printf("| %d dpi %s | %.0f MB | %s MB | %s s |\n", row.dpi,
                    row.colour ? "colour" : "grey", pixels / 1e6, qPrintable(memory.value(1)),
                    qPrintable(time.value(1)));
    }
    return 0;
}
