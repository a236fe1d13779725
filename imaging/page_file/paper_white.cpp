#include "imaging/page_file/paper_white.h"

#include <QList>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace imaging {

namespace {

constexpr int Levels = 256;
// A page whose paper is this light is white already: left as scanned.
constexpr int WhiteEnough = 240;
// Below this no level is the paper's own: a darker or strongly coloured sheet is left as
// scanned, since printing it white would grey its text.
constexpr int DarkestPaper = 96;
// The most grain a paper has: coarse newsprint at 1200 dpi. Edges that spread wider are no
// paper (a photo's tones).
constexpr double MostGrain = 16;

int lightness(int red, int green, int blue) { return (red * 77 + green * 150 + blue * 29) >> 8; }

// The level with the most values within ±8 of it, and how many those are.
std::pair<int, std::uint64_t> peakOf(const std::vector<std::uint32_t>& histogram)
{
    int best = 0;
    std::uint64_t most = 0;
    for (int level = 0; level < Levels; ++level) {
        std::uint64_t around = 0;
        for (int v = std::max(0, level - 8); v <= std::min(Levels - 1, level + 8); ++v)
            around += histogram[std::size_t(v)];
        // The lighter of two equal peaks: paper, not its shadow.
        if (around >= most && around > 0) {
            most = around;
            best = level;
        }
    }
    return {best, most};
}

// How far the levels spread around a peak, as a normal spread's deviation: from the width at
// half its height (a page without grain: 1).
double spreadAround(const std::vector<std::uint32_t>& histogram, int peak)
{
    int top = peak;
    for (int v = std::max(0, peak - 8); v <= std::min(Levels - 1, peak + 8); ++v)
        if (histogram[std::size_t(v)] > histogram[std::size_t(top)])
            top = v;
    const std::uint32_t half = histogram[std::size_t(top)] / 2;
    int low = top, high = top;
    while (low > 0 && histogram[std::size_t(low)] > half)
        --low;
    while (high < Levels - 1 && histogram[std::size_t(high)] > half)
        ++high;
    return std::max(1.0, ((high - low) / 2.0 - 0.5) / 1.1774);
}

// The values within a level's window.
std::uint64_t within(const std::vector<std::uint32_t>& histogram, int from, int to)
{
    std::uint64_t n = 0;
    for (int v = std::max(0, from); v <= std::min(Levels - 1, to); ++v)
        n += histogram[std::size_t(v)];
    return n;
}

// The paper's grain: its levels within 2.5 deviations of its peak, at least ±8.
int grainWindow(double spread) { return std::max(8, int(std::ceil(2.5 * spread))); }

} // namespace

Whitening::Curves Whitening::curves() const
{
    Curves made;
    made.text = text;
    const double gamma = std::pow(2.0, tone / 2.0);
    for (std::size_t c = 0; c < 3; ++c) {
        const int white = std::clamp(paper[c], 1, 255);
        for (int v = 0; v < Levels; ++v) {
            const double level = v >= white ? 255.0 : v * 255.0 / white;
            made.plain[c][std::size_t(v)] = std::uint8_t(std::lround(level));
            made.levels[c][std::size_t(v)] = std::uint8_t(
                std::lround(tone == 0 ? level : 255.0 * std::pow(level / 255.0, gamma)));
        }
    }
    if (text) {
        // Lighter lowers where white begins (224, 192, 160 from the middle step on), darker
        // raises it (240, 252) and where black ends; text at or below 64 stays black at every
        // step. The paper and what shows through are white already.
        made.black = 64 + 12 * std::max(tone, 0);
        made.white = tone <= 0 ? 224 + 32 * tone : 228 + 12 * tone;
        for (int v = 0; v < Levels; ++v) {
            const int w = made.plain[0][std::size_t(v)];
            made.greyText[std::size_t(v)] = std::uint8_t(
                w <= made.black   ? 0
                : w >= made.white ? 255
                                  : (w - made.black) * 255 / (made.white - made.black));
        }
    }
    return made;
}

bool Whitening::changes() const
{
    return text || tone != 0 ||
           std::any_of(paper.begin(), paper.end(), [](int p) { return p < 255; });
}

Whitening Whitening::inGrey() const
{
    Whitening grey = *this;
    grey.paper.fill(lightness(paper[0], paper[1], paper[2]));
    return grey;
}

