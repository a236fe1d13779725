#include "imaging/page_file/book_pages.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"
#include "imaging/page_file/page_reader.h"
#include "imaging/page_file/page_writer.h"
#include "imaging/page_file/paper_white.h"

#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

namespace imaging::book {

namespace {

// The level below which the given share of the counted levels lie.
int levelAt(const std::array<int, 256>& counts, double share)
{
    double total = 0;
    for (const int n : counts)
        total += n;
    double seen = 0;
    for (int v = 0; v < 256; ++v)
        if ((seen += counts[std::size_t(v)]) > share * total)
            return v;
    return 255;
}

// The first and last index whose level reaches the limit; an empty range when none does.
std::pair<int, int> reaching(const std::vector<int>& levels, int limit)
{
    const auto first =
        std::find_if(levels.begin(), levels.end(), [&](int v) { return v >= limit; });
    const auto last =
        std::find_if(levels.rbegin(), levels.rend(), [&](int v) { return v >= limit; });
    if (first == levels.end())
        return {0, -1};
    return {int(first - levels.begin()), int(levels.rend() - last) - 1};
}

[[noreturn]] void noBook()
{
    throw DispatchError(
        ErrorNumber::NoBookFound,
        QStringLiteral("Auf dem Vorlagenglas ist kein aufgeschlagenes Buch zu erkennen: In der "
                       "Mitte des Glases (bis 2,5 cm daneben) liegt kein Buchrücken. Bitte das "
                       "Buch mit den Seiten nach unten und dem Rücken quer über die Mitte des "
                       "Glases legen und noch einmal kopieren – oder unter „Optionen“ eine "
                       "andere Vorlage wählen. Es wurde nichts gedruckt."),
        scanProgId());
}

[[noreturn]] void unreadable(const QString& file, const QString& why)
{
    throw DispatchError(
        ErrorNumber::PageFileFailed,
        QStringLiteral("Die gescannte Seite „%1“ ist nicht lesbar: %2").arg(file, why),
        scanProgId());
}

// One page of the book in the scan's rows and columns, and how each of its rows is made.
struct BookPage {
    int top = 0, end = 0; // the page's rows in the scan: from the glass's edge to the spine
    int paperTop = 0, paperEnd = 0; // its rows of paper, without the shadow or the glass
    QRect inner;                    // where its own paper is sampled
    std::optional<Whitening> whitening;
};

// The light of the rows near the spine as found on the reduced picture, in strips of about
// 10 mm across the book (a book laid a little askew has its shadow at another row in each),
// looked up for the scan's pixels: the gain that lifts the shadow to the paper's level, or
// white where it is too deep to hold anything readable.
struct Shading {
    std::vector<std::vector<int>> level; // [strip][reduced row]: the middle level
    int firstColumn = 0;                 // the strips', in the scan
    double stripColumns = 1;             // scan columns per strip
    double rowsPerRow = 1;               // scan rows per reduced row
    int paper = 255;
    int shadowTop = 0, shadowEnd = 0; // in scan rows

