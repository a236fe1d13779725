#pragma once

#include "dispatch/error_numbers.h"

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

// What the system said (an errno value), in the user's words: what happened and, where it
// helps, what to do.
QString systemErrorText(int errnum);

} // namespace imaging
