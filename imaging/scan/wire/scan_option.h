#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

// What the scan side knows of devices and their options, in its own words: the SANE types
// stay inside the scanner helper.
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
    int size = 0; // bytes of the value, as SANE counts them
    bool active = true;
    bool settable = true;
    bool hardware = false; // set by the device itself (a button on it), read-only for us
    double min = 0, max = 0, quant = 0; // ranges; fixed values as doubles
    QList<double> words;                // word lists
    QStringList strings;                // string lists, as the backend names the values

    // Values in the option (arrays have more than one).
    int count() const;
};

// What setting an option told us.
struct SetResult {
    bool inexact = false;       // the device took a nearby value: read it back
    bool reloadOptions = false; // other options changed: read them all again
};

// A text of SANE's (an option's title, description or list entry, a device type; the backends
// write them in English) in the user's language, from the catalogue of sane-backends, or
// unchanged where that has none. For showing only: values go to the device as the backend
// names them.
QString translated(const QString& text);

// What the helper does to the rows on their way into the page file: lighter or darker (-2 …
// 2, 0 leaves them as they come), and line art made from grey at a level of its own (0 …
// 255; -1: the device delivers the page as it is to be kept). From a document feeder, every
// page of the stack, one page of the file each.
struct Treatment {
    int tone = 0;
    // The original type: 0 text and photo, 1 text (the paper printed white, for text crisp,
    // the tone after that: recorded with the page), 2 photo (the tone applied as scanned).
    int original = 2;
    int lineArtLevel = -1;
    bool allPages = false;
    bool compressed = false; // losslessly: a page that waits for others
    int edgeEraseMm = 0;     // printed white on every side of the page
};

// The options of an open device, wherever it is open: what the scan preferences need.
class OptionAccess {
public:
    virtual ~OptionAccess() = default;
    // The option of that name, or -1.
    virtual int find(const QString& name) const = 0;
    virtual OptionInfo option(int index) const = 0;
    // Values: bool, int, double (fixed), QString; arrays as QVariantList.
    virtual QVariant value(int index) const = 0;
    // False when the device lacks the option or refuses the value.
    virtual bool setByName(const QString& name, const QVariant& value) = 0;
};

} // namespace imaging::sane
