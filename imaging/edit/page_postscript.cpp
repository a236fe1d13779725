// The pages as PostScript, for printers that take it as it is: the bands' JPEG goes in
// unchanged, where a PDF would be turned into PostScript, image by image, by the print system.

#include "imaging/edit/page_bands.h"

#include <QByteArray>

// qpdf without its old smart pointer: std::shared_ptr throughout.
#define POINTERHOLDER_TRANSITION 4
#include <qpdf/Pipeline.hh>

#include <algorithm>
#include <cstdint>

namespace imaging {

// Bytes as PostScript's ASCII85 text (what PostScript printers take through any channel),
// sixteen groups a line (80 characters at most), with the end mark.
Bytes ascii85(const Bytes& bytes)
{
    Bytes text(bytes.size() / 4 * 5 + bytes.size() / 64 + 16);
    unsigned char* to = text.data();
    const std::size_t whole = bytes.size() / 4 * 4;
    int groups = 0;
    for (std::size_t i = 0; i <= whole; i += 4) {
        const std::size_t n = std::min<std::size_t>(4, bytes.size() - i);
        if (n == 0)
            break;
        std::uint32_t word = 0;
        for (std::size_t k = 0; k < 4; ++k)
            word = word << 8 | (k < n ? bytes[i + k] : 0u);
        if (word == 0 && n == 4) {
            *to++ = 'z';
        } else {
            char digits[5];
            for (int k = 4; k >= 0; --k) {
                digits[k] = char('!' + word % 85);
                word /= 85;
            }
            for (std::size_t k = 0; k <= n; ++k)
                *to++ = static_cast<unsigned char>(digits[k]);
        }
        if (++groups == 16) {
            *to++ = '\n';
            groups = 0;
        }
    }
    *to++ = '~';
    *to++ = '>';
    *to++ = '\n';
    text.resize(std::size_t(to - text.data()));
    return text;
}

// The faces in the order given, copies included: the print system only passes them on. Each
// band's bytes are let go once they are written for the last time, so a stack of pages in
// one copy never waits in memory.
void writePostScript(const std::vector<PagePlan>& pages,
                     std::vector<std::shared_future<Bytes>>& bands, const BandFeed& feed,
                     QSizeF paper, int perSheet, const QList<int>& order, Pipeline& output)
{
    auto put = [&output](const QByteArray& text) {
        output.write(reinterpret_cast<const unsigned char*>(text.constData()), size_t(text.size()));
    };
    put(QStringLiteral("%!PS-Adobe-3.0\n%%Creator: Kopyra\n%%Title: Kopie\n%%Pages: %1\n"
                       "%%BoundingBox: 0 0 %2 %3\n%%LanguageLevel: 2\n%%EndComments\n"
                       "%%BeginProlog\n%%EndProlog\n")
            .arg(order.size())
            .arg(qRound(paper.width()))
            .arg(qRound(paper.height()))
            .toLatin1());
    std::vector<std::size_t> firstBand(pages.size(), 0);
    for (std::size_t p = 1; p < pages.size(); ++p)
        firstBand[p] = firstBand[p - 1] + pages[p - 1].bands;
    const std::size_t faces = (pages.size() + std::size_t(perSheet) - 1) / std::size_t(perSheet);
    std::vector<qsizetype> lastUse(faces, -1);
    for (qsizetype i = 0; i < order.size(); ++i)
        if (order[i] >= 0)
            lastUse[std::size_t(order[i])] = i;
    for (qsizetype printed = 0; printed < order.size(); ++printed) {
        put(QStringLiteral("%%Page: %1 %1\n").arg(printed + 1).toLatin1());
        const int face = order[printed];
        for (std::size_t p = std::size_t(std::max(face, 0)) * std::size_t(perSheet);
             face >= 0 && p < std::min(pages.size(), std::size_t(face + 1) * std::size_t(perSheet));
             ++p) {
            const PagePlan& plan = pages[p];
            const int height = plan.pixels.height();
            const double rowHeight = plan.target.height() / height;
            for (std::size_t i = 0; i < plan.bands; ++i) {
                const int top = int(i) * plan.bandRows;
                const int rows = std::min(plan.bandRows, height - top);
                const QRectF band(plan.target.left(), plan.target.top() + top * rowHeight,
                                  plan.target.width(), rows * rowHeight);
                const auto m = bandMatrix(band, plan.turned, paper);
                const bool rgb = plan.kind == BandKind::Rgb;
                put(QStringLiteral("gsave [%1 %2 %3 %4 %5 %6] concat /Device%7 setcolorspace\n"
                                   "<< /ImageType 1 /Width %8 /Height %9 /BitsPerComponent %10 "
                                   "/Interpolate true /Decode [%11] /ImageMatrix [%8 0 0 -%9 0 %9] "
                                   "/DataSource currentfile /ASCII85Decode filter%12 >> image\n")
                        .arg(number(m[0]), number(m[1]), number(m[2]), number(m[3]), number(m[4]),
                             number(m[5]), rgb ? QStringLiteral("RGB") : QStringLiteral("Gray"))
                        .arg(plan.pixels.width())
                        .arg(rows)
                        .arg(plan.kind == BandKind::Bitmap ? 1 : 8)
                        .arg(rgb ? QStringLiteral("0 1 0 1 0 1") : QStringLiteral("0 1"),
                             plan.kind == BandKind::Bitmap ? QString()
                                                           : QStringLiteral(" /DCTDecode filter"))
                        .toLatin1());
                const std::size_t at = firstBand[p] + i;
                const Bytes& bytes = bands[at].get();
                const Bytes text = feed.encoded[at] ? Bytes() : ascii85(bytes);
                const Bytes& written = feed.encoded[at] ? bytes : text;
                output.write(written.data(), written.size());
                if (lastUse[std::size_t(face)] == printed)
                    bands[at] = {}; // written for the last time: not needed again
                put("grestore\n");
            }
        }
        put("showpage\n");
    }
    put("%%Trailer\n%%EOF\n");
    output.finish();
}

} // namespace imaging
