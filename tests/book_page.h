#pragma once

// An open book as a scanner sees it, face down on a glass of 216 × 297 mm with the lid open:
// the glass black beyond the book; the spine across the glass 10 mm below its middle (at
// 158.5 mm), each page reaching 130 mm from it, from the foot (8 mm from the glass's left
// edge) to the head (at 208 mm, towards the right edge); the spine's shadow 15 mm wide, the
// light falling from the paper's at 7.5 mm to nothing at the spine. On each page as it is read
// upright: a heading of ink 6 mm high 15 mm below the head, then lines of text-like strokes
// (2 mm of ink, a gap between words every 12 mm) every 6 mm on the left page and every 8 mm on
// the right, from 35 mm below the head down to 185 mm.

#include <algorithm>
#include <cmath>

namespace book_page {

inline constexpr double GlassWidthMm = 216, GlassHeightMm = 297, SpineMm = 158.5;

enum class Part { Glass, Paper, Ink };
struct Point {
    Part part = Part::Glass;
    double light = 1; // the spine's shadow: 0 black … 1 the paper's light
};

inline Point at(double xMm, double yMm)
{
    const double fromSpine = yMm - SpineMm;
    if (xMm < 8 || xMm >= 208 || std::abs(fromSpine) >= 130)
        return {};
    const double light = std::min(1.0, std::abs(fromSpine) / 7.5);
    // Upright: down from the head, across from the page's left edge.
    const double down = 208 - xMm;
    const bool left = fromSpine < 0;
    const double across = left ? fromSpine + 130 : fromSpine;
    const double pitch = left ? 6 : 8;
    const bool heading = down >= 15 && down < 21 && across >= 15 && across < 100;
    const bool stroke = down >= 35 && down < 185 && std::fmod(down - 35, pitch) < 2 &&
                        across >= 15 && across < 115 && std::fmod(across - 15, 12) < 9;
    return {heading || stroke ? Part::Ink : Part::Paper, light};
}

} // namespace book_page
