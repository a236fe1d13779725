#pragma once

#include "dispatch/dispatch_control.h"
#include "dispatch/members.h"
#include "imaging/common/print_settings.h"

#include <QDateTime>
#include <QImage>
#include <QPointer>
#include <QSizeF>
#include <QTimer>

#include <memory>

namespace imaging {

class EditView;
class GrowingStack;
class PrintFeedback;
class PdfInAdvance;
struct PrintJob;

// The edit control (programmatic name "ImgeditLibCtl.ImgEdit"): shows the page and prints it.
//
// Members:
//   1   put  text       the image file the control shows
//   21  put  integer    scaling quality of the display: 0 = fast, 3 = smooth
//   349 call (w, h)     paper in millimetres assumed for a page whose file records no
//                       resolution (integers)
//   352 call (mode)     fit the shown page to the control: 0 = whole page, proportions kept
//   343 call (file, 4 × optional, truth)
//                       load the file and show it; a missing file shows an empty area, a file
//                       that exists but cannot be read is an error. Before the control's view
//                       is on screen (start-up) the call returns at once and the page shows
//                       when read; one that cannot be read then leaves the area empty, with a
//                       warning.
//   301 call            repaint now
//   351 call (copies, size mode, output, truth)
//                       print the shown page: copies 1 to 999; size mode 0 true size, 1 fit to
//                       page; output 0 the printer of the print settings, 1 a PDF file in the
//                       documents folder. The printer and paper come from the print settings the
//                       administration control keeps.
//
// Large pages: the control shows a reduced copy (at most 2400 pixels a side, made by averaging
// while the file is read strip by strip) and prints from the file band by band, so a 1200 dpi
// colour page never has to fit into memory.
class ImgEdit : public DispatchControl {
public:
    static constexpr int DisplayLimit = 2400;

    ImgEdit();
    ~ImgEdit() override;

    QString progId() const override;
    void put(std::int32_t member, const Variant& value) override;
    Variant call(std::int32_t member, const QList<Variant>& args) override;
    Variant read(std::int32_t member) override;
    QWidget* createView(QWidget* site) override;

    bool hasPage() const { return !m_page.isNull(); }
    // The reduced copy on screen; the page's own pixel size is pageSize().
    const QImage& page() const { return m_page; }
    QSize pageSize() const { return m_pageSize; }
    // Which page of the file shows (from 0), of how many; turning goes forward or back.
    int pageIndex() const { return m_pageIndex; }
    int pageCount() const { return m_pageCount; }
    void turnPage(int step);
    // Where a PDF copy went when there was no printer; empty otherwise.
    const QString& lastPdfCopy() const { return m_lastPdfCopy; }
    // What the user was last told about a copy, while it shows.
    PrintFeedback& feedback() const { return *m_feedback; }

private:
    // What the view shows, in words, for a screen reader: "Seite 2 von 3, 210 × 297 mm, Farbe".
    QString viewDescription() const;
    QWidget* dialogParent() const;
    void display(const QString& file);
    void displayWhenRead(const QString& file);
    void print(std::int32_t copies, std::int32_t sizeMode, std::int32_t output);
    void printStack(PrintJob job);
    // What the feedback adds when the copy does not fit the paper; empty when it does.
    QString cutNote(const PrintSettings& settings) const;
    // The feeder's stack shown while it is still being scanned: its pages as they come.
    void followStack();
    // Where the shown page file's pages are read: the stack's while it grows.
    QString readFrom() const;
    void warnIfCutOff(const QSizeF& pageMm);
    PrintJob printJob(std::int32_t copies, PrintSettings::SizeMode sizeMode,
                      PrintSettings::Output output) const;
    void prepareToPrint();
    void dropPreparedPrint();

    QString m_imageFile;
    QString m_shownFile;
    std::int32_t m_quality = 3;
    QSizeF m_assumedPaperMm{210, 297};
    QImage m_page;
    QSize m_pageSize;
    QString m_lastPdfCopy;
    QSizeF m_pageMm;           // of the page shown; empty when it records no resolution
    bool m_pageColour = false; // the page shown was scanned in colour
    int m_pageIndex = 0;
    int m_pageCount = 1;
    QPointer<EditView> m_view;
    PrintFeedback* m_feedback; // owned as a child
    // Pages scanned while the program runs are laid out for the printer ahead of the print;
    // a page left from before (shown at start-up) is not.
    const QDateTime m_created = QDateTime::currentDateTime();
    std::shared_ptr<PdfInAdvance> m_prepared;
    int m_displayed = 0; // pages asked for so far: a page read late shows only if still wanted
    std::shared_ptr<GrowingStack> m_stack;
    QTimer m_follow;
    bool m_printingStack = false; // the print tells what becomes of the stack
};

} // namespace imaging
