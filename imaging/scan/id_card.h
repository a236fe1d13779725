#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace imaging {

// An ID card's copy: the front scanned, the user asked to turn the card over, the back
// scanned, both put into the page file as its two pages (see imaging/page_file/card_sides.h).
// scanSide scans one side into the file it is given (false: cancelled). False when the copy
// was cancelled, at a side or at the question; the old page file then stays as it was.
// Failures throw DispatchError.
bool scanIdCard(const QString& pageFile, QWidget* parent,
                const std::function<bool(const QString&)>& scanSide);

} // namespace imaging
