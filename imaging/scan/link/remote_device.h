#pragma once

#include "imaging/scan/link/scanner_helper.h"
#include "imaging/scan/setup/scan_setup.h"
#include "imaging/scan/wire/scan_option.h"

#include <QList>
#include <QString>
#include <QVariant>

namespace imaging::scanner {

// All devices SANE can find now, their types in the user's language. Network backends may
// take many seconds. Scanner thread only, as is every member below.
QList<sane::DeviceInfo> listDevices();

// A device open in the scanner helper. Failures throw DispatchError; a helper that crashed or
// was ended takes the device with it, and the device is then no longer open.
class Device : public sane::OptionAccess {
public:
    Device() = default;
    ~Device() override;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    void open(const QString& name);
    void close();
    bool isOpen() const;
    QString name() const { return isOpen() ? m_name : QString(); }

    QList<sane::OptionInfo> options() const;
    int find(const QString& name) const override;
    sane::OptionInfo option(int index) const override;
    QVariant value(int index) const override;
    sane::SetResult setValue(int index, const QVariant& value);
    sane::SetResult press(int index); // buttons
    sane::SetResult setAutomatic(int index);
    bool setByName(const QString& name, const QVariant& value) override;
    QVariant valueByName(const QString& name) const;
    // Sets the device up for a scan, in one question (see imaging::setUp).
    sane::Treatment setUp(const ScanPreferences& preferences, const QVariantMap& remembered);

    // Scans one page into the page file; false: cancelled. The old page stays unless the new
    // one is complete.
    bool scan(const QString& pagePath, const sane::Treatment& treatment, ScanProgress& progress);

private:
    QString m_name;
    int m_generation = 0; // of the helper the device is open in
};

} // namespace imaging::scanner
