#pragma once

#include "imaging/dispatch_control.h"

#include <QImage>
#include <QPointer>
#include <QSizeF>

namespace imaging {

class EditView;

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
//                       that exists but cannot be read is an error
//   301 call            repaint now
//   351 call (a, b, c, truth)  print the shown page
//
// This build shows pages but does not print yet: member 351 reports that clearly.
class ImgEdit : public DispatchControl {
public:
    enum ErrorNumber : std::int32_t {
        NotAvailable = 9200,
        UnsupportedValue = 9201,
        PageUnreadable = 9202,
    };

    ImgEdit();
    ~ImgEdit() override;

    QString progId() const override;
    void put(std::int32_t member, const Variant& value) override;
    Variant call(std::int32_t member, const QList<Variant>& args) override;
    Variant read(std::int32_t member) override;
    QWidget* createView(QWidget* site) override;

    bool hasPage() const { return !m_page.isNull(); }
    const QImage& page() const { return m_page; }

private:
    void display(const QString& file);

    QString m_imageFile;
    std::int32_t m_quality = 3;
    QSizeF m_assumedPaperMm{210, 297};
    QImage m_page;
    QPointer<EditView> m_view;
};

} // namespace imaging
