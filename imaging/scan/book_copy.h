#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace imaging {

// A book's copy: the whole glass scanned, then made the book's two pages in the page file, the
// left one first (see imaging/page_file/book_pages.h). scanGlass scans the glass into the file
// it is given (false: cancelled). False when the scan was cancelled; a glass without a book
// throws DispatchError, as other failures do, and the old page file stays as it was.
bool scanBook(const QString& pageFile, QWidget* parent,
              const std::function<bool(const QString&)>& scanGlass);

} // namespace imaging
