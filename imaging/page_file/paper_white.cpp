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

} // namespace

Whitening::Curves Whitening::curves() const
{
    Curves made;
    made.text = text;
    const double gamma = std::pow(2.0, tone / 2.0);
    for (std::size_t c = 0; c < 3; ++c) {
        const int white = std::clamp(paper[c], 1, 255);
        for (int v = 0; v < Levels; ++v) {
            double level = v >= white ? 255.0 : v * 255.0 / white;
            if (tone != 0)
                level = 255.0 * std::pow(level / 255.0, gamma);
            made.levels[c][std::size_t(v)] = std::uint8_t(std::lround(level));
        }
    }
    return made;
}

bool Whitening::changes() const
{
    return text || tone != 0 ||
           std::any_of(paper.begin(), paper.end(), [](int p) { return p < 255; });
}

void Whitening::apply(QImage& band, const Curves& curves)
{
    const auto& [red, green, blue] = curves.levels;
    const bool text = curves.text;
    // Text made crisp, in the levels the background left: near-black black, light grey white;
    // between, the levels stretched. A colour keeps its colour: only a pixel dark or light in
    // every colour is made black or white.
    const auto crisp = [](int v) { return v <= 64 ? 0 : v >= 192 ? 255 : (v - 64) * 255 / 128; };
    const int width = band.width();
    for (int y = 0; y < band.height(); ++y) {
        uchar* line = band.scanLine(y);
        switch (band.format()) {
        case QImage::Format_Grayscale8:
            for (int x = 0; x < width; ++x) {
                const int v = red[line[x]];
                line[x] = uchar(text ? crisp(v) : v);
            }
            break;
        case QImage::Format_RGB888:
            for (int x = 0; x < width; ++x) {
                uchar* p = line + 3 * x;
                int r = red[p[0]], g = green[p[1]], b = blue[p[2]];
                if (text && std::max({r, g, b}) <= 64)
                    r = g = b = 0;
                else if (text && std::min({r, g, b}) >= 192)
                    r = g = b = 255;
                p[0] = uchar(r);
                p[1] = uchar(g);
                p[2] = uchar(b);
            }
            break;
        case QImage::Format_RGB32:
        case QImage::Format_ARGB32:
            for (int x = 0; x < width; ++x) {
                QRgb& p = reinterpret_cast<QRgb*>(line)[x];
                int r = red[qRed(p)], g = green[qGreen(p)], b = blue[qBlue(p)];
                if (text && std::max({r, g, b}) <= 64)
                    r = g = b = 0;
                else if (text && std::min({r, g, b}) >= 192)
                    r = g = b = 255;
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
    static const QRegularExpression form(
        QStringLiteral("^Kopyra white: (\\d+) (\\d+) (\\d+); text ([01]); tone (-?\\d)$"));
    const auto found = form.match(QString::fromLatin1(text));
    if (!found.hasMatch())
        return std::nullopt;
    Whitening w;
    for (int c = 0; c < 3; ++c)
        w.paper[std::size_t(c)] = std::clamp(found.captured(c + 1).toInt(), 1, 255);
    w.text = found.captured(4) == QLatin1String("1");
    w.tone = std::clamp(found.captured(5).toInt(), -2, 2);
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

std::optional<std::array<int, 3>> PaperSampler::paper() const
{
    const std::uint64_t edges =
        std::accumulate(m_edgeLight.begin(), m_edgeLight.end(), std::uint64_t(0));
    if (edges == 0)
        return std::nullopt;
    // The edges are one light level: paper. A photo that fills the glass has edges of many.
    const auto [level, around] = peakOf(m_edgeLight);
    if (around * 10 < edges * 6 || level < 96)
        return std::nullopt;
    // And it is the page's lightest large peak: no large part of the page has one lighter
    // level (a white sky inside a dark frame). Tones that merely run lighter (a grey ramp, a
    // photo's highlights) make no peak.
    const std::uint64_t page =
        std::accumulate(m_pageLight.begin(), m_pageLight.end(), std::uint64_t(0));
    for (int v = level + 17; v < Levels; ++v) {
        std::uint64_t lighter = 0;
        for (int w = v - 8; w <= std::min(Levels - 1, v + 8); ++w)
            lighter += m_pageLight[std::size_t(w)];
        if (lighter * 100 > page * 5)
            return std::nullopt;
    }
    // In each colour the paper's level is where its darker twentieth begins: the paper's own
    // grain prints white too.
    std::array<int, 3> paper{};
    for (int c = 0; c < 3; ++c) {
        const auto& h = m_edge[std::size_t(c)];
        const int peak = peakOf(h).first;
        std::uint64_t inPeak = 0;
        for (int v = std::max(0, peak - 24); v <= std::min(Levels - 1, peak + 24); ++v)
            inPeak += h[std::size_t(v)];
        std::uint64_t below = 0;
        int white = peak;
        for (int v = std::max(0, peak - 24); v <= peak; ++v) {
            below += h[std::size_t(v)];
            if (below * 20 >= inPeak) {
                white = v;
                break;
            }
        }
        paper[std::size_t(c)] = std::max(white, 1);
    }
    if (std::all_of(paper.begin(), paper.end(), [](int p) { return p >= WhiteEnough; }))
        return std::nullopt;
    return paper;
}

} // namespace imaging
