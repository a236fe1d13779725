#pragma once

#include "imaging/dispatch_control.h"

#include <QVariantMap>

#include <memory>

class QWidget;

namespace imaging {

namespace sane {
class Device;
struct ScanProgress;
} // namespace sane

// The scan control (programmatic name "ScanLibCtl.ImgScan"), on SANE.
//
// Members:
//   1   put  text       the page file every scan writes
//   6   put  integer    page option: 0 = the new page replaces the file
//   9   put  integer    file type: 1 = TIFF
//   13  put  truth      several pages into one file: only false (one page per file)
//   14  put  integer    compression: 1 = none
//   16  put  truth      true: the next scans show the device's own set-up dialog first
//   102 call            scan one page into the page file
//   103 call            finish a completed scan: the device is closed, so other programs
//                       can use the scanner
//   105 call            "Scanner wählen": the dialog for choosing the scanner
//   112 call            "Scan-Einstellungen": colour, resolution, paper
// Event 10 (no parameters): the page file is complete.
//
// Member 102 returns when the scan is over. Meanwhile a modal progress dialog with
// "Abbrechen" runs its own event loop: the window keeps painting, and all SANE work happens
// on the SANE thread. A failed scan throws from member 102 and leaves the old page as it was;
// a cancelled scan (set-up dialog or progress) is no error and raises no event. The event is
// raised after member 102 has returned, from the event loop, once the page file is complete.
//
// The chosen scanner, the scan preferences and each device's set-up values are kept in the
// components' own settings file.
class ImgScan : public DispatchControl {
public:
    static constexpr int ScanCompletedEvent = 10;

    enum ErrorNumber : std::int32_t {
        UnsupportedValue = 9101,
        NoScanner = 9102,
        NoPageFile = 9103,
        Busy = 9104,
    };

    ImgScan();
    ~ImgScan() override;

    QString progId() const override;
    void put(std::int32_t member, const Variant& value) override;
    Variant call(std::int32_t member, const QList<Variant>& args) override;
    Variant read(std::int32_t member) override;

    const QString& pageFile() const { return m_pageFile; }
    bool showSetupBeforeScan() const { return m_showSetup; }
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
    bool runSetupDialog();      // false: cancelled
    bool runScanWithProgress(); // false: cancelled
    QWidget* dialogParent() const;

    QString m_pageFile;
    std::int32_t m_pageOption = 0;
    std::int32_t m_fileType = 1;
    std::int32_t m_compression = 1;
    bool m_multiPage = false;
    bool m_showSetup = false;
    bool m_busy = false;
    QWidget* m_dialogParent = nullptr;
    // Used on the SANE thread only; shared so a late SANE task never outlives it.
    std::shared_ptr<sane::Device> m_device;
    // Expires with the control; a queued completion event checks it.
    std::shared_ptr<int> m_lifetime = std::make_shared<int>(0);
};

} // namespace imaging
