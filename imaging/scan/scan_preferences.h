#pragma once

#include "imaging/scan/setup/scan_setup.h"

#include <QDialog>

class QCheckBox;
class QComboBox;

namespace imaging {

// "Scan-Einstellungen": the dialog of the scan preferences.
class ScanPreferencesDialog : public QDialog {
    Q_OBJECT
public:
    explicit ScanPreferencesDialog(const ScanPreferences& current, QWidget* parent = nullptr);
    ScanPreferences preferences() const;
    // What the chosen scanner cannot do is not offered, and the choice says why.
    void showAbilities(const DeviceAbilities& abilities);
    bool abilitiesShown = false; // the scanner has answered

    QComboBox* modeBox = nullptr;
    QComboBox* dpiBox = nullptr;
    QComboBox* paperBox = nullptr;
    QComboBox* toneBox = nullptr;
    QComboBox* sourceBox = nullptr;
    QComboBox* originalBox = nullptr;
    QComboBox* edgeEraseBox = nullptr;
    QCheckBox* startButtonBox = nullptr;
};

} // namespace imaging
