#pragma once

#include <QByteArray>
#include <QImage>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace imaging {

// The original type's treatment of a page: the paper's own level, found from the page itself,
// printed white, the levels below it stretched so that black stays black and the tones keep
// their order; for text, near-black made black and light grey white; lighter or darker after
// that. The scan records it with the page (TIFF's image description), and every reader of the
// page (the view, each way of printing) applies it band by band.
struct Whitening {
    std::array<int, 3> paper{255, 255, 255}; // the paper's level in each colour (grey: all three)
    bool text = false;                       // text made crisp
    int tone = 0;                            // -2 lighter … 2 darker, after the background

    // The level each 8-bit value becomes in each colour (red, green, blue; grey: red's), and
    // whether text is made crisp after that: made once for a page.
    struct Curves {
        std::array<std::array<std::uint8_t, 256>, 3> levels{};
        bool text = false;
    };
    Curves curves() const;
    // Applies them to a band as a page reader hands it (grey, RGB888, RGB32; line art is left
    // alone).
    static void apply(QImage& band, const Curves& curves);
    // Whether it changes anything at all.
    bool changes() const;

    // As the page file keeps it; nothing when the text is none of Kopyra's.
    QByteArray toText() const;
    static std::optional<Whitening> fromText(const QByteArray& text);
};

// Finds the paper's level while the rows of a page go by: where paper shows, at the page's
// edges (a 5 mm border all round: the leading edge, the sides, the trailing edge), confirmed by
// the page's own histogram (no large part of the page brighter than that). A page whose edges
// are not one level (a photo that fills the glass) has no paper level; a page whose paper is
// white already needs none.
class PaperSampler {
public:
    // 8-bit rows of that many pixels (1 grey, 3 colour samples each); height -1 when not known.
    PaperSampler(int width, int height, int samples, double dpi);
    void row(const std::uint8_t* pixels, int y);
    // The paper's level in each colour; nothing when there is no paper to whiten.
    std::optional<std::array<int, 3>> paper() const;

private:
    int m_width, m_height, m_samples, m_border;
    int m_rows = 0;
    std::array<std::vector<std::uint32_t>, 3> m_edge; // per colour, at the edges
    std::vector<std::uint32_t> m_edgeLight;           // lightness at the edges
    std::vector<std::uint32_t> m_pageLight;           // lightness of the whole page (sampled)
};

} // namespace imaging
