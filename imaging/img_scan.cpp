#include "imaging/img_scan.h"

namespace imaging {

QString ImgScan::progId() const { return QStringLiteral("ScanLibCtl.ImgScan"); }

void ImgScan::requireValue(std::int32_t member, std::int32_t value, std::int32_t supported) const
{
    if (value != supported)
        fail(UnsupportedValue, QStringLiteral("Der Wert %1 für Element %2 wird nicht unterstützt "
                                              "(möglich ist nur %3).")
                                   .arg(value)
                                   .arg(member)
                                   .arg(supported));
}

void ImgScan::put(std::int32_t member, const Variant& value)
{
    switch (member) {
    case 1:
        m_pageFile = textArg(member, value);
        return;
    case 6:
        m_pageOption = intArg(member, value);
        requireValue(member, m_pageOption, 0);
        return;
    case 9:
        m_fileType = intArg(member, value);
        requireValue(member, m_fileType, 1);
        return;
    case 13:
        m_multiPage = boolArg(member, value);
        requireValue(member, m_multiPage ? -1 : 0, 0);
        return;
    case 14:
        m_compression = intArg(member, value);
        requireValue(member, m_compression, 1);
        return;
    case 16:
        m_showSetup = boolArg(member, value);
        return;
    default:
        unknownMember(AccessKind::Put, member);
    }
}

Variant ImgScan::call(std::int32_t member, const QList<Variant>& args)
{
    switch (member) {
    case 102:
    case 105:
    case 112:
        requireArgCount(member, args, 0, 0);
        fail(NotAvailable,
             QStringLiteral("Diese Ausgabe von Kopyra kann noch nicht auf Scanner zugreifen."));
    case 103:
        requireArgCount(member, args, 0, 0);
        return {};
    default:
        unknownMember(AccessKind::Call, member);
    }
}

Variant ImgScan::read(std::int32_t member)
{
    switch (member) {
    case 1:
        return Variant::text(m_pageFile);
    case 16:
        return Variant::boolean(m_showSetup);
    default:
        unknownMember(AccessKind::Read, member);
    }
}

} // namespace imaging
