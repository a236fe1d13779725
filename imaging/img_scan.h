#pragma once

#include "imaging/dispatch_control.h"

namespace imaging {

// The scan control (programmatic name "ScanLibCtl.ImgScan").
//
// Members:
//   1   put  text       the page file every scan writes
//   6   put  integer    page option: 0 = the new page replaces the file
//   9   put  integer    file type: 1 = TIFF
//   13  put  truth      several pages into one file: only false (one page per file)
//   14  put  integer    compression: 1 = lossless
//   16  put  truth      true: the next scan shows the device's own set-up dialog first
//   102 call            scan one page into the page file
//   103 call            finish a completed scan
//   105 call            dialog for choosing the scanner
//   112 call            dialog of the scan preferences
// Event 10 (no parameters): the scan started by member 102 has written the page file.
//
// This build carries no scanner access yet: members 102, 105 and 112 report that clearly.
class ImgScan : public DispatchControl {
public:
    static constexpr int ScanCompletedEvent = 10;

    enum ErrorNumber : std::int32_t {
        NotAvailable = 9100,
        UnsupportedValue = 9101,
    };

    QString progId() const override;
    void put(std::int32_t member, const Variant& value) override;
    Variant call(std::int32_t member, const QList<Variant>& args) override;
    Variant read(std::int32_t member) override;

    const QString& pageFile() const { return m_pageFile; }
    bool showSetupBeforeScan() const { return m_showSetup; }

private:
    void requireValue(std::int32_t member, std::int32_t value, std::int32_t supported) const;

    QString m_pageFile;
    std::int32_t m_pageOption = 0;
    std::int32_t m_fileType = 1;
    std::int32_t m_compression = 1;
    bool m_multiPage = false;
    bool m_showSetup = false;
};

} // namespace imaging
