// How long one repaint of the image area takes while the window is resized with a 600 dpi
// colour A4 page shown. Prints the median and the slowest of many repaints.
#include "imaging/img_edit.h"
#include "imaging/sane/page_writer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QString page = dir.filePath(QStringLiteral("Kopyra.tif"));

    imaging::sane::PageFormat format;
    format.width = 4961; // A4 at 600 dpi
    format.height = 7016;
    format.samplesPerPixel = 3;
    format.xDpi = format.yDpi = 600;
    {
        imaging::sane::PageWriter writer(page);
        writer.begin(format);
        std::vector<std::uint8_t> row(size_t(writer.rowBytes()));
        for (int y = 0; y < format.height; ++y) {
            for (size_t x = 0; x < row.size(); ++x)
                row[x] = std::uint8_t((x / 3 + size_t(y)) % 256);
            writer.writeRow(row.data(), y);
        }
        writer.commit();
    }

    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    imaging::ImgEdit edit;
    layout->addWidget(edit.createView(&window));
    window.resize(400, 560);
    window.show();

    QElapsedTimer load;
    load.start();
    edit.call(343, {imaging::Variant::textRef(&page), imaging::Variant::missing(),
                    imaging::Variant::missing(), imaging::Variant::missing(),
                    imaging::Variant::missing(), imaging::Variant::boolean(false)});
    const double loadMs = double(load.nsecsElapsed()) / 1e6;

    std::vector<double> times;
    for (int i = 0; i < 200; ++i) {
        window.resize(400 + (i % 50) * 8, 560 + (i % 50) * 6);
        QCoreApplication::processEvents();
        QElapsedTimer t;
        t.start();
        edit.call(352, {imaging::Variant::int16(0)});
        window.repaint();
        times.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::printf("page 4961 x 7016 px (600 dpi colour A4), shown and fitted in %.0f ms\n", loadMs);
    std::printf("repaint while resizing: median %.2f ms, slowest %.2f ms (%zu repaints)\n",
                times[times.size() / 2], times.back(), times.size());
    return 0;
}
