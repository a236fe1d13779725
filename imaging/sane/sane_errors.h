#pragma once

#include "imaging/dispatch_error.h"

#include <sane/sane.h>

namespace imaging::sane {

// Error numbers of the scan control: 9150 + the SANE status.
constexpr std::int32_t StatusErrorBase = 9150;

// The user's words for a SANE status: what happened and what to do.
QString statusText(SANE_Status status);

// One error for a failed SANE call: German description, number, the scan control as source.
DispatchError statusError(SANE_Status status, const QString& what = QString());

QString scanControlSource();

} // namespace imaging::sane
