#pragma once

class QCoreApplication;

// Qt's own texts (dialog buttons, the print dialog) in German, whatever the user's locale:
// the program's own texts are German, and a box saying "Ja" next to "Cancel" would be odd.
// Returns false when Qt's German translation is not installed.
bool installGermanTranslations(QCoreApplication& app);
