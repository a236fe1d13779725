#include "imaging/scan/sane/scan_job.h"

#include "imaging/page_file/page_writer.h"
#include "imaging/page_file/paper_white.h"
#include "imaging/scan/sane/sane_device.h"
#include "imaging/scan/sane/sane_errors.h"
#include "imaging/scan/wire/scan_option.h"

#include <QLoggingCategory>

#include <sane/saneopts.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <vector>

Q_LOGGING_CATEGORY(lcScan, "kopyra.scan")

namespace imaging::sane {

namespace {

double optionDpi(const Device& device, const char* name)
{
    const QVariant v = device.valueByName(QString::fromLatin1(name));
    return v.isValid() ? v.toDouble() : 0.0;
}

double areaMm(const Device& device, const char* from, const char* to)
{
    const int a = device.find(QString::fromLatin1(from));
    const int b = device.find(QString::fromLatin1(to));
    if (a < 0 || b < 0 || device.option(a).unit != OptionInfo::Unit::Mm)
        return 0;
    return device.value(b).toDouble() - device.value(a).toDouble();
}

// Cancels the device's scan however the job ends, so the device is free again; after a
// cancel from another thread has finished.
struct CancelOnExit {
    SANE_Handle handle;
    ScanProgress& progress;
    ~CancelOnExit()
    {
        const std::lock_guard<std::mutex> turn(progress.cancelTurn);
        sane_cancel(handle);
        progress.ended = true;
    }
};

// Lighter or darker, as on a copier: a curve that keeps the paper white and black black, each
// step a factor of √2 in its exponent; the middle step leaves every value as it is.
class ToneCurve {
public:
    ToneCurve(int tone, int depth)
    {
        if (tone == 0 || (depth != 8 && depth != 16))
            return;
        const double gamma = std::pow(2.0, tone / 2.0);
        const int top = depth == 8 ? 255 : 65535;
        m_table.resize(static_cast<size_t>(top) + 1);
        for (int v = 0; v <= top; ++v)
            m_table[static_cast<size_t>(v)] =
                static_cast<std::uint16_t>(std::lround(top * std::pow(double(v) / top, gamma)));
        m_depth = depth;
    }

