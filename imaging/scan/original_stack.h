#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace imaging {

// Several originals into one copy, for scanners without a feeder of both sides: laid on the
// glass one after the other, or the feeder's stack for the fronts and then the same stack
// turned over for the backs. The pages wait, compressed, in a folder of Kopyra's own beside
// the page file and are put into the page file only once all are in; false when the copy was
// cancelled. Nothing scanned is lost unasked: Escape or closing a question, "Abbrechen" with
// pages scanned, ask first; a failure after the first page keeps the pages before it and asks
// whether to scan that page again or copy those; a failure among the backs keeps the fronts.
// A failure with nothing to keep throws DispatchError, naming the page.

// The folder where the pages of several originals wait ("Kopyra-Vorlagen" beside the page
// file). Pages left there by a Kopyra that ended during such a copy are found at its next
// start.
class WaitingPages {
public:
    explicit WaitingPages(const QString& pageFile);
    QString folder() const { return m_folder; }
    QString file(const QString& name) const;
    // Makes the folder (the user's alone); throws DispatchError when it cannot.
    void make() const;
    // The pages waiting: a glass page a file, or the fronts and what there is of the backs.
    int left() const;
    // Puts the pages waiting into the page file, in order (fronts without their backs when
    // the backs are not all in) and empties the folder; false when there are none.
    bool joinLeft(const QString& pageFile, QWidget* parent) const;
    void clear() const;
    // Bytes free where the pages wait (-1: not known), and what the next page needs with the
    // pages scanned so far (each page's pixels, the page file they are joined into included).
    qint64 room() const;
    static qint64 roomNeeded(const QList<QString>& scanned);

private:
    QStringList glassPages() const;
    QString m_folder;
};

// Pages left waiting by a Kopyra that ended during such a copy (a crash, a kill, the power):
// offered to be copied (then joined into the page file) or thrown away. Kept when the
// question is closed, to be offered again.
enum class LeftPages { None, Copied, Kept };
LeftPages offerWaitingPages(const QString& pageFile, QWidget* parent);

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
