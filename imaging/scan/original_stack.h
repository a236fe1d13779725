#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace imaging {

// Several originals into one copy, for scanners without a feeder of both sides: laid on the
// glass one after the other, or the feeder's stack for the fronts and then the same stack
// turned over for the backs. The pages are gathered in a temporary folder and put into the
// page file only once all are in; false (the old page file as it was) when the copy was
// cancelled at a question or a scan. Failures throw DispatchError, naming the page.

// One page after the other from the glass, asked after each whether another follows; scanOne
// scans one page into the file it is given (false: cancelled).
bool scanFlatbedPages(const QString& pageFile, QWidget* parent,
                      const std::function<bool(const QString&)>& scanOne);

// The fronts through the feeder, the user asked to turn the stack over, the backs: put in
// place as front 1, back 1, front 2 … (the backs come last page first). scanStack scans the
// feeder's stack into the file it is given. A backs pass of another page count is refused.
bool scanBacksAfterFronts(const QString& pageFile, QWidget* parent,
                          const std::function<bool(const QString&)>& scanStack);

} // namespace imaging
