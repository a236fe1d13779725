#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <sane/sane.h>

namespace imaging::sane {

// A device as sane_get_devices reports it.
struct DeviceInfo {
    QString name;
    QString vendor;
    QString model;
    QString type;
};

// All devices SANE can find now, their types in the user's language. Network backends may
// take many seconds. SANE thread only.
QList<DeviceInfo> listDevices();

// A text of SANE's (an option's title, description or list entry, a device type; the backends
// write them in English) in the user's language, from the catalogue of sane-backends, or
// unchanged where that has none. For showing only: values go to the device as the backend
// names them.
QString translated(const QString& text);

// What the option dialog needs to know of one option, copied out of SANE's descriptor.
struct OptionInfo {
    enum class Kind { Bool, Int, Fixed, String, Button, Group };
    enum class Constraint { None, Range, WordList, StringList };

    int index = 0;
    QString name;
    QString title; // in the user's language, as is the description
    QString description;
    Kind kind = Kind::Int;
    Constraint constraint = Constraint::None;
    SANE_Unit unit = SANE_UNIT_NONE;
    int size = 0; // values in the option (arrays have more than one)
    int capabilities = 0;
    double min = 0, max = 0, quant = 0; // ranges; fixed values as doubles
    QList<double> words;                // word lists
    QStringList strings;                // string lists, as the backend names the values

    bool active() const { return SANE_OPTION_IS_ACTIVE(capabilities); }
    bool settable() const { return SANE_OPTION_IS_SETTABLE(capabilities); }
    int count() const;
};

// What setting an option told us.
struct SetResult {
    bool inexact = false;       // the device took a nearby value: read it back
    bool reloadOptions = false; // other options changed: read them all again
};

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
