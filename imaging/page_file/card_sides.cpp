#include "imaging/page_file/card_sides.h"

#include "imaging/page_file/page_join.h"
#include "imaging/page_file/page_reader.h"

namespace imaging::card {

bool isSide(const PageReader& page) { return page.name() == FrontName || page.name() == BackName; }

bool isCardCopy(const QString& pageFile)
{
    PageReader first;
    QString why;
    return first.open(pageFile, &why) && isSide(first);
}

void joinSides(const QString& front, const QString& back, const QString& pageFile)
{
    joinPages({{front, 0, FrontName}, {back, 0, BackName}}, pageFile);
}

} // namespace imaging::card
