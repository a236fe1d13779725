#pragma once

#include <QByteArray>
#include <QImage>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace imaging {

// The original type's treatment of a page: the paper's own level, found from the page itself,
// printed white together with what shows through from the back, the levels below it stretched
// so that black stays black and the tones keep their order; lighter or darker after that. For
// text the stretched levels are then made crisp: near-black black, light grey white, and there
// the lighter/darker step moves where "light" begins instead of bending the curve, so that text
// stays black at every step: "heller" drops faint marks and the paper's darker grain, "dunkler"
// brings faint pencil out. The scan records it with the page (TIFF's image description), and
// every reader of the page (the view, each way of printing) applies it band by band.
struct Whitening {
    std::array<int, 3> paper{255, 255, 255}; // the level printed white in each colour (grey: all)
    bool text = false;                       // text made crisp
    int tone = 0;                            // -2 lighter … 2 darker, after the background

    // The level each 8-bit value becomes in each colour, made once for a page.
    struct Curves {
        // Whitened, then lighter or darker (text: for colours neither black nor white).
        std::array<std::array<std::uint8_t, 256>, 3> levels{};
        // Text only: whitened alone, which decides black and white in colour …
        std::array<std::array<std::uint8_t, 256>, 3> plain{};
        // … and grey whitened and made crisp at the tone's thresholds.
        std::array<std::uint8_t, 256> greyText{};
        bool text = false;
        int black = 64, white = 224; // text: at or below black, at or above white
    };
    Curves curves() const;
    // Applies them to a band as a page reader hands it or a sheet is drawn (grey, RGB888,
    // RGB32; line art is left alone).
    static void apply(QImage& band, const Curves& curves);
    // Whether it changes anything at all.
    bool changes() const;
    // The same for a colour page printed in grey: the paper's lightness in every colour.
    Whitening inGrey() const;

    // As the page file keeps it; nothing when the text is none of Kopyra's, or is damaged
    // (a level no scan records, a tone beyond the five steps): then the page is as scanned.
    QByteArray toText() const;
    static std::optional<Whitening> fromText(const QByteArray& text);
};

// Finds the paper's level while the rows of a page go by: where paper shows, at the page's
// edges (a 5 mm border all round: the leading edge, the sides, the trailing edge), with the
// spread of its grain, confirmed by the page's own histogram (no large part of the page lighter
// than the paper and its grain). A page whose edges are not one level (a photo that fills the
// glass) has no paper level; nor has a paper too dark or too coloured to print white without
// greying the text; a page whose paper is white already needs none.
class PaperSampler {
public:
    // 8-bit rows of that many pixels (1 grey, 3 colour samples each); height -1 when not known.
    PaperSampler(int width, int height, int samples, double dpi);
    void row(const std::uint8_t* pixels, int y);
    // The level to print white in each colour; nothing when there is no paper to whiten.
    std::optional<std::array<int, 3>> paper() const;
    // The same for a page scanned one colour at a time, a grey sampler for each.
    static std::optional<std::array<int, 3>>
    paperOfPlanes(const std::array<const PaperSampler*, 3>& planes);

private:
    // The paper seen in each colour: where its level peaks, how far its grain spreads, where
    // its darker twentieth begins; nothing when the edges are no paper.
    struct Found {
        std::array<int, 3> peak{}, spread{}, darker{};
    };
    std::optional<Found> find() const;
    static std::optional<std::array<int, 3>> whiteOf(const Found& found);

    int m_width, m_height, m_samples, m_border;
    int m_rows = 0;
    std::array<std::vector<std::uint32_t>, 3> m_edge; // per colour, at the edges
    std::vector<std::uint32_t> m_edgeLight;           // lightness at the edges
    std::vector<std::uint32_t> m_pageLight;           // lightness of the whole page (sampled)
};

} // namespace imaging
