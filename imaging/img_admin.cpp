#include "imaging/img_admin.h"

#include <QFileInfo>

namespace imaging {

QString ImgAdmin::progId() const { return QStringLiteral("AdminLibCtl.ImgAdmin"); }

void ImgAdmin::put(std::int32_t member, const Variant& value)
{
    switch (member) {
    case 4:
        m_file = textArg(member, value);
        return;
    default:
        unknownMember(AccessKind::Put, member);
    }
}

Variant ImgAdmin::call(std::int32_t member, const QList<Variant>& args)
{
    switch (member) {
    case 114: {
        requireArgCount(member, args, 1, 1);
        if (intArg(member, args[0]) != 0)
            fail(UnsupportedValue, QStringLiteral("Element 114 kennt nur die Prüfung 0."));
        return Variant::boolean(!m_file.isEmpty() && QFileInfo(m_file).isFile());
    }
    case 104:
        requireArgCount(member, args, 1, 1);
        intArg(member, args[0]);
        fail(NotAvailable,
             QStringLiteral("Diese Ausgabe von Kopyra hat noch keine Druckereinstellungen."));
    default:
        unknownMember(AccessKind::Call, member);
    }
}

Variant ImgAdmin::read(std::int32_t member)
{
    switch (member) {
    case 4:
        return Variant::text(m_file);
    case 29:
        return Variant::int32(m_copies);
    case 28:
        return Variant::int32(m_sizeMode);
    case 16:
        return Variant::int32(m_printer);
    default:
        unknownMember(AccessKind::Read, member);
    }
}

} // namespace imaging
