#pragma once

// What the PDF and the PostScript writer share: a page's bands as they are read, compressed
// and handed over in order. Private to the edit control.

#include "imaging/edit/print_job.h"
#include "imaging/edit/sheet_layout.h"
#include "imaging/page_file/page_reader.h"

#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>

#include <atomic>
#include <exception>
#include <future>
#include <memory>
#include <vector>

class Pipeline;

namespace imaging {

// How a page's bands go into the PDF.
enum class BandKind {
    Rgb,    // JPEG, DeviceRGB
    Grey,   // JPEG, DeviceGray
    Bitmap, // 1 bit a pixel, black 0; qpdf deflates it
};

using Bytes = std::vector<unsigned char>;

// A number as PDF and PostScript write it.
inline QString number(double value) { return QString::number(value, 'f', 3); }

// Reads the pages band by band and compresses the bands on as many threads as there are
// cores (four at most); the reading waits while that many are under way, so only a few bands
// are in memory as pixels. The bands' bytes arrive through their promises, in order, page
// after page; a failure reaches every band not yet handed over.
struct BandFeed {
    std::vector<std::promise<Bytes>> bands;
    // Once the file is known to be PostScript, the bands come as its ASCII85 text, made on
    // the threads that compress them; encoded tells which did.
    std::atomic_int postScript{-1}; // -1: not known yet
    std::unique_ptr<std::atomic_bool[]> encoded;
    const std::atomic_bool* abandon = nullptr; // by the caller
    std::atomic_bool stop{false};              // the file cannot be written
    std::exception_ptr failure;
    QString why; // when a page could not be read to the end
};

// One page of the file as it goes on paper.
struct PagePlan {
    std::unique_ptr<PageReader> reader;
    BandKind kind = BandKind::Rgb;
    int bandRows = 0;
    std::size_t bands = 0;
    QSize pixels;
    QRectF target;       // in PDF points from the sheet's top-left corner, as laid out
    bool turned = false; // the sheet turned a quarter (two on a sheet)
};

// Bytes as PostScript's ASCII85 text, with its end mark.
Bytes ascii85(const Bytes& bytes);

// The pages as PostScript (level 2), the faces in the given order (-1: a blank back).
void writePostScript(const std::vector<PagePlan>& pages,
                     std::vector<std::shared_future<Bytes>>& bands, const BandFeed& feed,
                     QSizeF paper, int perSheet, const QList<int>& order, Pipeline& output);

} // namespace imaging
