#pragma once

#include <QString>

#include <cstdint>
#include <variant>

namespace imaging {

// The argument kinds of the dispatch contract. They are kept apart on purpose: a control
// may answer a 16-bit integer differently from a 32-bit one, and a text handed by reference
// is a different thing from a text handed by value.
enum class VarKind {
    Empty,   // no value (the result of a member that returns nothing)
    Int16,   // VT_I2
    Int32,   // VT_I4
    Bool,    // VT_BOOL: -1 true, 0 false
    Text,    // VT_BSTR
    TextRef, // VT_BSTR | VT_BYREF: the caller's own text
    Missing, // VT_ERROR with DISP_E_PARAMNOTFOUND: an omitted optional argument
};

class Variant {
public:
    Variant() = default;

    static Variant int16(std::int16_t value);
    static Variant int32(std::int32_t value);
    static Variant boolean(bool value);
    static Variant text(const QString& value);
    // The referenced text must outlive every use of the variant.
    static Variant textRef(QString* value);
    static Variant missing();

    VarKind kind() const;

    // Typed access; each throws DispatchError (type mismatch) on a variant of another kind.
    std::int16_t asInt16() const;
    std::int32_t asInt32() const;
    bool asBool() const;
    // The text of a Text or TextRef variant.
    QString asText() const;
    QString* textPointer() const;

    // Loose conversion as a caller reading a property would do it: integers, truth values and
    // texts holding a whole number all become a 32-bit integer. Throws on anything else.
    std::int32_t toInt32() const;

    // "I2:0", "I4:210", "BOOL:-1", "BSTR:abc", "BYREF BSTR:abc", "MISSING", "EMPTY"
    QString describe() const;

    friend bool operator==(const Variant& a, const Variant& b);
    friend bool operator!=(const Variant& a, const Variant& b) { return !(a == b); }

private:
    struct BoolValue {
        std::int16_t value;
        bool operator==(const BoolValue& o) const { return value == o.value; }
    };
    struct TextRefValue {
        QString* pointer;
        bool operator==(const TextRefValue& o) const { return pointer == o.pointer; }
    };
    struct MissingValue {
        bool operator==(const MissingValue&) const { return true; }
    };
    using Storage = std::variant<std::monostate, std::int16_t, std::int32_t, BoolValue, QString,
                                 TextRefValue, MissingValue>;
    explicit Variant(Storage s)
        : m_value(std::move(s))
    {
    }

    Storage m_value;
};

QString kindName(VarKind kind);

} // namespace imaging