    bool inShadow(int y) const { return y >= shadowTop && y < shadowEnd; }
    int strips() const { return int(level.size()); }
    // The scan columns of a strip: [columnOf(s), columnOf(s + 1)).
    int columnOf(int strip) const { return firstColumn + int(std::lround(strip * stripColumns)); }
    // 0: white; else the gain times 256.
    int gain(int strip, int y) const
    {
        if (!inShadow(y))
            return 256;
        const std::vector<int>& rows = level[std::size_t(strip)];
        const int at = rows[std::min(rows.size() - 1, std::size_t(y / rowsPerRow))];
        if (at * 3 < paper)
            return 0;
        return std::max(256, paper * 256 / std::max(1, at));
    }
};

// The 8-bit form a band is handled in: RGB888, grey, or grey for line art.
QImage eightBit(const QImage& band, PageReader::BandFormat kind)
{
    return kind == PageReader::BandFormat::Colour ? band.convertToFormat(QImage::Format_RGB888)
                                                  : band.convertToFormat(QImage::Format_Grayscale8);
}

} // namespace

std::optional<Found> find(const QImage& picture, double rowMm, double columnMm)
{
    const QImage g = picture.convertToFormat(QImage::Format_Grayscale8);
    const int w = g.width(), h = g.height();
    if (w < 16 || h < 16 || rowMm <= 0 || columnMm <= 0)
        return {};
    std::array<int, 256> all{};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ++all[g.constScanLine(y)[x]];
    const int light = levelAt(all, 0.9), dark = levelAt(all, 0.02);
    if (light - dark < 40)
        return {};
    // The book's pages: rows and columns of which a quarter at least is lighter than halfway
    // between the glass (or the ink) and the paper. The glass beyond the book is dark across.
    const int limit = (light + dark) / 2;
    const auto levelOf = [&](int from, int to, bool row, int at, double share) {
        std::array<int, 256> counts{};
        for (int i = from; i <= to; ++i)
            ++counts[row ? g.constScanLine(at)[i] : g.constScanLine(i)[at]];
        return levelAt(counts, share);
    };
    std::vector<int> columns(static_cast<std::size_t>(w)), rows(static_cast<std::size_t>(h));
    for (int x = 0; x < w; ++x)
        columns[std::size_t(x)] = levelOf(0, h - 1, false, x, 0.75);
    auto [x0, x1] = reaching(columns, limit);
    if (x1 < x0)
        return {};
    for (int y = 0; y < h; ++y)
        rows[std::size_t(y)] = levelOf(x0, x1, true, y, 0.75);
    const auto [y0, y1] = reaching(rows, limit);
    if (y1 < y0)
        return {};
    for (int x = 0; x < w; ++x)
        columns[std::size_t(x)] = levelOf(y0, y1, false, x, 0.75);
    std::tie(x0, x1) = reaching(columns, limit);

    // Each row's paper (its middle level: text covers less than half a row), smoothed over
    // two millimetres; the pages' paper is the middle of those.
    std::vector<int> median(static_cast<std::size_t>(h)), smooth(static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        median[std::size_t(y)] = levelOf(x0, x1, true, y, 0.5);
    const int reach = std::max(1, int(std::lround(1 / rowMm)));
    for (int y = 0; y < h; ++y) {
        int sum = 0, n = 0;
        for (int i = std::max(0, y - reach); i <= std::min(h - 1, y + reach); ++i, ++n)
            sum += median[std::size_t(i)];
        smooth[std::size_t(y)] = sum / n;
    }
    std::vector<int> pageRows(smooth.begin() + y0, smooth.begin() + y1 + 1);
    std::nth_element(pageRows.begin(), pageRows.begin() + std::ptrdiff_t(pageRows.size() / 2),
                     pageRows.end());
    const int paper = pageRows[pageRows.size() / 2];

    // The spine: the darkest row within 25 mm of the middle, a minimum with lighter rows on
    // both sides, and clearly darker than the paper.
    const int window = int(std::lround(25 / rowMm));
    const int from = std::max(y0, h / 2 - window), to = std::min(y1, h / 2 + window);
    if (to - from < 4 * reach)
        return {};
    // Where the darkest level holds for several rows (a shadow scanned as line art is black all
    // across), its middle.
    const int darkest =
        int(std::min_element(smooth.begin() + from, smooth.begin() + to + 1) - smooth.begin());
    int lastDarkest = darkest;
    while (lastDarkest < to && smooth[std::size_t(lastDarkest + 1)] == smooth[std::size_t(darkest)])
        ++lastDarkest;
    const int spine = (darkest + lastDarkest) / 2;
    const int depth = paper - smooth[std::size_t(spine)];
    if (depth < std::max(30, paper / 4) || spine - from < reach || to - spine < reach)
        return {};
    // The shadow reaches as far as the rows are darker than the paper by a tenth of its depth
    // (at most 30 mm each way), and a millimetre more.
    const int back = paper - std::max(6, depth / 10);
    const int most = int(std::lround(30 / rowMm));
    int top = spine, end = spine;
    while (top > y0 && spine - top < most && smooth[std::size_t(top)] < back)
        --top;
    while (end < y1 && end - spine < most && smooth[std::size_t(end)] < back)
        ++end;
    Found found;
    found.spine = spine;
    found.shadowTop = std::max(0, top - reach / 2);
    found.shadowEnd = std::min(h, end + reach / 2 + 1);
    found.pages = QRect(QPoint(x0, y0), QPoint(x1, y1));
    found.paper = paper;
    return found;
}

void splitPages(const QString& glass, const QString& pageFile, const Making& making)
{
    PageReader scan;
    QString why;
    if (!scan.open(glass, &why))
        unreadable(glass, why);
    scan.setAsScanned(true);
    const QSize size = scan.size();
    const double xDpi = scan.xDpi() > 0 ? scan.xDpi() : 300;
    const double yDpi = scan.yDpi() > 0 ? scan.yDpi() : xDpi;
    const QImage reduced = scan.reducedCopy(QSize(1200, 1200), &why);
    if (reduced.isNull())
        unreadable(glass, why);
    const double rowsPerRow = double(size.height()) / reduced.height();
    const double columnsPerColumn = double(size.width()) / reduced.width();
    const QImage grey = reduced.convertToFormat(QImage::Format_Grayscale8);
    const auto found = find(grey, rowsPerRow * 25.4 / yDpi, columnsPerColumn * 25.4 / xDpi);
    if (!found)
        noBook();

    // In the scan's rows and columns, a millimetre inside the book's edges; the border of
    // each page as asked.
    const auto row = [&](int r) {
        return std::clamp(int(std::lround(r * rowsPerRow)), 0, size.height());
    };
    const auto column = [&](int c) {
        return std::clamp(int(std::lround(c * columnsPerColumn)), 0, size.width());
    };
    const int mmX = int(std::lround(xDpi / 25.4)), mmY = int(std::lround(yDpi / 25.4));
    const int eraseX = int(std::lround(making.edgeEraseMm * xDpi / 25.4));
    const int eraseY = int(std::lround(making.edgeEraseMm * yDpi / 25.4));
    const int left = std::max(column(found->pages.left()) + mmX, eraseX);
    const int right = std::min(column(found->pages.right() + 1) - mmX, size.width() - eraseX);
    const int spine = row(found->spine);
    Shading shading;
    shading.rowsPerRow = rowsPerRow;
    shading.shadowTop = row(found->shadowTop);
    shading.shadowEnd = row(found->shadowEnd);
    const int stripWidth = std::max(4, int(std::lround(10 / (columnsPerColumn * 25.4 / xDpi))));
    const int strips = std::max(1, found->pages.width() / stripWidth);
    shading.firstColumn = column(found->pages.left());
    shading.stripColumns = double(column(found->pages.right() + 1) - shading.firstColumn) / strips;
    for (int s = 0; s < strips; ++s) {
        const int from = found->pages.left() + s * found->pages.width() / strips;
        const int to = found->pages.left() + (s + 1) * found->pages.width() / strips;
        std::vector<int>& rows = shading.level.emplace_back();
        for (int y = 0; y < grey.height(); ++y) {
            std::array<int, 256> counts{};
            for (int x = from; x < to; ++x)
                ++counts[grey.constScanLine(y)[x]];
            rows.push_back(levelAt(counts, 0.5));
        }
    }
    shading.paper = found->paper;
    BookPage pages[2];
    pages[0].top = 0;
    pages[0].end = spine;
    pages[0].paperTop = std::max(row(found->pages.top()) + mmY, eraseY);
    pages[0].paperEnd = std::min(spine - eraseY, spine);
    pages[1].top = spine;
    pages[1].end = size.height();
    pages[1].paperTop = std::max(spine + eraseY, spine);
    pages[1].paperEnd = std::min(row(found->pages.bottom() + 1) - mmY, size.height() - eraseY);
    pages[0].inner =
        QRect(left, pages[0].paperTop, right - left, shading.shadowTop - pages[0].paperTop);
    pages[1].inner =
        QRect(left, shading.shadowEnd, right - left, pages[1].paperEnd - shading.shadowEnd);

    const PageReader::BandFormat kind = scan.bandFormat();
    const int samples = kind == PageReader::BandFormat::Colour ? 3 : 1;
    // The paper of each page's own, found as the scanner helper finds a page's: at the edges
    // of the page's paper, away from the glass and the shadow.
    if (making.original != 2 && kind != PageReader::BandFormat::Bilevel) {
        std::optional<PaperSampler> samplers[2];
        for (int p = 0; p < 2; ++p)
            if (pages[p].inner.width() > 0 && pages[p].inner.height() > 0)
                samplers[p].emplace(pages[p].inner.width(), pages[p].inner.height(), samples, xDpi);
        const bool read = scan.forEachBand(
            64,
            [&](const QImage& band, int top) {
                const QImage rows = eightBit(band, kind);
                for (int y = 0; y < rows.height(); ++y)
                    for (int p = 0; p < 2; ++p)
                        if (samplers[p] && pages[p].inner.contains(left, top + y))
                            samplers[p]->row(rows.constScanLine(y) + left * samples,
                                             top + y - pages[p].inner.top());
            },
            &why);
        if (!read)
            unreadable(glass, why);
        for (int p = 0; p < 2; ++p) {
            Whitening whitening;
            if (samplers[p])
                if (const auto level = samplers[p]->paper())
                    whitening.paper = *level;
            whitening.text = making.original == 1;
            whitening.tone = making.tone;
            if (whitening.changes())
                pages[p].whitening = whitening;
        }
    }

    // Each page turned upright: the scan's right edge (the top of the pages) becomes the top,
    // the page's rows its columns. Written row by row in blocks of the scan's columns, each
    // block read from the page's rows: no more than some 32 MB of pixels at a time.
    PageWriter writer(pageFile);
    for (const BookPage& page : pages) {
        const int n = page.end - page.top;
        PageFormat format;
        format.width = n;
        format.height = size.width();
        format.samplesPerPixel = samples;
        format.bitsPerSample = kind == PageReader::BandFormat::Bilevel ? 1 : 8;
        format.xDpi = yDpi;
        format.yDpi = xDpi;
        writer.begin(format);
        const std::optional<Whitening::Curves> curves =
            page.whitening ? std::optional(page.whitening->curves()) : std::nullopt;
        const std::size_t rowBytes = std::size_t(n) * std::size_t(samples);
        const int blockColumns =
            std::clamp(int((32 << 20) / std::max<std::size_t>(1, rowBytes)), 1, size.width());
        std::vector<std::uint8_t> block;
        std::vector<std::uint8_t> out(std::size_t(writer.rowBytes()));
        for (int x1 = size.width(); x1 > 0;) {
            const int x0 = std::max(0, x1 - blockColumns);
            block.assign(std::size_t(x1 - x0) * rowBytes, 255);
            const bool read = scan.forEachBand(
                64,
                [&](const QImage& band, int top) {
                    QImage rows = eightBit(band, kind);
                    for (int y = std::max(0, page.top - top);
                         y < rows.height() && top + y < page.end; ++y) {
                        const int at = top + y;
                        if (at < page.paperTop || at >= page.paperEnd || !shading.inShadow(at))
                            continue; // the glass beyond the book or the border (white), paper
                        // Strip by strip; the deep shadow white; line art cannot be lifted.
                        std::uint8_t* line = rows.scanLine(y);
                        for (int s = 0; s < shading.strips(); ++s) {
                            const int gain = shading.gain(s, at);
                            const int from = std::max(left, shading.columnOf(s)) * samples;
                            const int to = std::min(right, s + 1 == shading.strips()
                                                               ? right
                                                               : shading.columnOf(s + 1)) *
                                           samples;
                            for (int i = from; i < to && gain != 256; ++i)
                                line[i] = gain == 0 ? 255
                                          : kind == PageReader::BandFormat::Bilevel
                                              ? line[i]
                                              : std::uint8_t(std::min(255, line[i] * gain >> 8));
                        }
                    }
                    if (curves)
                        Whitening::apply(rows, *curves);
                    for (int y = std::max(0, page.top - top);
                         y < rows.height() && top + y < page.end; ++y) {
                        const int at = top + y;
                        if (at < page.paperTop || at >= page.paperEnd)
                            continue;
                        const std::uint8_t* line = rows.constScanLine(y);
                        const std::size_t c = std::size_t(at - page.top) * std::size_t(samples);
                        for (int x = std::max(x0, left); x < std::min(x1, right); ++x)
                            std::memcpy(&block[std::size_t(x1 - 1 - x) * rowBytes + c],
                                        line + x * samples, std::size_t(samples));
                    }
                },
                &why, page.top, page.end);
            if (!read)
                unreadable(glass, why);
            for (int k = 0; k < x1 - x0; ++k) {
                const std::uint8_t* pixels = &block[std::size_t(k) * rowBytes];
                if (format.bitsPerSample == 1) {
                    // The file's line art has black as 1.
                    std::fill(out.begin(), out.end(), 0);
                    for (int i = 0; i < n; ++i)
                        if (pixels[i] < 128)
                            out[std::size_t(i / 8)] |= std::uint8_t(0x80 >> (i % 8));
                    writer.writeRow(out.data(), size.width() - x1 + k);
                } else {
                    writer.writeRow(pixels, size.width() - x1 + k);
                }
            }
            x1 = x0;
        }
    }
    writer.commit();
}

} // namespace imaging::book
