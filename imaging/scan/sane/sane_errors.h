#pragma once

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"

#include <sane/sane.h>

namespace imaging::sane {

// The user's words for a SANE status: what happened and what to do.
QString statusText(SANE_Status status);

// One error for a failed SANE call: German description, number, the scan control as source.
DispatchError statusError(SANE_Status status, const QString& what = QString());

} // namespace imaging::sane
