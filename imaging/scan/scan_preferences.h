#pragma once

#include "imaging/scan/setup/scan_setup.h"

#include <QDialog>

class QComboBox;

namespace imaging {

// "Scan-Einstellungen": the dialog of the scan preferences.
class ScanPreferencesDialog : public QDialog {
    Q_OBJECT
public:
    explicit ScanPreferencesDialog(const ScanPreferences& current, QWidget* parent = nullptr);
    ScanPreferences preferences() const;

    QComboBox* modeBox = nullptr;
    QComboBox* dpiBox = nullptr;
    QComboBox* paperBox = nullptr;
    QComboBox* toneBox = nullptr;
    QComboBox* sourceBox = nullptr;
};

} // namespace imaging
