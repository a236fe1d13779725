#pragma once

#include <QString>

#include <cstdint>
#include <stdexcept>

namespace imaging {

// A failure as the dispatch contract reports it: a number, a description for the user, and
// the source (the name of what raised it).
class DispatchError : public std::runtime_error {
public:
    DispatchError(std::int32_t number, QString description, QString source);

    std::int32_t number() const { return m_number; }
    const QString& description() const { return m_description; }
    const QString& source() const { return m_source; }

private:
    std::int32_t m_number;
    QString m_description;
    QString m_source;
};

// Error numbers of the dispatch layer itself, the automation HRESULTs read as signed numbers.
namespace DispatchErrorNumber {
constexpr std::int32_t MemberNotFound =
    static_cast<std::int32_t>(0x80020003u); // DISP_E_MEMBERNOTFOUND
constexpr std::int32_t TypeMismatch = static_cast<std::int32_t>(0x80020005u); // DISP_E_TYPEMISMATCH
constexpr std::int32_t BadParamCount =
    static_cast<std::int32_t>(0x8002000Eu);                               // DISP_E_BADPARAMCOUNT
constexpr std::int32_t Overflow = static_cast<std::int32_t>(0x8002000Au); // DISP_E_OVERFLOW
} // namespace DispatchErrorNumber

} // namespace imaging
