#pragma once

#include <QString>

namespace imaging {

class PageReader;

// An ID card copied on the glass: its front and its back, scanned one after the other, are the
// two pages of one page file, each named as the side it is. The print puts both on one sheet.
namespace card {

// The pages' names in the page file.
inline constexpr char FrontName[] = "Kopyra ID card: front";
inline constexpr char BackName[] = "Kopyra ID card: back";

// Whether the page is a card's side (front or back); whether the file's first page is.
bool isSide(const PageReader& page);
bool isCardCopy(const QString& pageFile);

// Puts the front and back, each a page file of one page, into the page file as its two pages,
// named as the sides they are. Throws DispatchError when a side cannot be read or the page
// file not be written; the old page file then stays as it was.
void joinSides(const QString& front, const QString& back, const QString& pageFile);

} // namespace card
} // namespace imaging
