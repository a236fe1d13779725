#pragma once

#include <QString>
#include <QVariant>
#include <QVariantMap>

#include <memory>

class SettingsFile;

namespace imaging {

// One entry of the components' settings file: where it lives, what it is without an entry,
// and for whole numbers the range a stored value must lie in.
struct Setting {
    const char* section;
    const char* key;
    QVariant defaultValue;
    int min = 0;
    int max = -1; // below min: no range
};

// Every entry of the file, with its default.
namespace Settings {
extern const Setting ScannerName;
extern const Setting ScannerVendor;
extern const Setting ScannerModel;
extern const Setting ScanMode;       // "Color", "Gray", "Lineart"
extern const Setting ScanResolution; // dots per inch
extern const Setting ScanPaper;      // "A4", "A5", "Letter", "WholeArea"
extern const Setting ScanTone;       // -2 lighter … 0 as scanned … 2 darker
// "", "Flatbed", "Feeder", "FeederDuplex", "IdCard", "FlatbedPages", "FeederBacksAfter", "Book"
extern const Setting ScanSource;
extern const Setting ScanOriginal;    // "Mixed" (also missing or unknown), "Text", "Photo"
extern const Setting ScanStartButton; // 1: the scanner's own copy button starts a copy
extern const Setting ScanEdgeErase;   // mm printed white on every side: 0, 5, 10 or 15
extern const Setting PrintPrinter;    // empty: CUPS's default
extern const Setting PrintCopies;
extern const Setting PrintSizeMode;      // 0 true size, 1 fit to page
extern const Setting PrintPageSize;      // a QPageSize id
extern const Setting PrintZoom;          // per cent, at true size
extern const Setting PrintTwoSided;      // 1: both sides of the sheet, where the printer can
extern const Setting PrintCollate;       // 1: copy after copy (1,2,3,1,2,3); 0: 1,1,2,2,3,3
extern const Setting PrintReverse;       // 1: the last page first
extern const Setting PrintPagesPerSheet; // 1, 2 or 4 originals on one sheet
} // namespace Settings

// The stored ScanSource value of an ID card's two sides: the scan writes it, the printer
// dialog reads it.
inline constexpr char IdCardSource[] = "IdCard";

// The imaging components' own settings (scanner, scan preferences, print settings, each
// device's set-up values) in a file of their own beside the program's option store, never in
// its [Kopyra] group: $XDG_CONFIG_HOME/kopyra-imaging.conf (else ~/.config/…).
//
// Values are read as they are needed and written at once. A damaged file or one that cannot
// be written never stops a copy (see SettingsFile).
class ImagingSettings {
public:
    ImagingSettings();
    ~ImagingSettings();
    ImagingSettings(const ImagingSettings&) = delete;
    ImagingSettings& operator=(const ImagingSettings&) = delete;

    static QString path();
    // At start-up: the file made sound when damaged, and told when it cannot be written.
    static void check();

    QString text(const Setting& setting) const;
    // The stored number; the default when there is none, or when it is not a number in the
    // setting's range.
    int number(const Setting& setting) const;
    void set(const Setting& setting, const QVariant& value);

    // A section of free keys: a device's set-up values.
    QVariantMap section(const QString& name) const;
    void replaceSection(const QString& name, const QVariantMap& values);

private:
    QVariant stored(const Setting& setting) const;

    std::unique_ptr<SettingsFile> m_store;
};

} // namespace imaging
