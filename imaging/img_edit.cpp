#include "imaging/img_edit.h"

#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QWidget>

namespace imaging {

// Paints the page fitted into the control, from a copy scaled once per size change.
class EditView : public QWidget {
public:
    explicit EditView(QWidget* parent)
        : QWidget(parent)
    {
    }

    void setPage(const QImage& page, bool smooth)
    {
        m_page = page;
        m_smooth = smooth;
        m_scaled = QPixmap();
        update();
    }

    void fit()
    {
        m_scaled = QPixmap();
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (m_page.isNull() || width() <= 0 || height() <= 0)
            return;
        if (m_scaled.isNull() || m_scaledFor != size()) {
            m_scaled = QPixmap::fromImage(
                m_page.scaled(size(), Qt::KeepAspectRatio,
                              m_smooth ? Qt::SmoothTransformation : Qt::FastTransformation));
            m_scaledFor = size();
        }
        QPainter p(this);
        p.drawPixmap((width() - m_scaled.width()) / 2, (height() - m_scaled.height()) / 2,
                     m_scaled);
    }

private:
    QImage m_page;
    QPixmap m_scaled;
    QSize m_scaledFor;
    bool m_smooth = true;
};

ImgEdit::ImgEdit() = default;
ImgEdit::~ImgEdit() = default;

QString ImgEdit::progId() const { return QStringLiteral("ImgeditLibCtl.ImgEdit"); }

QWidget* ImgEdit::createView(QWidget* site)
{
    m_view = new EditView(site);
    m_view->setPage(m_page, m_quality != 0);
    return m_view;
}

void ImgEdit::put(std::int32_t member, const Variant& value)
{
    switch (member) {
    case 1:
        m_imageFile = textArg(member, value);
        return;
    case 21: {
        const std::int32_t quality = intArg(member, value);
        if (quality != 0 && quality != 3)
            fail(UnsupportedValue,
                 QStringLiteral("Die Darstellungsqualität %1 gibt es nicht (0 oder 3).")
                     .arg(quality));
        m_quality = quality;
        return;
    }
    default:
        unknownMember(AccessKind::Put, member);
    }
}

Variant ImgEdit::call(std::int32_t member, const QList<Variant>& args)
{
    switch (member) {
    case 349: {
        requireArgCount(member, args, 2, 2);
        const std::int32_t w = intArg(member, args[0]);
        const std::int32_t h = intArg(member, args[1]);
        if (w <= 0 || h <= 0)
            fail(
                UnsupportedValue,
                QStringLiteral("Ein Papierformat von %1 × %2 mm ist nicht möglich.").arg(w).arg(h));
        m_assumedPaperMm = QSizeF(w, h);
        return {};
    }
    case 352: {
        requireArgCount(member, args, 1, 1);
        const std::int32_t mode = intArg(member, args[0]);
        if (mode != 0)
            fail(UnsupportedValue,
                 QStringLiteral("Die Einpassung %1 gibt es nicht (nur 0).").arg(mode));
        if (m_view)
            m_view->fit();
        return {};
    }
    case 343: {
        requireArgCount(member, args, 1, 6);
        const QString file = textArg(member, args[0]);
        for (int i = 1; i < args.size() && i < 5; ++i)
            if (!isMissing(args[i]))
                intArg(member, args[i]);
        if (args.size() == 6)
            boolArg(member, args[5]);
        display(file);
        return {};
    }
    case 301:
        requireArgCount(member, args, 0, 0);
        if (m_view)
            m_view->repaint();
        return {};
    case 351:
        requireArgCount(member, args, 4, 4);
        fail(NotAvailable, QStringLiteral("Diese Ausgabe von Kopyra kann noch nicht drucken."));
    default:
        unknownMember(AccessKind::Call, member);
    }
}

Variant ImgEdit::read(std::int32_t member)
{
    switch (member) {
    case 1:
        return Variant::text(m_imageFile);
    case 21:
        return Variant::int32(m_quality);
    default:
        unknownMember(AccessKind::Read, member);
    }
}

void ImgEdit::display(const QString& file)
{
    const QFileInfo info(file);
    if (!info.exists()) {
        // Before the first copy there is no page yet: show an empty area.
        m_page = QImage();
    } else {
        QImageReader reader(file);
        QImage page = info.isFile() ? reader.read() : QImage();
        if (page.isNull()) {
            m_page = QImage();
            if (m_view)
                m_view->setPage(m_page, m_quality != 0);
            fail(PageUnreadable, QStringLiteral("Die Seite „%1“ kann nicht angezeigt werden: %2")
                                     .arg(file, info.isFile() ? reader.errorString()
                                                              : QStringLiteral("keine Datei")));
        }
        m_page = std::move(page);
    }
    if (m_view)
        m_view->setPage(m_page, m_quality != 0);
}

} // namespace imaging
