#pragma once

#include "imaging/scan/wire/scan_option.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <sane/sane.h>

namespace imaging::sane {

// All devices SANE can find now. Network backends may take many seconds. Texts are SANE's
// own; Kopyra puts them into the user's language.
QList<DeviceInfo> listDevices();

// An open SANE device, in the scanner helper.
class Device : public OptionAccess {
public:
    Device() = default;
    ~Device() override;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Throws DispatchError when the device cannot be opened.
    void open(const QString& name);
    void close();
    bool isOpen() const { return m_handle != nullptr; }
    const QString& name() const { return m_name; }
    SANE_Handle handle() const { return m_handle; }

    QList<OptionInfo> options() const;
    int find(const QString& name) const override;
    OptionInfo option(int index) const override;
    QVariant value(int index) const override;
    SetResult setValue(int index, const QVariant& value);
    SetResult press(int index); // buttons
    SetResult setAutomatic(int index);

    bool setByName(const QString& name, const QVariant& value) override;
    QVariant valueByName(const QString& name) const;

private:
    const SANE_Option_Descriptor* descriptor(int index) const;
    SetResult control(int index, SANE_Action action, void* data);

    SANE_Handle m_handle = nullptr;
    QString m_name;
};

} // namespace imaging::sane
