#pragma once

#include "imaging/scan/scan_option.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <sane/sane.h>

namespace imaging::sane {

// All devices SANE can find now, their types in the user's language. Network backends may
// take many seconds. SANE thread only.
QList<DeviceInfo> listDevices();

// A text of SANE's (an option's title, description or list entry, a device type; the backends
// write them in English) in the user's language, from the catalogue of sane-backends, or
// unchanged where that has none. For showing only: values go to the device as the backend
// names them.
QString translated(const QString& text);

// An open SANE device. Every member must be called on the SANE thread.
class Device {
public:
    Device() = default;
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    // Throws DispatchError when the device cannot be opened.
    void open(const QString& name);
    void close();
    bool isOpen() const { return m_handle != nullptr; }
    const QString& name() const { return m_name; }
    SANE_Handle handle() const { return m_handle; }

    QList<OptionInfo> options() const;
    // The option of that name, or -1.
    int find(const QString& name) const;
    OptionInfo option(int index) const;

    // Values: bool, int, double (fixed), QString; arrays as QVariantList.
    QVariant value(int index) const;
    SetResult setValue(int index, const QVariant& value);
    SetResult press(int index); // buttons
    SetResult setAutomatic(int index);

    // Convenience for well-known options; false when the device lacks the option or refuses.
    bool setByName(const QString& name, const QVariant& value);
    QVariant valueByName(const QString& name) const;

private:
    const SANE_Option_Descriptor* descriptor(int index) const;
    SetResult control(int index, SANE_Action action, void* data);

    SANE_Handle m_handle = nullptr;
    QString m_name;
};

} // namespace imaging::sane
