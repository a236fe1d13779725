#pragma once

#include "imaging/page_file/page_writer.h"

#include <QDateTime>
#include <QFile>

#include <cstdint>
#include <vector>

// Writes a colour A4 page as a scan leaves it, with colour gradients in every channel, and
// dates it a day back: a page from an earlier session, which showing lays out for no print.
// Returns its size in pixels.
inline QSize writeOldColourPage(const QString& path, int dpi)
{
    imaging::PageFormat format;
    format.width = qRound(210 / 25.4 * dpi);
    format.height = qRound(297 / 25.4 * dpi);
    format.samplesPerPixel = 3;
    format.xDpi = format.yDpi = dpi;
    {
        imaging::PageWriter writer(path);
        writer.begin(format);
        std::vector<std::uint8_t> row(size_t(writer.rowBytes()));
        for (int y = 0; y < format.height; ++y) {
            for (size_t x = 0; x < row.size(); ++x)
                row[x] = std::uint8_t((x / 3 + size_t(y) + (x % 3) * 85) % 256);
            writer.writeRow(row.data(), y);
        }
        writer.commit();
    }
    QFile page(path);
    if (page.open(QIODevice::ReadWrite))
        page.setFileTime(QDateTime::currentDateTime().addDays(-1),
                         QFileDevice::FileModificationTime);
    return {format.width, format.height};
}
