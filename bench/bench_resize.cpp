// How long one repaint of the image area takes while the window is resized with a colour A4
// page shown (600 dpi, or the resolution given as the first argument), how long showing and
// printing it into a PDF take, and the peak memory of it all against the raw page.
#include "imaging/edit/img_edit.h"
#include "old_page.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

// The peak resident memory since the last call, in MB (Linux: VmHWM, then reset).
double peakSinceLastMb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double mb = 0;
    if (status.open(QIODevice::ReadOnly))
        for (const QByteArray& line : status.readAll().split('\n'))
            if (line.startsWith("VmHWM:"))
                mb = line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    QFile reset(QStringLiteral("/proc/self/clear_refs"));
    if (reset.open(QIODevice::WriteOnly))
        reset.write("5");
    return mb;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int dpi = argc > 1 ? std::atoi(argv[1]) : 600;
    QTemporaryDir dir(QDir::currentPath() + QStringLiteral("/bench-XXXXXX"));
    QString page = dir.filePath(QStringLiteral("Kopyra.tif"));

    const QSize pixels = writeOldColourPage(page, dpi);
    peakSinceLastMb(); // writing the page is not part of it
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
    const double showingMb = peakSinceLastMb();

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

    QElapsedTimer printing;
    printing.start();
    edit.call(351, {imaging::Variant::int32(1), imaging::Variant::int32(0),
                    imaging::Variant::int32(1), imaging::Variant::boolean(false)});
    const double printMs = double(printing.nsecsElapsed()) / 1e6;
    const double printingMb = peakSinceLastMb();
    QFile::remove(edit.lastPdfCopy());

    // One row of the table tools/bench.sh writes.
    const double rawMb = double(pixels.width()) * pixels.height() * 3 / 1e6;
    std::printf("| %d dpi (%d × %d, %.0f MB raw) | %.2f ms | %.2f ms | %.0f ms | %.0f ms | "
                "%.0f / %.0f MB |\n",
                dpi, pixels.width(), pixels.height(), rawMb, times[times.size() / 2], times.back(),
                loadMs, printMs, showingMb, printingMb);
    return 0;
}
