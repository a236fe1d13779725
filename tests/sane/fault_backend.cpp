// A SANE backend with one small grey scanner, "fault:0", that reports the device fault it is
// told to, like the test backend's "read-return-value", but without a reader thread: the test
// backend stops its reader with an asynchronous pthread_cancel when a scan ends at once, and
// now and then that cancel lands inside malloc, the reader dies holding the heap lock and
// sane_cancel waits for it for ever. Faults reported here end every time.
// It can also be slow: "read-pause" milliseconds before each row it delivers, and
// "warm-up" milliseconds before a page's first row (a lamp warming up), "cancel-pause"
// milliseconds in each sane_cancel (-1: for ever), as backends that wait for
// their device or their reader thread there. And it can misbehave as foreign code does: crash
// in sane_read ("Crash"), or never return from it ("Hang"). Its document feeder ("source"
// "ADF") holds "sheets" pages, each a grey of its own, jams on page "jam-page" (0: never),
// and once it has said it is empty holds the stack again ("refill" pages of it, where set). Its
// sibling "fault:feeder" is the same scanner with a feeder and no glass. Its own buttons "copy" and
// "scan" are pressed by writing the button's name into the file KOPYRA_FAULT_PRESS names (read
// once, then gone); "hang" there makes the next look at a button never return. Loaded by SANE's dll
// backend through LD_LIBRARY_PATH (configuration tests/sane/fault). With "book" its glass holds
// an open book (tests/book_page.h) on the whole glass of 216 × 297 mm, instead of its square.
#include "../book_page.h"

#include <sane/sane.h>
#include <sane/saneopts.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <thread>
#include <vector>

