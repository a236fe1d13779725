#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// What the scan side knows of devices and their options, in its own words: the SANE types
// stay inside sane/.
namespace imaging::sane {

// A device as sane_get_devices reports it.
struct DeviceInfo {
    QString name;
    QString vendor;
    QString model;
    QString type;
};

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
    enum class Unit { None, Pixel, Bit, Mm, Dpi, Percent, Microsecond };
    Unit unit = Unit::None;
    int size = 0; // values in the option (arrays have more than one)
    bool active = true;
    bool settable = true;
    double min = 0, max = 0, quant = 0; // ranges; fixed values as doubles
    QList<double> words;                // word lists
    QStringList strings;                // string lists, as the backend names the values

    int count() const;
};

// What setting an option told us.
struct SetResult {
    bool inexact = false;       // the device took a nearby value: read it back
    bool reloadOptions = false; // other options changed: read them all again
};

} // namespace imaging::sane
