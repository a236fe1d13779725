#include "dispatch/dispatch_control.h"

namespace imaging {

DispatchControl::~DispatchControl() = default;

QWidget* DispatchControl::createView(QWidget*) { return nullptr; }

void DispatchControl::unknownMember(AccessKind kind, std::int32_t member) const
{
    fail(ErrorNumber::MemberNotFound,
         QStringLiteral("Das Steuerelement %1 kennt kein Element %2 zum %3.")
             .arg(progId())
             .arg(member)
             .arg(accessKindName(kind)));
}

void DispatchControl::fail(std::int32_t number, const QString& description) const
{
    throw DispatchError(number, description, progId());
}

void DispatchControl::requireArgCount(std::int32_t member, const QList<Variant>& args, int min,
                                      int max) const
{
    const auto n = args.size();
    if (n < min || n > max) {
        const QString expected =
            min == max ? QString::number(min) : QStringLiteral("%1 bis %2").arg(min).arg(max);
        fail(ErrorNumber::BadParamCount,
             QStringLiteral("Element %1 erwartet %2 Argumente, erhalten hat es %3.")
                 .arg(member)
                 .arg(expected)
                 .arg(n));
    }
}

std::int32_t DispatchControl::intArg(std::int32_t member, const Variant& v) const
{
    if (v.kind() == VarKind::Int16)
        return v.asInt16();
    if (v.kind() == VarKind::Int32)
        return v.asInt32();
    wrongType(member, v, QStringLiteral("eine Ganzzahl"));
}

bool DispatchControl::boolArg(std::int32_t member, const Variant& v) const
{
    switch (v.kind()) {
    case VarKind::Bool:
        return v.asBool();
    case VarKind::Int16:
    case VarKind::Int32:
        return v.toInt32() != 0;
    default:
        wrongType(member, v, QStringLiteral("einen Wahrheitswert"));
    }
}

QString DispatchControl::textArg(std::int32_t member, const Variant& v) const
{
    if (v.kind() == VarKind::Text || (v.kind() == VarKind::TextRef && v.textPointer()))
        return v.asText();
    wrongType(member, v, QStringLiteral("einen Text"));
}

void DispatchControl::wrongType(std::int32_t member, const Variant& v, const QString& wanted) const
{
    fail(ErrorNumber::TypeMismatch,
         QStringLiteral("Typen unverträglich: Element %1 erwartet %2, erhalten hat es %3.")
             .arg(member)
             .arg(wanted, kindName(v.kind())));
}

QString accessKindName(AccessKind kind)
{
    switch (kind) {
    case AccessKind::Put:
        return QStringLiteral("Setzen");
    case AccessKind::Call:
        return QStringLiteral("Aufrufen");
    case AccessKind::Read:
        return QStringLiteral("Lesen");
    }
    return {};
}

} // namespace imaging
