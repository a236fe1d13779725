#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace imaging {

// A page to put into a page file: the page file it is in, its number there (from 0), and the
// name it is to have (empty: none).
struct PageFrom {
    QString file;
    int page = 0;
    QByteArray name;
};

// Puts the pages, in that order, into the page file, each in the kind of pixels it was scanned
// in, band by band (never a whole page in memory). Throws DispatchError when a page cannot be
// read or the page file not be written; the old page file then stays as it was.
void joinPages(const QList<PageFrom>& pages, const QString& pageFile);

// The pages in a page file; 0 when it cannot be read.
int pagesIn(const QString& file);

} // namespace imaging
