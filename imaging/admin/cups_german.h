#pragma once

#include <QString>

class QDialog;

namespace imaging {

// CUPS's own German (its message catalogue, from cups-common) for what the print system names
// in English: the option names and choices of a printer's PPD; words of our own for the
// keywords it leaves as they are. Empty where neither has any.
QString cupsGerman(const QString& english);

// While the print dialog is open, the printer properties it opens show the printer's options
// and their choices in German where CUPS has the words.
void showOptionsInGerman(QDialog& printDialog);

} // namespace imaging
