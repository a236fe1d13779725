#include "dispatch/dispatch_error.h"

namespace imaging {

DispatchError::DispatchError(std::int32_t number, QString description, QString source)
    : std::runtime_error(description.toStdString())
    , m_number(number)
    , m_description(std::move(description))
    , m_source(std::move(source))
{
}

} // namespace imaging
