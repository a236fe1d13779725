#pragma once

class QDialog;

namespace imaging {

// While the print dialog is open, the printer properties it opens show the printer's options
// and their choices in German where CUPS has the words.
void showOptionsInGerman(QDialog& printDialog);

} // namespace imaging
