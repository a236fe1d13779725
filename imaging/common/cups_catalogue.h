#pragma once

#include <QString>

namespace imaging {

// CUPS's own German (its message catalogue, from cups-common) for what the print system names
// in English: the option names and choices of a printer's PPD, a printer's state messages;
// words of our own for the keywords it leaves as they are. Empty where neither has any.
QString cupsGerman(const QString& english);

// A text of CUPS's quoted in a German sentence: in German where the catalogue has it, else as
// CUPS said it, in German quotation marks, the sentence ended after it.
QString cupsQuoted(const QString& text);

} // namespace imaging