namespace {

enum class Trick { None, Crash, Hang };

struct Fault {
    const char* name;
    SANE_Status status;
    Trick trick = Trick::None;
};
constexpr Fault faults[] = {
    {"Default", SANE_STATUS_GOOD},
    {"SANE_STATUS_JAMMED", SANE_STATUS_JAMMED},
    {"SANE_STATUS_NO_DOCS", SANE_STATUS_NO_DOCS},
    {"SANE_STATUS_COVER_OPEN", SANE_STATUS_COVER_OPEN},
    {"SANE_STATUS_IO_ERROR", SANE_STATUS_IO_ERROR},
    {"SANE_STATUS_DEVICE_BUSY", SANE_STATUS_DEVICE_BUSY},
    {"SANE_STATUS_ACCESS_DENIED", SANE_STATUS_ACCESS_DENIED},
    {"SANE_STATUS_NO_MEM", SANE_STATUS_NO_MEM},
    {"Crash", SANE_STATUS_GOOD, Trick::Crash},
    {"Hang", SANE_STATUS_GOOD, Trick::Hang},
};

[[noreturn]] void hang()
{
    for (;;)
        std::this_thread::sleep_for(std::chrono::hours(1));
}
SANE_String_Const faultNames[std::size(faults) + 1];
SANE_String_Const modes[] = {"Gray", nullptr};
SANE_String_Const sources[] = {"Flatbed", "ADF", nullptr};
SANE_String_Const feederOnly[] = {"ADF", nullptr};
const SANE_Range sheetRange{0, 50, 1};
const SANE_Range dpiRange{25, 600, 1};
const SANE_Range pauseRange{-1, 10000, 1};
const SANE_Range paperRange{0, 255, 1};
const SANE_Range depthRange{8, 16, 8};
const SANE_Range passRange{0, 1, 1};
constexpr double sideMm = 40; // the page: a square of grey

enum Option {
    Count,
    Mode,
    Resolution,
    ReadReturnValue,
    ReadPause,
    CancelPause,
    WarmUp,
    Source,
    Sheets,
    Refill,
    Paper,
    JamPage,
    Depth,
    ThreePass,
    Book,
    CopyButton,
    ScanButton,
    Options
};
SANE_Option_Descriptor descriptors[Options];

// What the options set, as each opening starts.
struct Settings {
    SANE_Word dpi = 75;
    size_t fault = 0;
    SANE_Word readPause = 0; // ms
    SANE_Word cancelPause = 0;
    SANE_Word warmUp = 0; // ms before a page's first row, as a lamp warms up
    size_t source = 0;    // 1: the feeder
    SANE_Word sheets = 5;
    SANE_Word refill = -1; // pages laid in again once the feeder was empty; -1: "sheets"
    SANE_Word paper = 0;   // a letter on paper of this grey, with a bar of text; 0: none
    SANE_Word jamPage = 0;
    SANE_Word depth = 8;
    SANE_Word threePass = 0; // 1: colour, one colour at a time, each the grey page
    SANE_Word book = 0;      // 1: an open book on the glass
    SANE_Word fed = 0;       // pages taken from the feeder's stack now in it
    SANE_Word through = 0;   // pages fed since the opening, over every stack
    SANE_Word scans = 0;     // pages scanned since the opening, the feeder's and the glass's
};
struct Scanner : Settings {
    bool jammed = false;
    std::atomic<bool> scanning{false}; // sane_cancel may come from another thread
    std::vector<SANE_Byte> page;
    size_t sent = 0;
    int frame = 0;          // of a three-pass page: the colour being sent
    bool nextFrame = false; // a three-pass page's colour ended, another follows
};
Scanner scanner;
bool opened = false;

const SANE_Device device{"0", "Kopyra", "fault scanner", "flatbed scanner"};
const SANE_Device feeder{"feeder", "Kopyra", "fault feeder", "sheetfed scanner"};
const SANE_Device* devices[] = {&device, &feeder, nullptr};

// The page's pixels across and down.
int wide()
{
    const bool book = scanner.book && scanner.source == 0;
    return static_cast<int>((book ? book_page::GlassWidthMm : sideMm) / 25.4 * scanner.dpi);
}
int high()
{
    const bool book = scanner.book && scanner.source == 0;
    return static_cast<int>((book ? book_page::GlassHeightMm : sideMm) / 25.4 * scanner.dpi);
}

// The number an integer option sets.
SANE_Word* number(SANE_Int n)
{
    switch (n) {
    case Resolution:
        return &scanner.dpi;
    case ReadPause:
        return &scanner.readPause;
    case CancelPause:
        return &scanner.cancelPause;
    case WarmUp:
        return &scanner.warmUp;
    case Sheets:
        return &scanner.sheets;
    case Refill:
        return &scanner.refill;
    case Paper:
        return &scanner.paper;
    case JamPage:
        return &scanner.jamPage;
    case Depth:
        return &scanner.depth;
    case ThreePass:
        return &scanner.threePass;
    case Book:
        return &scanner.book;
    default:
        return nullptr;
    }
}

// What a frontend reads of each option, and the values it may take.
struct Described {
    const char* name;
    const char* title;
    const char* desc;
    SANE_Value_Type type;
    SANE_Unit unit;
    const SANE_Range* range;
    const SANE_String_Const* list;
};

void describe()
{
    for (size_t i = 0; i < std::size(faults); ++i)
        faultNames[i] = faults[i].name;
    const SANE_Value_Type text = SANE_TYPE_STRING, word = SANE_TYPE_INT;
    const Described described[Options] = {
        {SANE_NAME_NUM_OPTIONS, SANE_TITLE_NUM_OPTIONS, SANE_DESC_NUM_OPTIONS, word, SANE_UNIT_NONE,
         nullptr, nullptr},
        {SANE_NAME_SCAN_MODE, SANE_TITLE_SCAN_MODE, SANE_DESC_SCAN_MODE, text, SANE_UNIT_NONE,
         nullptr, modes},
        {SANE_NAME_SCAN_RESOLUTION, SANE_TITLE_SCAN_RESOLUTION, SANE_DESC_SCAN_RESOLUTION, word,
         SANE_UNIT_DPI, &dpiRange, nullptr},
        {"read-return-value", "Read return value",
         "The status every sane_read() of a scan returns.", text, SANE_UNIT_NONE, nullptr,
         faultNames},
        {"read-pause", "Read pause", "Milliseconds before each row.", word, SANE_UNIT_NONE,
         &pauseRange, nullptr},
        {"cancel-pause", "Cancel pause", "Milliseconds each sane_cancel() takes.", word,
         SANE_UNIT_NONE, &pauseRange, nullptr},
        {"warm-up", "Warm-up", "Milliseconds before a page's first row.", word, SANE_UNIT_NONE,
         &pauseRange, nullptr},
        {SANE_NAME_SCAN_SOURCE, SANE_TITLE_SCAN_SOURCE, SANE_DESC_SCAN_SOURCE, text, SANE_UNIT_NONE,
         nullptr, sources},
        {"sheets", "Sheets", "Pages in the feeder.", word, SANE_UNIT_NONE, &sheetRange, nullptr},
        {"refill", "Refill", "Pages laid in again once the feeder was empty (-1: sheets).", word,
         SANE_UNIT_NONE, &pauseRange, nullptr},
        {"paper", "Paper",
         "A letter on paper of this grey with the grain of a real scan (0: a grey square).", word,
         SANE_UNIT_NONE, &paperRange, nullptr},
        {"jam-page", "Jam page", "The feeder jams on this page.", word, SANE_UNIT_NONE, &sheetRange,
         nullptr},
        {SANE_NAME_BIT_DEPTH, SANE_TITLE_BIT_DEPTH, SANE_DESC_BIT_DEPTH, word, SANE_UNIT_NONE,
         &depthRange, nullptr},
        {"three-pass", "Three-pass", "Colour in three frames, red, green and blue.", word,
         SANE_UNIT_NONE, &passRange, nullptr},
        {"book", "Book", "An open book on the whole glass.", word, SANE_UNIT_NONE, &passRange,
         nullptr},
        {SANE_NAME_COPY, SANE_TITLE_COPY, SANE_DESC_COPY, SANE_TYPE_BOOL, SANE_UNIT_NONE, nullptr,
         nullptr},
        {SANE_NAME_SCAN, SANE_TITLE_SCAN, SANE_DESC_SCAN, SANE_TYPE_BOOL, SANE_UNIT_NONE, nullptr,
         nullptr},
    };
    for (int n = 0; n < Options; ++n) {
        const Described& o = described[n];
        SANE_Option_Descriptor& d = descriptors[n];
        const SANE_Int size = o.type == text ? 32 : SANE_Int(sizeof(SANE_Word));
        const bool button = n == CopyButton || n == ScanButton;
        const SANE_Int cap = SANE_CAP_SOFT_DETECT | (button       ? SANE_CAP_HARD_SELECT
                                                     : n == Count ? 0
                                                                  : SANE_CAP_SOFT_SELECT);
        d = {o.name, o.title, o.desc, o.type, o.unit, size, cap, SANE_CONSTRAINT_NONE, {}};
        if (o.range) {
            d.constraint_type = SANE_CONSTRAINT_RANGE;
            d.constraint.range = o.range;
        } else if (o.list) {
            d.constraint_type = SANE_CONSTRAINT_STRING_LIST;
            d.constraint.string_list = o.list;
        }
    }
}

// Whether the button was pressed since the last look (see KOPYRA_FAULT_PRESS above).
SANE_Bool pressed(const char* button)
{
    const char* path = std::getenv("KOPYRA_FAULT_PRESS");
    std::FILE* file = path ? std::fopen(path, "r") : nullptr;
    if (!file)
        return SANE_FALSE;
    char said[16] = {};
    const bool read = std::fgets(said, sizeof said, file) != nullptr;
    std::fclose(file);
    said[std::strcspn(said, "\n")] = '\0';
    if (read && std::strcmp(said, "hang") == 0)
        hang();
    if (!read || std::strcmp(said, button) != 0)
        return SANE_FALSE;
    std::remove(path);
    return SANE_TRUE;
}

} // namespace

