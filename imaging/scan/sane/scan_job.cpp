#include "imaging/scan/sane/scan_job.h"

#include "imaging/page_file/page_writer.h"
#include "imaging/scan/sane/sane_device.h"
#include "imaging/scan/sane/sane_errors.h"

#include <QLoggingCategory>

#include <sane/saneopts.h>

#include <cmath>
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

bool scanPage(Device& device, PageWriter& writer, ScanProgress& progress,
              const std::function<void()>& onData)
{
    SANE_Handle h = device.handle();
    CancelOnExit cancelOnExit{h, progress};
    bool begun = false;
    int framesSeen = 0;
    int planesSeen = 0; // bit n: colour plane n delivered
    bool separatePlanes = false;

    // Read before the scan starts: many devices refuse option reads while they scan. The
    // pixel count checks these values once the scan has started.
    const double both = optionDpi(device, SANE_NAME_SCAN_RESOLUTION);
    double setX = optionDpi(device, SANE_NAME_SCAN_X_RESOLUTION);
    double setY = optionDpi(device, SANE_NAME_SCAN_Y_RESOLUTION);
    setX = setX > 0 ? setX : both;
    setY = setY > 0 ? setY : both;
    const double areaX = areaMm(device, SANE_NAME_SCAN_TL_X, SANE_NAME_SCAN_BR_X);
    const double areaY = areaMm(device, SANE_NAME_SCAN_TL_Y, SANE_NAME_SCAN_BR_Y);

    for (;;) {
        if (progress.cancelled)
            return false;
        SANE_Status status = sane_start(h);
        if (status == SANE_STATUS_CANCELLED || progress.cancelled)
            return false;
        if (status != SANE_STATUS_GOOD)
            throw statusError(status);

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
            PageFormat f;
            f.width = p.pixels_per_line;
            f.height = p.lines;
            f.samplesPerPixel = p.format == SANE_FRAME_GRAY ? 1 : 3;
            f.bitsPerSample = p.depth;
            f.separatePlanes = separatePlanes = separate;
            f.xDpi = deliveredDpi(setX, areaX, p.pixels_per_line);
            f.yDpi = deliveredDpi(setY > 0 ? setY : setX, areaY, p.lines);
            if (f.yDpi <= 0)
                f.yDpi = f.xDpi;
            writer.begin(f);
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
        size_t filled = 0;
        int y = 0;
        std::vector<SANE_Byte> buffer(64 * 1024);
        for (;;) {
            SANE_Int got = 0;
            status = sane_read(h, buffer.data(), static_cast<SANE_Int>(buffer.size()), &got);
            if (status == SANE_STATUS_EOF)
                break;
            if (status == SANE_STATUS_CANCELLED || progress.cancelled)
                return false;
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
                    if (p.lines < 0 || y < p.lines)
                        writer.writeRow(row.data(), y, plane);
                    ++y;
                    filled = 0;
                }
            }
        }
        // Some backends end a cancelled frame with a plain end of data.
        if (progress.cancelled)
            return false;
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
    writer.commit();
    return true;
}

} // namespace imaging::sane
