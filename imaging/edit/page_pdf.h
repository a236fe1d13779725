#pragma once

#include "imaging/edit/print_job.h"
#include "imaging/edit/sheet_layout.h"

#include <QString>

#include <atomic>
#include <functional>

namespace imaging {

// Lays the page out on the paper and writes it as PDF: at true size each pixel gets the
// physical size the page file records (times the zoom), the page's top-left corner on the
// paper's top-left corner; fitted, it fills the printable area, centred, proportions kept. The page
// is read band by band, never whole, and the file grows as the bands come: grown is told its size
// each time a part of it is on disk. Throws DispatchError; stops early with PrintAbandoned
// once *abandon becomes true.
// postScriptWhenKnown, when given, says (waiting if need be) whether the file is to be
// PostScript instead of job.postScript; the bands are begun before it is asked.
void writePagePdf(const PrintJob& job, const QString& pdfPath,
                  const std::atomic_bool* abandon = nullptr,
                  const std::function<void(qint64)>& grown = {},
                  const std::function<bool()>& postScriptWhenKnown = {});

} // namespace imaging
