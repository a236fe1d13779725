#pragma once

#include "dispatch/dispatch_control.h"
#include "dispatch/members.h"
#include "imaging/scan/wire/scan_option.h"

#include <QVariantMap>

#include <memory>

class QWidget;

namespace imaging {

namespace scanner {
class Device;
} // namespace scanner

// The scan control (programmatic name "ScanLibCtl.ImgScan"), on SANE.
//
// Members: ScanMember (dispatch/members.h); event ScanCompletedEvent: the page file is
// complete.
//
// Event ScanButtonEvent: the scanner's own copy or scan button was pressed, while "Taste am
// Scanner startet eine Kopie" is on and the control idle (see ButtonWatch).
//
// Member 102 returns when the scan is over. Meanwhile a modal progress dialog with
// "Abbrechen" runs its own event loop: the window keeps painting, and SANE itself works in the
// scanner helper, a process of its own, asked from the scanner thread. A backend that crashes
// or stops answering costs one failed scan, never the program. A failed scan throws from member 102
// and leaves the old page as it was; a cancelled scan (set-up dialog or progress) is no error and
// raises no event, and the next scan opens the device afresh. The event is raised after member 102
// has returned, from the event loop, once the page file is complete.
//
// The chosen scanner, the scan preferences and each device's set-up values are kept in the
// components' own settings file.
class ImgScan : public DispatchControl {
public:
    ImgScan();
    ~ImgScan() override;

    QString progId() const override;
    void put(std::int32_t member, const Variant& value) override;
    Variant call(std::int32_t member, const QList<Variant>& args) override;
    Variant read(std::int32_t member) override;
    void expectUse() override;

    // The device that is open, if any (its SANE name).
    QString openDeviceName() const;

    // Parent of the component's dialogs; the active window when not set.
    void setDialogParent(QWidget* parent) { m_dialogParent = parent; }

    // The values remembered for a device's set-up dialog.
    static QVariantMap rememberedOptions(const QString& device);
    static void rememberOptions(const QString& device, const QVariantMap& values);

private:
    void requireValue(std::int32_t member, std::int32_t value, std::int32_t supported) const;
    void scan();
    void openChosenDevice(); // SANE thread
    void closeDevice();
    bool runSetupDialog(); // false: cancelled
    // False: cancelled. Compressed: a page that waits for others (several originals). Early:
    // from the feeder, returns once the first page is complete, the rest of the stack growing.
    bool runScanWithProgress(const QString& pageFile, bool compressed = false, bool early = false);
    // A scan is under way, or the rest of the feeder's stack.
    bool busy() const;
    void showAbilities(class ScanPreferencesDialog& dialog);
    void tellWatchFailed(const QString& why);
    QWidget* dialogParent() const;

    QString m_pageFile;
    bool m_showSetup = false;
    bool m_busy = false;
    QWidget* m_dialogParent = nullptr;
    // Used on the scanner thread only; shared so a late task there never outlives it.
    std::shared_ptr<scanner::Device> m_device;
    sane::Treatment m_treatment; // of the rows, as the preferences asked when it was opened
    std::unique_ptr<class ButtonWatch> m_watch; // the scanner's own buttons
};

} // namespace imaging
