#pragma once

// Pages as real scanners deliver them, for the tests of the original type.

#include "book_page.h"
#include "imaging/page_file/page_writer.h"
#include "imaging/page_file/paper_white.h"

#include <QMetaType>
#include <QRgb>
#include <QSizeF>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace real_scan {

// A page of 100 × 140 mm as a scanner brings it. "letter": paper, a heading of ink (20) from 15
// to 25 mm, below it the back's text showing through (vertical strokes, from 15 levels darker
// than the paper at the left to 40 at the right, 30 to 50 mm), a pencil line (120 on paper of
// 200, 54 to 57 mm) and from 60 to 120 mm a grey ramp from black at 10 mm to white at 90 mm.
// "newsprint": the letter on paper mottled between 190 and 210. "frame": a large white area
// (245) inside a 20 mm frame of the given paper. "sky": a photo that fills the glass, a bright
// sky of 230 at the top darkening to 100 at the bottom. "grid": a black line every 10 mm.
// "book": an open book on the whole glass (book_page.h), its ink 20, the glass 15.
// Every pixel carries the grain of a real scan (a normal spread of the given deviation, mostly
// in lightness, a third of it in each colour alone).
struct Scan {
    QString kind = QStringLiteral("letter");
    QRgb paper = qRgb(200, 200, 200);
    double grain = 6;
    int dpi = 150;
    int original = 0; // 0 text and photo, 1 text, 2 photo
    int tone = 0;
    int bits = 8;
    QSizeF mm{100, 140};
    double shiftMm = 0; // the book laid that much further down the glass
    double skewDeg = 0; // and turned that much about the glass's middle
};

inline QRgb contentAt(const Scan& scan, double xMm, double yMm)
{
    const int r = qRed(scan.paper), g = qGreen(scan.paper), b = qBlue(scan.paper);
    const auto shade = [&](int darker) { return qRgb(r - darker, g - darker, b - darker); };
    if (scan.kind == QLatin1String("book")) {
        const double turn = scan.skewDeg * 3.14159265358979 / 180, dx = xMm - 108, dy = yMm - 148.5;
        const book_page::Point p =
            book_page::at(108 + dx * std::cos(turn) + dy * std::sin(turn),
                          148.5 - dx * std::sin(turn) + dy * std::cos(turn) - scan.shiftMm);
        const auto lit = [&](int v) { return int(std::lround(v * p.light)); };
        return p.part == book_page::Part::Glass ? qRgb(15, 15, 15)
               : p.part == book_page::Part::Ink ? qRgb(lit(20), lit(20), lit(20))
                                                : qRgb(lit(r), lit(g), lit(b));
    }
    if (scan.kind == QLatin1String("sky")) {
        const int v = 230 - int(yMm / 140 * 130);
        return qRgb(v, v, v);
    }
    if (scan.kind == QLatin1String("grid")) {
        const double at = scan.dpi * 10 / 25.4;
        const double x = xMm / 25.4 * scan.dpi, y = yMm / 25.4 * scan.dpi;
        return std::fmod(x, at) < 1 || std::fmod(y, at) < 1 ? qRgb(0, 0, 0) : scan.paper;
    }
    if (scan.kind == QLatin1String("frame"))
        return xMm > 20 && xMm < 80 && yMm > 20 && yMm < 120 ? qRgb(245, 245, 245) : scan.paper;
    if (yMm >= 15 && yMm < 25 && xMm >= 15 && xMm < 85)
        return qRgb(20, 20, 20);
    if (yMm >= 30 && yMm < 50 && xMm >= 15 && xMm < 85 && std::fmod(xMm, 1.2) < 0.4)
        return shade(15 + int((xMm - 15) / 70 * 25));
    if (yMm >= 54 && yMm < 57 && xMm >= 15 && xMm < 85)
        return shade(80);
    if (yMm >= 60 && yMm < 120 && xMm >= 10 && xMm < 90) {
        const int v = std::clamp(int((xMm - 10) / 80 * 255), 0, 255);
        return qRgb(v, v, v);
    }
    if (scan.kind == QLatin1String("newsprint")) {
        const int mottle = int(std::lround(10 * std::sin(xMm / 1.3) * std::cos(yMm / 1.7)));
        return shade(-mottle);
    }
    return scan.paper;
}

// Writes the page as the scanner helper would: rows into the page file, the paper found as
// they go by, the original type recorded with the page.
inline void writeScan(const QString& path, const Scan& scan)
{
    imaging::PageFormat f;
    f.width = int(std::lround(scan.mm.width() / 25.4 * scan.dpi));
    f.height = int(std::lround(scan.mm.height() / 25.4 * scan.dpi));
    const bool grey =
        qRed(scan.paper) == qGreen(scan.paper) && qGreen(scan.paper) == qBlue(scan.paper);
    f.samplesPerPixel = grey ? 1 : 3;
    f.bitsPerSample = scan.bits;
    f.xDpi = f.yDpi = scan.dpi;
    imaging::PageWriter writer(path);
    writer.begin(f);
    imaging::PaperSampler sampler(f.width, f.height, f.samplesPerPixel, scan.dpi);
    std::mt19937 random(4711);
    std::normal_distribution<double> noise(0, 1);
    std::vector<std::uint8_t> row(std::size_t(writer.rowBytes()));
    std::vector<std::uint8_t> sampled(std::size_t(f.width * f.samplesPerPixel));
    for (int y = 0; y < f.height; ++y) {
        for (int x = 0; x < f.width; ++x) {
            const QRgb c = contentAt(scan, x * 25.4 / scan.dpi, y * 25.4 / scan.dpi);
            const double common = noise(random) * scan.grain;
            const int levels[] = {qRed(c), qGreen(c), qBlue(c)};
            for (int s = 0; s < f.samplesPerPixel; ++s) {
                const double v = levels[s] + common + noise(random) * scan.grain / 3;
                const int level = std::clamp(int(std::lround(v)), 0, 255);
                const std::size_t i = std::size_t(x * f.samplesPerPixel + s);
                sampled[i] = std::uint8_t(level);
                if (scan.bits == 16) {
                    const auto wide = std::uint16_t(level * 257);
                    std::memcpy(row.data() + 2 * i, &wide, 2);
                } else if (scan.bits == 1) { // line art: black (1) below the middle
                    row[i / 8] = std::uint8_t((row[i / 8] & ~(0x80 >> i % 8)) |
                                              (level < 128 ? 0x80 >> i % 8 : 0));
                } else {
                    row[i] = std::uint8_t(level);
                }
            }
        }
        sampler.row(sampled.data(), y);
        writer.writeRow(row.data(), y);
    }
    if (scan.original != 2) {
        imaging::Whitening whitening;
        if (const auto level = sampler.paper())
            whitening.paper = *level;
        whitening.text = scan.original == 1;
        whitening.tone = scan.tone;
        if (whitening.changes())
            writer.describe(whitening.toText());
    }
    writer.commit();
}

} // namespace real_scan

Q_DECLARE_METATYPE(real_scan::Scan)
