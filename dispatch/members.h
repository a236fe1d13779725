#pragma once

#include <QString>

#include <cstdint>

// The members of the three imaging controls, by number, as the program addresses them, and
// the names the controls give as the source of their errors.
namespace imaging {

// The scan control "ScanLibCtl.ImgScan".
namespace ScanMember {
enum : std::int32_t {
    PageFile = 1,        // put text: the page file every scan writes
    PageOption = 6,      // put integer: 0 = the new page replaces the file
    FileType = 9,        // put integer: 1 = TIFF
    MultiPage = 13,      // put truth: several pages into one file; only false
    Compression = 14,    // put integer: 1 = none
    ShowSetup = 16,      // put/read truth: the next scans show the device's set-up dialog first
    Scan = 102,          // call: scan the page into the page file
    FinishScan = 103,    // call: close the device after a completed scan
    ChooseScanner = 105, // call: "Scanner wählen"
    Preferences = 112,   // call: colour, resolution, paper
    WaitingPages = 113,  // call: pages a Kopyra left that ended during a copy of several
                         // originals, offered; copied, the completion event follows
};
} // namespace ScanMember

// Positions of the scan control's events. The page file is complete (no parameters):
constexpr int ScanCompletedEvent = 10;
// the scanner's own copy or scan button was pressed (no parameters):
constexpr int ScanButtonEvent = 11;

// The edit control "ImgeditLibCtl.ImgEdit".
namespace EditMember {
enum : std::int32_t {
    ImageFile = 1,       // put text: the image file the control shows
    DisplayQuality = 21, // put integer: 0 fast, 3 smooth
    Display = 343,       // call (file, 4 × optional, truth): load the file and show it
    AssumedPaper = 349,  // call (width, height): millimetres for a page without resolution
    Print = 351,         // call (copies, size mode, output, truth): print the shown page
    Fit = 352,           // call (mode): 0 = the whole page, proportions kept
    Refresh = 301,       // call: repaint now
    Hint = 360,          // call (text): something the user should know, over the page
};
} // namespace EditMember

// The administration control "AdminLibCtl.ImgAdmin".
namespace AdminMember {
enum : std::int32_t {
    TestedFile = 4,    // put text: the file member 114 tests
    Output = 16,       // read: 0 a printer, 1 a PDF file (no printer installed at all)
    SizeMode = 28,     // read: 0 true size, 1 fit to page
    Copies = 29,       // read: number of copies
    PrintDialog = 104, // call (window handle): the print dialog
    FileExists = 114,  // call (0): the file of member 4 exists as a file
};
} // namespace AdminMember

inline QString scanProgId() { return QStringLiteral("ScanLibCtl.ImgScan"); }
inline QString editProgId() { return QStringLiteral("ImgeditLibCtl.ImgEdit"); }
inline QString adminProgId() { return QStringLiteral("AdminLibCtl.ImgAdmin"); }

} // namespace imaging
