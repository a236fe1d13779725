#pragma once

#include "imaging/edit/page_pdf.h"

#include <QString>

#include <atomic>
#include <cstddef>
#include <functional>

namespace imaging {

// How the job's printer (a CUPS queue, chosen already) gets the page with the least work for
// the print system: PWG raster (job.raster) when its printer takes PWG raster and nothing else
// (a driverless printer whose queue would otherwise have Ghostscript turn the page's PDF into
// raster), at the printer's resolution; PostScript (job.postScript) for a PostScript printer
// (whose queue would otherwise turn the PDF into PostScript, decoding and encoding every image
// once more); else the PDF. Asks CUPS: not for the window's thread.
void chooseHandover(PrintJob& job);

// Writes the page file's pages as PWG raster for the target, laid out as writePagePdf lays
// them out (at true size from the paper's corner, or fitted), nearest pixel, each copy after
// the other; two-sided, every copy begins on a sheet of its own. Hands the bytes to out as they
// come. Throws DispatchError; PrintAbandoned once *abandon becomes true.
void writePageRaster(const PrintJob& job, const std::function<void(const char*, std::size_t)>& out,
                     const std::atomic_bool* abandon = nullptr);

} // namespace imaging