void Whitening::apply(QImage& band, const Curves& curves)
{
    const auto& [red, green, blue] = curves.levels;
    const auto& plain = curves.plain;
    const bool text = curves.text;
    const int black = curves.black, white = curves.white;
    // Text in colour keeps its colour: only a pixel dark or light in every colour is made
    // black or white.
    const auto colour = [&](int& r, int& g, int& b) {
        if (text) {
            const int pr = plain[0][std::size_t(r)], pg = plain[1][std::size_t(g)],
                      pb = plain[2][std::size_t(b)];
            if (std::max({pr, pg, pb}) <= black) {
                r = g = b = 0;
                return;
            }
            if (std::min({pr, pg, pb}) >= white) {
                r = g = b = 255;
                return;
            }
        }
        r = red[std::size_t(r)];
        g = green[std::size_t(g)];
        b = blue[std::size_t(b)];
    };
    const auto& grey = text ? curves.greyText : red;
    const int width = band.width();
    for (int y = 0; y < band.height(); ++y) {
        uchar* line = band.scanLine(y);
        switch (band.format()) {
        case QImage::Format_Grayscale8:
            for (int x = 0; x < width; ++x)
                line[x] = grey[line[x]];
            break;
        case QImage::Format_RGB888:
            for (int x = 0; x < width; ++x) {
                uchar* p = line + 3 * x;
                int r = p[0], g = p[1], b = p[2];
                colour(r, g, b);
                p[0] = uchar(r);
                p[1] = uchar(g);
                p[2] = uchar(b);
            }
            break;
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32:
            for (int x = 0; x < width; ++x) {
                QRgb& p = reinterpret_cast<QRgb*>(line)[x];
                int r = qRed(p), g = qGreen(p), b = qBlue(p);
                colour(r, g, b);
                p = qRgba(r, g, b, qAlpha(p));
            }
            break;
        default: // line art is left as it is
            return;
        }
    }
}

QByteArray Whitening::toText() const
{
    return QStringLiteral("Kopyra white: %1 %2 %3; text %4; tone %5")
        .arg(paper[0])
        .arg(paper[1])
        .arg(paper[2])
        .arg(text ? 1 : 0)
        .arg(tone)
        .toLatin1();
}

std::optional<Whitening> Whitening::fromText(const QByteArray& text)
{
    // Only what a scan writes: three levels a scan can find, one of the five tones. Anything
    // else (typed by hand, damaged) is no reason to change a pixel: a paper level of 0 would
    // print every pixel white.
    static const QRegularExpression form(QStringLiteral(
        "^Kopyra white: (\\d{1,3}) (\\d{1,3}) (\\d{1,3}); text ([01]); tone (-?[0-2])$"));
    const auto found = form.match(QString::fromLatin1(text));
    if (!found.hasMatch())
        return std::nullopt;
    Whitening w;
    for (int c = 0; c < 3; ++c) {
        const int level = found.captured(c + 1).toInt();
        if (level < DarkestPaper || level > 255)
            return std::nullopt;
        w.paper[std::size_t(c)] = level;
    }
    w.text = found.captured(4) == QLatin1String("1");
    w.tone = found.captured(5).toInt();
    return w;
}

PaperSampler::PaperSampler(int width, int height, int samples, double dpi)
    : m_width(width)
    , m_height(height)
    , m_samples(samples == 3 ? 3 : 1)
    , m_border(std::max(1, int(std::lround(5 / 25.4 * (dpi > 0 ? dpi : 300)))))
    , m_edgeLight(Levels)
    , m_pageLight(Levels)
{
    for (auto& h : m_edge)
        h.assign(Levels, 0);
}

