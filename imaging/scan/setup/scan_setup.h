#pragma once

#include "imaging/scan/wire/scan_option.h"

#include <QDataStream>
#include <QSizeF>
#include <QStringList>
#include <QVariantMap>

namespace imaging {

// The scan preferences every scan uses: colour, grey or line art, resolution, paper. The
// scanner helper sets them on the device, where it is open.
struct ScanPreferences {
    enum class Mode { Color, Gray, Lineart };
    enum class Paper { A4, A5, Letter, WholeArea };
    // Where the originals lie: as the device (or its set-up dialog) has it, on the glass (one
    // page), in the document feeder (every page), both sides of every page; an ID card on the
    // glass, its front and then its back, at the glass's corner; several originals laid on the
    // glass one after the other; the feeder's stack, then the same stack turned over for the
    // backs; an open book on the whole glass, made its two pages.
    // What the original is: text and photo (the paper printed white), text (and the text
    // made crisp), photo (as the scanner saw it).
    enum class Original { Mixed, Text, Photo };
    enum class Source {
        Device,
        Flatbed,
        Feeder,
        FeederDuplex,
        IdCard,
        FlatbedPages,
        FeederBacksAfter,
        Book
    };

    Mode mode = Mode::Color;
    int dpi = 300;
    Paper paper = Paper::A4;
    // Lighter or darker, as on a copier: -2 "Heller" … 0 as scanned … 2 "Dunkler".
    int tone = 0;
    Source source = Source::Device;
    Original original = Original::Mixed;
    // The scanner's own "copy" or "scan" button starts a copy; the device stays open for it.
    bool startButton = false;
    // Millimetres on every side printed white (the lid's shadow, punched holes, staples): 0
    // (off), 5, 10 or 15.
    int edgeErase = 0;

    // The user's, from the settings file (the scan control's; not in the scanner helper).
    static ScanPreferences load();
    void save() const;

    // Paper size in millimetres; empty for the whole scan area.
    static QSizeF paperMm(Paper paper);
    // The area scanned from the glass's top-left corner, in millimetres; empty for the whole.
    QSizeF areaMm() const;

    // Sets mode, depth, resolution, scan area and, for line art, the threshold on the open
    // device as far as it has them, and says what is left to do to the rows.
    sane::Treatment applyTo(sane::OptionAccess& device) const;
    // Whether the device's source, as set now, is a document feeder: then every page of the
    // stack is scanned.
    static bool feedsPages(sane::OptionAccess& device);
};

// What an open device can do, as far as the choices of the scan preferences depend on it.
struct DeviceAbilities {
    bool glass = true;        // a glass to lay an original on (a device without a choice of source)
    bool feeder = false;      // a document feeder
    QStringList startButtons; // the device's own buttons that start a copy ("copy", "scan")

    static DeviceAbilities of(sane::OptionAccess& device);
};

// Sets the open device up for a scan: the preferences first, then the set-up values
// remembered for it, without those the preferences decide. Says what is left to do to the
// rows. In the scanner helper, where the device is: one question instead of twenty.
sane::Treatment setUp(sane::OptionAccess& device, const ScanPreferences& preferences,
                      QVariantMap remembered);

// On the wire to the scanner helper.
QDataStream& operator<<(QDataStream& out, const ScanPreferences& p);
QDataStream& operator>>(QDataStream& in, ScanPreferences& p);

} // namespace imaging