    void apply(std::uint8_t* row, size_t bytes) const
    {
        if (m_depth == 8) {
            for (size_t i = 0; i < bytes; ++i)
                row[i] = static_cast<std::uint8_t>(m_table[row[i]]);
        } else if (m_depth == 16) {
            // SANE delivers 16-bit samples in the machine's own order.
            for (size_t i = 0; i + 1 < bytes; i += 2) {
                std::uint16_t v;
                std::memcpy(&v, row + i, 2);
                v = m_table[v];
                std::memcpy(row + i, &v, 2);
            }
        }
    }

private:
    std::vector<std::uint16_t> m_table;
    int m_depth = 0;
};

// A row of 16-bit samples (the machine's own order) in their upper eight bits, rounded as a
// page reader hands them.
void narrowRow(const std::uint8_t* row, std::vector<std::uint8_t>& narrow)
{
    for (size_t i = 0; i < narrow.size(); ++i) {
        std::uint16_t v;
        std::memcpy(&v, row + 2 * i, 2);
        narrow[i] = static_cast<std::uint8_t>((v * 255u + 32767u) / 65535u);
    }
}

// "Rand löschen": a border of the page printed white (the lid's shadow, punched holes,
// staples), for rows as SANE delivers them: 8 or 16 bits a sample, or line art with a set bit
// for black. The bottom is known only where the height is.
struct Edges {
    int x, y; // pixels on each side, rows at the top and the bottom
    int height, width, depth, samples;
    void erase(std::uint8_t* row, int at) const
    {
        if (x <= 0 && y <= 0)
            return;
        const bool whole = at < y || (height > 0 && at >= height - y);
        const auto white = [&](int from, int to) { // pixels [from, to)
            from = std::clamp(from, 0, width);
            to = std::clamp(to, 0, width);
            if (depth == 1) {
                for (int p = from; p < to; ++p)
                    row[p >> 3] = static_cast<std::uint8_t>(row[p >> 3] & ~(0x80 >> (p & 7)));
                return;
            }
            const size_t bytes = static_cast<size_t>(samples * depth / 8);
            std::fill(row + from * bytes, row + to * bytes, std::uint8_t(0xff));
        };
        if (whole) {
            white(0, width);
            return;
        }
        white(0, x);
        white(width - x, width);
    }
};

// Line art made from a grey row: a set bit for black, as SANE's own line art has it.
void makeLineArt(const std::uint8_t* grey, int width, int level, std::uint8_t* bits)
{
    std::fill_n(bits, (width + 7) / 8, std::uint8_t(0));
    for (int x = 0; x < width; ++x)
        if (grey[x] < level)
            bits[x >> 3] = static_cast<std::uint8_t>(bits[x >> 3] | (0x80 >> (x & 7)));
}

} // namespace

void cancelScan(ScanProgress& progress, SANE_Handle handle)
{
    const std::lock_guard<std::mutex> turn(progress.cancelTurn);
    if (!progress.ended && handle)
        sane_cancel(handle);
}

double deliveredDpi(double reportedDpi, double area, int pixels)
{
    if (area <= 0 || pixels <= 0)
        return reportedDpi;
    const double measured = pixels / (area / 25.4);
    if (reportedDpi <= 0)
        return measured;
    // Pixel counts are whole numbers and areas are quantised: a few per cent is rounding.
    if (std::abs(measured - reportedDpi) / reportedDpi <= 0.03)
        return reportedDpi;
    qCWarning(lcScan, "device reports %.1f dpi but delivers %.1f dpi; using the latter",
              reportedDpi, measured);
    return measured;
}

namespace {

enum class PageEnd { Scanned, Cancelled, Empty };

// What the resolution options said, read before the scan began.
struct Geometry {
    double setX = 0, setY = 0;
    double areaX = 0, areaY = 0;
};

// One page, all its frames, as a page of the writer's file.
PageEnd scanOnePage(SANE_Handle h, PageWriter& writer, const Treatment& treatment,
                    ScanProgress& progress, const std::function<void()>& onData,
                    const Geometry& geometry)
{
    const auto [setX, setY, areaX, areaY] = geometry;
    bool begun = false;
    int framesSeen = 0;
    int planesSeen = 0; // bit n: colour plane n delivered
    bool separatePlanes = false;
    bool lineArt = false; // made here from grey
    // Text, or text and photo: the paper's level is found as the rows go by and recorded with
    // the page, whose readers print it white, lighter or darker after that. One sampler for a
    // page of one pass, one for each colour of a three-pass scan; 16-bit rows by their upper
    // eight bits, as they are read back.
    std::array<std::optional<PaperSampler>, 3> samplers;
    // The edges printed white: pixels on each side, rows at the top and the bottom.
    int eraseX = 0, eraseY = 0;

    for (;;) {
        if (progress.cancelled)
            return PageEnd::Cancelled;
        SANE_Status status = sane_start(h);
        if (status == SANE_STATUS_CANCELLED || progress.cancelled)
            return PageEnd::Cancelled;
        // The feeder is empty: the end of the stack, once it gave a page.
        if (status == SANE_STATUS_NO_DOCS && !begun && treatment.allPages && writer.pages() > 0)
            return PageEnd::Empty;
        if (status != SANE_STATUS_GOOD)
            throw statusError(status);
        SANE_Int dataFd = -1;
        progress.dataFd = sane_get_select_fd(h, &dataFd) == SANE_STATUS_GOOD ? dataFd : -1;

        SANE_Parameters p{};
        status = sane_get_parameters(h, &p);
        if (status != SANE_STATUS_GOOD)
            throw statusError(status);

        const bool separate = p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN ||
                              p.format == SANE_FRAME_BLUE;
        if (p.format != SANE_FRAME_GRAY && p.format != SANE_FRAME_RGB && !separate)
            throw DispatchError(
                ErrorNumber::SaneStatusBase + SANE_STATUS_UNSUPPORTED,
                QStringLiteral("Der Scanner liefert ein Bildformat (%1), das Kopyra nicht "
                               "kennt.")
                    .arg(static_cast<int>(p.format)),
                scanProgId());
        if (p.depth != 1 && p.depth != 8 && p.depth != 16)
            throw statusError(SANE_STATUS_UNSUPPORTED,
                              QStringLiteral("Farbtiefe %1 Bit").arg(p.depth));
        if (separate && p.lines < 0)
            throw statusError(SANE_STATUS_UNSUPPORTED,
                              QStringLiteral("Dreifach-Scan ohne bekannte Höhe"));

        if (!begun) {
            lineArt = treatment.lineArtLevel >= 0 && p.format == SANE_FRAME_GRAY && p.depth == 8;
            PageFormat f;
            f.width = p.pixels_per_line;
            f.height = p.lines;
            f.samplesPerPixel = p.format == SANE_FRAME_GRAY ? 1 : 3;
            f.bitsPerSample = lineArt ? 1 : p.depth;
            f.separatePlanes = separatePlanes = separate;
            f.xDpi = deliveredDpi(setX, areaX, p.pixels_per_line);
            f.yDpi = deliveredDpi(setY > 0 ? setY : setX, areaY, p.lines);
            if (f.yDpi <= 0)
                f.yDpi = f.xDpi;
            f.compressed = treatment.compressed;
            writer.begin(f);
            eraseX = int(std::lround(treatment.edgeEraseMm / 25.4 * f.xDpi));
            eraseY = int(std::lround(treatment.edgeEraseMm / 25.4 * f.yDpi));
            begun = true;
            if (p.lines > 0)
                progress.total =
                    static_cast<qint64>(p.lines) * p.bytes_per_line * (separate ? 3 : 1);
        }

        const int plane = p.format == SANE_FRAME_GREEN ? 1 : p.format == SANE_FRAME_BLUE ? 2 : 0;
        const qint64 keep = writer.rowBytes();
        if (p.bytes_per_line < keep)
            throw statusError(SANE_STATUS_IO_ERROR, QStringLiteral("Zeilenlänge"));
        std::vector<std::uint8_t> row(static_cast<size_t>(p.bytes_per_line));
        std::vector<std::uint8_t> bits(lineArt ? static_cast<size_t>(keep) : 0);
        std::optional<PaperSampler>& sampler = samplers[std::size_t(plane)];
        const int samples = p.format == SANE_FRAME_RGB ? 3 : 1;
        if (treatment.original != 2 && !lineArt && p.depth != 1)
            sampler.emplace(p.pixels_per_line, p.lines, samples,
                            deliveredDpi(setX, areaX, p.pixels_per_line));
        std::vector<std::uint8_t> narrow(
            sampler && p.depth == 16 ? static_cast<size_t>(p.pixels_per_line) * samples : 0);
        const ToneCurve tone(lineArt || sampler ? 0 : treatment.tone, p.depth);
        size_t filled = 0;
        int y = 0;
        std::vector<SANE_Byte> buffer(64 * 1024);
        for (;;) {
            SANE_Int got = 0;
            status = sane_read(h, buffer.data(), static_cast<SANE_Int>(buffer.size()), &got);
            if (status == SANE_STATUS_EOF)
                break;
            if (status == SANE_STATUS_CANCELLED || progress.cancelled)
                return PageEnd::Cancelled;
            if (status != SANE_STATUS_GOOD)
                throw statusError(status);
            progress.done += got;
            if (got > 0)
                onData();
            for (SANE_Int used = 0; used < got;) {
                const size_t take = std::min(row.size() - filled, static_cast<size_t>(got - used));
                std::copy_n(buffer.data() + used, take, row.data() + filled);
                filled += take;
                used += static_cast<SANE_Int>(take);
                if (filled == row.size()) {
                    // The edges are erased once the paper has been seen there.
                    const Edges edges{
                        eraseX, eraseY, p.lines, p.pixels_per_line, lineArt ? 8 : p.depth, samples};
                    if (lineArt) {
                        edges.erase(row.data(), y);
                        makeLineArt(row.data(), p.pixels_per_line, treatment.lineArtLevel,
                                    bits.data());
                    } else {
                        tone.apply(row.data(), static_cast<size_t>(keep));
                        if (sampler && (p.lines < 0 || y < p.lines)) {
                            if (!narrow.empty())
                                narrowRow(row.data(), narrow);
                            sampler->row(narrow.empty() ? row.data() : narrow.data(), y);
                        }
                        edges.erase(row.data(), y);
                    }
                    if (p.lines < 0 || y < p.lines)
                        writer.writeRow(lineArt ? bits.data() : row.data(), y, plane);
                    ++y;
                    filled = 0;
                }
            }
        }
        // Some backends end a cancelled frame with a plain end of data.
        if (progress.cancelled)
            return PageEnd::Cancelled;
        if (p.lines > 0 && y < p.lines)
            throw statusError(SANE_STATUS_IO_ERROR,
                              QStringLiteral("Der Scanner hat nur %1 von %2 Zeilen geliefert")
                                  .arg(y)
                                  .arg(p.lines));
        ++framesSeen;
        planesSeen |= 1 << plane;
        if (p.last_frame || framesSeen >= 3)
            break;
    }
    // A page of separate colours is whole only with all three.
    if (separatePlanes && planesSeen != 0b111)
        throw statusError(SANE_STATUS_IO_ERROR,
                          QStringLiteral("Der Scanner hat nicht alle drei Farben geliefert"));
    if (samplers[0]) {
        Whitening whitening;
        const auto paper =
            separatePlanes
                ? PaperSampler::paperOfPlanes({&*samplers[0], &*samplers[1], &*samplers[2]})
                : samplers[0]->paper();
        if (paper)
            whitening.paper = *paper;
        whitening.text = treatment.original == 1;
        whitening.tone = treatment.tone;
        if (whitening.changes())
            writer.describe(whitening.toText());
    }
    return PageEnd::Scanned;
}

} // namespace

bool scanPage(Device& device, PageWriter& writer, const Treatment& treatment,
              ScanProgress& progress, const std::function<void()>& onData,
              const std::function<void(int)>& pageDone)
{
    SANE_Handle h = device.handle();
    CancelOnExit cancelOnExit{h, progress};

    // Read before the scan starts: many devices refuse option reads while they scan. The
    // pixel count checks these values once the scan has started.
    const double both = optionDpi(device, SANE_NAME_SCAN_RESOLUTION);
    double setX = optionDpi(device, SANE_NAME_SCAN_X_RESOLUTION);
    double setY = optionDpi(device, SANE_NAME_SCAN_Y_RESOLUTION);
    setX = setX > 0 ? setX : both;
    setY = setY > 0 ? setY : both;
    const double areaX = areaMm(device, SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_BR_X);
    const double areaY = areaMm(device, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_Y);

    // One page, or from the feeder page after page until it is empty; the file is put in
    // place only with the whole stack.
    for (int page = 1;; ++page) {
        progress.page = page;
        progress.done = 0;
        progress.total = -1;
        PageEnd end = PageEnd::Scanned;
        try {
            end = scanOnePage(h, writer, treatment, progress, onData, {setX, setY, areaX, areaY});
        } catch (const DispatchError& e) {
            if (page == 1)
                throw;
            throw DispatchError(
                e.number(),
                QStringLiteral("Beim Scannen von Seite %1: %2").arg(page).arg(e.description()),
                e.source());
        }
        if (end == PageEnd::Cancelled)
            return false;
        if (end == PageEnd::Empty || !treatment.allPages)
            break;
        writer.endPage();
        if (pageDone)
            pageDone(page);
    }
    writer.commit();
    return true;
}

} // namespace imaging::sane