void PaperSampler::row(const std::uint8_t* pixels, int y)
{
    ++m_rows;
    // A page at least three borders wide and high has an inside; a narrow one is all edge.
    const bool edgeRow =
        y < m_border || (m_height > 0 && y >= m_height - m_border) || m_width <= 3 * m_border;
    const auto count = [&](int x, bool edge) {
        const std::uint8_t* p = pixels + std::size_t(x) * std::size_t(m_samples);
        const int r = p[0], g = m_samples == 3 ? p[1] : r, b = m_samples == 3 ? p[2] : r;
        const int light = lightness(r, g, b);
        if (edge) {
            ++m_edge[0][std::size_t(r)];
            ++m_edge[1][std::size_t(g)];
            ++m_edge[2][std::size_t(b)];
            ++m_edgeLight[std::size_t(light)];
        }
        ++m_pageLight[std::size_t(light)];
    };
    if (edgeRow) {
        for (int x = 0; x < m_width; ++x)
            count(x, true);
        return;
    }
    for (int x = 0; x < std::min(m_border, m_width); ++x)
        count(x, true);
    for (int x = std::max(m_border, m_width - m_border); x < m_width; ++x)
        count(x, true);
    // The inside, every fourth pixel of every fourth row: enough for its histogram.
    if (y % 4 == 0)
        for (int x = m_border; x < m_width - m_border; x += 4)
            count(x, false);
}

std::optional<PaperSampler::Found> PaperSampler::find() const
{
    const std::uint64_t edges =
        std::accumulate(m_edgeLight.begin(), m_edgeLight.end(), std::uint64_t(0));
    if (edges == 0)
        return std::nullopt;
    // The edges are one level with the grain of paper: most of them within its spread. A
    // photo that fills the glass has edges of many levels.
    const int level = peakOf(m_edgeLight).first;
    const double spread = spreadAround(m_edgeLight, level);
    const int window = grainWindow(spread);
    if (spread > MostGrain ||
        within(m_edgeLight, level - window, level + window) * 10 < edges * 6 ||
        level < DarkestPaper)
        return std::nullopt;
    // And it is the page's lightest large peak: no large part of the page has one lighter level
    // beyond the paper's own grain (a white sky inside a dark frame). Tones that merely run
    // lighter (a grey ramp, a photo's highlights) make no peak.
    const std::uint64_t page =
        std::accumulate(m_pageLight.begin(), m_pageLight.end(), std::uint64_t(0));
    for (int v = level + window + 9; v < Levels; ++v)
        if (within(m_pageLight, v - 8, v + 8) * 100 > page * 5)
            return std::nullopt;
    Found found;
    for (std::size_t c = 0; c < 3; ++c) {
        const auto& h = m_edge[c];
        const int peak = peakOf(h).first;
        const double grain = spreadAround(h, peak);
        const int reach = grainWindow(grain);
        // Where the darker twentieth of the paper's levels begins.
        const std::uint64_t inPeak = within(h, peak - reach, peak + reach);
        std::uint64_t below = 0;
        int darker = peak;
        for (int v = std::max(0, peak - reach); v <= peak; ++v) {
            below += h[std::size_t(v)];
            if (below * 20 >= inPeak) {
                darker = v;
                break;
            }
        }
        found.peak[c] = peak;
        found.spread[c] = int(std::lround(grain));
        found.darker[c] = darker;
    }
    return found;
}

std::optional<std::array<int, 3>> PaperSampler::whiteOf(const Found& found)
{
    if (std::all_of(found.darker.begin(), found.darker.end(),
                    [](int d) { return d >= WhiteEnough; }))
        return std::nullopt;
    // White from a fifth below the paper's peak, less its grain: the paper with its darker
    // grain, and what shows through from the back (up to 40 levels darker on paper of 200),
    // print white.
    std::array<int, 3> white{};
    for (std::size_t c = 0; c < 3; ++c) {
        white[c] = found.peak[c] * 4 / 5 - found.spread[c];
        if (white[c] < DarkestPaper)
            return std::nullopt;
    }
    return white;
}

std::optional<std::array<int, 3>> PaperSampler::paper() const
{
    const auto found = find();
    return found ? whiteOf(*found) : std::nullopt;
}

std::optional<std::array<int, 3>>
PaperSampler::paperOfPlanes(const std::array<const PaperSampler*, 3>& planes)
{
    // Each colour on its own must be paper; its level is that colour's.
    Found all;
    for (std::size_t c = 0; c < 3; ++c) {
        const auto found = planes[c]->find();
        if (!found)
            return std::nullopt;
        all.peak[c] = found->peak[0];
        all.spread[c] = found->spread[0];
        all.darker[c] = found->darker[0];
    }
    return whiteOf(all);
}

} // namespace imaging