extern "C" {

SANE_Status sane_fault_init(SANE_Int* version, SANE_Auth_Callback)
{
    if (version)
        *version = SANE_VERSION_CODE(1, 0, 0);
    describe();
    return SANE_STATUS_GOOD;
}

void sane_fault_exit(void) {}

SANE_Status sane_fault_get_devices(const SANE_Device*** list, SANE_Bool)
{
    *list = devices;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_open(SANE_String_Const name, SANE_Handle* handle)
{
    const bool sheetfed = std::strcmp(name, feeder.name) == 0;
    if (name[0] && std::strcmp(name, device.name) != 0 && !sheetfed)
        return SANE_STATUS_INVAL;
    if (opened)
        return SANE_STATUS_DEVICE_BUSY;
    // KOPYRA_FAULT_STALE: a network scanner restarted since the process's first opening, its
    // connection from then dead; "crash": the backend crashes on it, as SANE's net backend may.
    static int openings = 0;
    if (const char* stale = std::getenv("KOPYRA_FAULT_STALE"); stale && openings++ > 0) {
        if (std::strcmp(stale, "crash") == 0)
            std::abort();
        return SANE_STATUS_IO_ERROR;
    }
    opened = true;
    static_cast<Settings&>(scanner) = Settings{};
    scanner.nextFrame = false;
    scanner.scanning = false;
    // The sheet-fed one's only source is its feeder: "ADF" stays where it is in the list.
    descriptors[Source].constraint.string_list = sheetfed ? feederOnly : sources;
    if (sheetfed)
        scanner.source = 1;
    *handle = &scanner;
    return SANE_STATUS_GOOD;
}

void sane_fault_close(SANE_Handle) { opened = false; }

const SANE_Option_Descriptor* sane_fault_get_option_descriptor(SANE_Handle, SANE_Int n)
{
    return n >= 0 && n < Options ? &descriptors[n] : nullptr;
}

SANE_Status sane_fault_control_option(SANE_Handle, SANE_Int n, SANE_Action action, void* value,
                                      SANE_Int* info)
{
    if (info)
        *info = 0;
    if (n < 0 || n >= Options || scanner.scanning)
        return SANE_STATUS_INVAL;
    SANE_Word* word = number(n);
    if (n == CopyButton || n == ScanButton) {
        if (action != SANE_ACTION_GET_VALUE)
            return SANE_STATUS_INVAL;
        *static_cast<SANE_Word*>(value) = pressed(descriptors[n].name);
        return SANE_STATUS_GOOD;
    }
    if (action == SANE_ACTION_GET_VALUE) {
        if (n == Count || word)
            *static_cast<SANE_Word*>(value) = word ? *word : Options;
        else
            std::strcpy(static_cast<char*>(value), n == Mode     ? modes[0]
                                                   : n == Source ? sources[scanner.source]
                                                                 : faults[scanner.fault].name);
        return SANE_STATUS_GOOD;
    }
    if (action != SANE_ACTION_SET_VALUE || n == Count)
        return SANE_STATUS_INVAL;
    if (word) {
        const SANE_Range* range = descriptors[n].constraint.range;
        const SANE_Word asked = *static_cast<const SANE_Word*>(value);
        *word = std::clamp(asked, range->min, range->max);
        if (info && asked != *word)
            *info = SANE_INFO_INEXACT;
        return SANE_STATUS_GOOD;
    }
    switch (n) {
    case Mode:
        return std::strcmp(static_cast<const char*>(value), modes[0]) == 0 ? SANE_STATUS_GOOD
                                                                           : SANE_STATUS_INVAL;
    case Source:
        for (size_t i = 0; sources[i]; ++i)
            if (std::strcmp(static_cast<const char*>(value), sources[i]) == 0 &&
                (descriptors[Source].constraint.string_list == sources || i == 1)) {
                scanner.source = i;
                return SANE_STATUS_GOOD;
            }
        return SANE_STATUS_INVAL;
    default:
        for (size_t i = 0; i < std::size(faults); ++i)
            if (std::strcmp(static_cast<const char*>(value), faults[i].name) == 0) {
                scanner.fault = i;
                return SANE_STATUS_GOOD;
            }
        return SANE_STATUS_INVAL;
    }
}

SANE_Status sane_fault_get_parameters(SANE_Handle, SANE_Parameters* p)
{
    const SANE_Int bytes = wide() * (scanner.depth / 8);
    if (scanner.threePass)
        *p = SANE_Parameters{static_cast<SANE_Frame>(SANE_FRAME_RED + scanner.frame),
                             scanner.frame == 2,
                             bytes,
                             wide(),
                             high(),
                             scanner.depth};
    else
        *p = SANE_Parameters{SANE_FRAME_GRAY, SANE_TRUE, bytes, wide(), high(), scanner.depth};
    return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_start(SANE_Handle)
{
    // The next colour of a three-pass page: the same page once more.
    if (scanner.nextFrame) {
        scanner.nextFrame = false;
        ++scanner.frame;
        scanner.sent = 0;
        scanner.scanning = true;
        return SANE_STATUS_GOOD;
    }
    scanner.frame = 0;
    if (scanner.source == 1) {
        if (scanner.fed >= scanner.sheets) {
            // The user lays the stack in again ("refill" pages of it).
            scanner.fed = 0;
            if (scanner.refill >= 0)
                scanner.sheets = scanner.refill;
            return SANE_STATUS_NO_DOCS;
        }
        ++scanner.fed;
        ++scanner.through;
    }
    // A jam on the page of that count since the opening, from the feeder or the glass.
    ++scanner.scans;
    scanner.jammed = scanner.scans == scanner.jamPage;
    // The glass's page is mid-grey; the feeder's are told apart by their grey, 24 levels
    // darker for each page fed since the opening (the first 232).
    const int grey = scanner.source == 1 ? 256 - 24 * std::min(scanner.through, 9) : 0x80;
    const int side = wide();
    const bool book = wide() != high();
    scanner.page.assign(static_cast<size_t>(wide()) * static_cast<size_t>(high()),
                        static_cast<SANE_Byte>(scanner.paper > 0 ? scanner.paper : grey));
    if (book) {
        // The book: its paper "paper" (else 200), the glass 15, the ink 20, all with grain.
        const int paper = scanner.paper > 0 ? scanner.paper : 200;
        for (int y = 0; y < high(); ++y)
            for (int x = 0; x < wide(); ++x) {
                const book_page::Point p =
                    book_page::at(x * 25.4 / scanner.dpi, y * 25.4 / scanner.dpi);
                const int level = p.part == book_page::Part::Glass ? 15
                                  : p.part == book_page::Part::Ink ? 20
                                                                   : paper;
                scanner.page[static_cast<size_t>(y) * static_cast<size_t>(side) +
                             static_cast<size_t>(x)] =
                    static_cast<SANE_Byte>(std::lround(level * p.light));
            }
    }
    // A letter: a bar of text (grey 20) across the middle fifth, paper all round it, every
    // pixel with the grain and noise of a real scan (a deviation of 6 levels, the same each time).
    if (scanner.paper > 0 || book) {
        for (int y = 2 * side / 5; y < 3 * side / 5 && !book; ++y)
            std::fill_n(scanner.page.begin() + y * side + side / 5, 3 * side / 5, SANE_Byte(20));
        std::mt19937 random(4711);
        std::normal_distribution<double> grain(0, 6);
        for (SANE_Byte& level : scanner.page)
            level = static_cast<SANE_Byte>(
                std::clamp(level + static_cast<int>(std::lround(grain(random))), 0, 255));
    }
    if (scanner.depth == 16) {
        // Each level in 16 bits, in the machine's own order.
        std::vector<SANE_Byte> wide(scanner.page.size() * 2);
        for (size_t i = 0; i < scanner.page.size(); ++i) {
            const auto v = static_cast<std::uint16_t>(scanner.page[i] * 257);
            std::memcpy(wide.data() + 2 * i, &v, 2);
        }
        scanner.page.swap(wide);
    }
    scanner.sent = 0;
    scanner.scanning = true;
    return SANE_STATUS_GOOD;
}

SANE_Status sane_fault_read(SANE_Handle, SANE_Byte* data, SANE_Int max, SANE_Int* length)
{
    *length = 0;
    if (!scanner.scanning)
        return SANE_STATUS_CANCELLED;
    if (faults[scanner.fault].trick == Trick::Crash)
        std::raise(SIGSEGV);
    if (faults[scanner.fault].trick == Trick::Hang)
        hang();
    if (faults[scanner.fault].status != SANE_STATUS_GOOD)
        return faults[scanner.fault].status;
    if (scanner.jammed)
        return SANE_STATUS_JAMMED;
    size_t n = std::min(static_cast<size_t>(max), scanner.page.size() - scanner.sent);
    if (scanner.warmUp > 0 && scanner.sent == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(scanner.warmUp));
    if (scanner.readPause > 0 && n > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(scanner.readPause));
        n = std::min(n, static_cast<size_t>(wide()));
    }
    if (n == 0) {
        scanner.scanning = false;
        scanner.nextFrame = scanner.threePass && scanner.frame < 2;
        return SANE_STATUS_EOF;
    }
    std::memcpy(data, scanner.page.data() + scanner.sent, n);
    scanner.sent += n;
    *length = static_cast<SANE_Int>(n);
    return SANE_STATUS_GOOD;
}

void sane_fault_cancel(SANE_Handle)
{
    scanner.scanning = false;
    scanner.nextFrame = false;
    if (scanner.cancelPause < 0)
        hang();
    std::this_thread::sleep_for(std::chrono::milliseconds(scanner.cancelPause));
}

SANE_Status sane_fault_set_io_mode(SANE_Handle, SANE_Bool nonBlocking)
{
    return nonBlocking ? SANE_STATUS_UNSUPPORTED : SANE_STATUS_GOOD;
}

SANE_Status sane_fault_get_select_fd(SANE_Handle, SANE_Int*) { return SANE_STATUS_UNSUPPORTED; }

} // extern "C"
