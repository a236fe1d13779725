#include "dispatch/variant.h"

#include "dispatch/dispatch_error.h"

#include <limits>

namespace imaging {

namespace {

[[noreturn]] void typeMismatch(VarKind have, const QString& wanted)
{
    throw DispatchError(ErrorNumber::TypeMismatch,
                        QStringLiteral("Typen unverträglich: %1 erwartet, %2 erhalten.")
                            .arg(wanted, kindName(have)),
                        QStringLiteral("Kopyra.Variant"));
}

} // namespace

Variant Variant::int16(std::int16_t value) { return Variant(Storage(value)); }
Variant Variant::int32(std::int32_t value) { return Variant(Storage(value)); }
Variant Variant::boolean(bool value)
{
    return Variant(Storage(BoolValue{static_cast<std::int16_t>(value ? -1 : 0)}));
}
Variant Variant::text(const QString& value) { return Variant(Storage(value)); }
Variant Variant::textRef(QString* value) { return Variant(Storage(TextRefValue{value})); }
Variant Variant::missing() { return Variant(Storage(MissingValue{})); }

VarKind Variant::kind() const
{
    switch (m_value.index()) {
    case 1:
        return VarKind::Int16;
    case 2:
        return VarKind::Int32;
    case 3:
        return VarKind::Bool;
    case 4:
        return VarKind::Text;
    case 5:
        return VarKind::TextRef;
    case 6:
        return VarKind::Missing;
    default:
        return VarKind::Empty;
    }
}

std::int16_t Variant::asInt16() const
{
    if (const auto* v = std::get_if<std::int16_t>(&m_value))
        return *v;
    typeMismatch(kind(), kindName(VarKind::Int16));
}

std::int32_t Variant::asInt32() const
{
    if (const auto* v = std::get_if<std::int32_t>(&m_value))
        return *v;
    typeMismatch(kind(), kindName(VarKind::Int32));
}

bool Variant::asBool() const
{
    if (const auto* v = std::get_if<BoolValue>(&m_value))
        return v->value != 0;
    typeMismatch(kind(), kindName(VarKind::Bool));
}

QString Variant::asText() const
{
    if (const auto* v = std::get_if<QString>(&m_value))
        return *v;
    if (const auto* r = std::get_if<TextRefValue>(&m_value); r && r->pointer)
        return *r->pointer;
    typeMismatch(kind(), kindName(VarKind::Text));
}

QString* Variant::textPointer() const
{
    if (const auto* r = std::get_if<TextRefValue>(&m_value))
        return r->pointer;
    typeMismatch(kind(), kindName(VarKind::TextRef));
}

std::int32_t Variant::toInt32() const
{
    switch (kind()) {
    case VarKind::Int16:
        return asInt16();
    case VarKind::Int32:
        return asInt32();
    case VarKind::Bool:
        return std::get<BoolValue>(m_value).value;
    case VarKind::Text:
    case VarKind::TextRef: {
        bool ok = false;
        const qlonglong n = asText().trimmed().toLongLong(&ok);
        if (!ok)
            typeMismatch(kind(), kindName(VarKind::Int32));
        if (n < std::numeric_limits<std::int32_t>::min() ||
            n > std::numeric_limits<std::int32_t>::max())
            throw DispatchError(ErrorNumber::Overflow, QStringLiteral("Überlauf."),
                                QStringLiteral("Kopyra.Variant"));
        return static_cast<std::int32_t>(n);
    }
    case VarKind::Empty:
    case VarKind::Missing:
        break;
    }
    typeMismatch(kind(), kindName(VarKind::Int32));
}

QString Variant::describe() const
{
    switch (kind()) {
    case VarKind::Empty:
        return QStringLiteral("EMPTY");
    case VarKind::Int16:
        return QStringLiteral("I2:%1").arg(asInt16());
    case VarKind::Int32:
        return QStringLiteral("I4:%1").arg(asInt32());
    case VarKind::Bool:
        return QStringLiteral("BOOL:%1").arg(std::get<BoolValue>(m_value).value);
    case VarKind::Text:
        return QStringLiteral("BSTR:") + asText();
    case VarKind::TextRef: {
        const QString* p = textPointer();
        return QStringLiteral("BYREF BSTR:") + (p ? *p : QStringLiteral("<null>"));
    }
    case VarKind::Missing:
        return QStringLiteral("MISSING");
    }
    return {};
}

bool operator==(const Variant& a, const Variant& b) { return a.m_value == b.m_value; }

QString kindName(VarKind kind)
{
    switch (kind) {
    case VarKind::Empty:
        return QStringLiteral("leer");
    case VarKind::Int16:
        return QStringLiteral("16-Bit-Ganzzahl");
    case VarKind::Int32:
        return QStringLiteral("32-Bit-Ganzzahl");
    case VarKind::Bool:
        return QStringLiteral("Wahrheitswert");
    case VarKind::Text:
        return QStringLiteral("Text");
    case VarKind::TextRef:
        return QStringLiteral("Text als Referenz");
    case VarKind::Missing:
        return QStringLiteral("ausgelassenes Argument");
    }
    return {};
}

} // namespace imaging
