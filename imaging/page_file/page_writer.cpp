#include "imaging/page_file/page_writer.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"

#include <QDir>
#include <QFileInfo>

#include <tiffio.h>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

namespace imaging {

namespace {
// The disk is asked to start writing every so many bytes of rows.
constexpr qint64 SyncStep = 4 << 20;

// libtiff's access to the file, through the descriptor. Freeing a page that is abandoned,
// libtiff would write its directory: a stack that keeps its complete pages (the file is put in
// place all the same) must not gain a half page at their end.
tmsize_t readFile(thandle_t handle, void* data, tmsize_t size)
{
    return ::read(static_cast<PageWriter::Sink*>(handle)->fd, data, size_t(size));
}

tmsize_t writeFile(thandle_t handle, void* data, tmsize_t size)
{
    const auto* sink = static_cast<PageWriter::Sink*>(handle);
    if (sink->discard)
        return size;
    const char* bytes = static_cast<const char*>(data);
    for (tmsize_t written = 0; written < size;) {
        const ssize_t n = ::write(sink->fd, bytes + written, size_t(size - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        written += n;
    }
    return size;
}

toff_t seekFile(thandle_t handle, toff_t offset, int whence)
{
    return toff_t(::lseek(static_cast<PageWriter::Sink*>(handle)->fd, off_t(offset), whence));
}

int closeFile(thandle_t) { return 0; } // the descriptor is its owner's

toff_t fileSize(thandle_t handle)
{
    struct stat info {};
    return ::fstat(static_cast<PageWriter::Sink*>(handle)->fd, &info) == 0 ? toff_t(info.st_size)
                                                                           : 0;
}

int mapFile(thandle_t, void**, toff_t*) { return 0; }
void unmapFile(thandle_t, void*, toff_t) {}

} // namespace

PageWriter::PageWriter(const QString& path)
    : m_path(path)
    , m_file(QFileInfo(path).absolutePath() + QStringLiteral("/.") + QFileInfo(path).fileName() +
             QStringLiteral(".XXXXXX"))
{
}

PageWriter::PageWriter(const QString& path, int fd)
    : m_path(path)
{
    m_sink.fd = fd;
}

PageWriter::~PageWriter() { abandon(); }

void PageWriter::fail(const QString& what)
{
    abandon();
    throw DispatchError(ErrorNumber::PageFileFailed,
                        QStringLiteral("Die Seite kann nicht in „%1“ gespeichert werden: %2")
                            .arg(QDir::toNativeSeparators(m_path), what),
                        scanProgId());
}

void PageWriter::failWithSystemError(int errnum)
{
    fail(errnum ? systemErrorText(errnum) : QStringLiteral("Schreibfehler."));
}

int PageWriter::openTemporary()
{
    if (!m_file.isOpen()) {
        // A new file of its own (never one that is there already, nor a link), only for the
        // user.
        errno = 0;
        if (!m_file.open())
            failWithSystemError(errno);
        m_sink.fd = m_file.handle();
    }
    return m_sink.fd;
}

void PageWriter::begin(const PageFormat& format)
{
    if (m_tiff) {
        // The next page of the feeder's stack: the last one's directory is complete.
        endPage();
        m_ended = false;
        m_rows = 0;
        ++m_page;
    } else {
        if (m_sink.fd < 0)
            openTemporary();
        // libtiff writes through the descriptor; TIFFCleanup later leaves it open for the
        // commit.
        m_tiff = TIFFClientOpen(QFile::encodeName(m_path).constData(), "w", &m_sink, readFile,
                                writeFile, seekFile, closeFile, fileSize, mapFile, unmapFile);
        if (!m_tiff)
            fail(QStringLiteral("die TIFF-Datei lässt sich nicht anlegen"));
    }
    m_format = format;

    TIFFSetField(m_tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(format.width));
    if (format.height > 0)
        TIFFSetField(m_tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(format.height));
    TIFFSetField(m_tiff, TIFFTAG_SAMPLESPERPIXEL,
                 static_cast<std::uint16_t>(format.samplesPerPixel));
    TIFFSetField(m_tiff, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(format.bitsPerSample));
    TIFFSetField(m_tiff, TIFFTAG_PLANARCONFIG,
                 format.separatePlanes ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    std::uint16_t photometric = PHOTOMETRIC_RGB;
    if (format.samplesPerPixel == 1)
        // Line art from SANE has a set bit for black.
        photometric = format.bitsPerSample == 1 ? PHOTOMETRIC_MINISWHITE : PHOTOMETRIC_MINISBLACK;
    TIFFSetField(m_tiff, TIFFTAG_PHOTOMETRIC, photometric);
    if (format.compressed) {
        // Fast rather than small: the rows come as the scanner delivers them.
        TIFFSetField(m_tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(m_tiff, TIFFTAG_ZIPQUALITY, 1);
        if (format.bitsPerSample >= 8)
            TIFFSetField(m_tiff, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
    } else {
        TIFFSetField(m_tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    }
    TIFFSetField(m_tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    const qint64 bytes = std::max<qint64>(1, rowBytes());
    TIFFSetField(m_tiff, TIFFTAG_ROWSPERSTRIP,
                 static_cast<std::uint32_t>(std::max<qint64>(1, (256 * 1024) / bytes)));
    if (format.xDpi > 0 && format.yDpi > 0) {
        TIFFSetField(m_tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(m_tiff, TIFFTAG_XRESOLUTION, static_cast<float>(format.xDpi));
        TIFFSetField(m_tiff, TIFFTAG_YRESOLUTION, static_cast<float>(format.yDpi));
    }
    TIFFSetField(m_tiff, TIFFTAG_SOFTWARE, "Kopyra");
    if (!format.name.isEmpty())
        TIFFSetField(m_tiff, TIFFTAG_PAGENAME, format.name.constData());
}

void PageWriter::describe(const QByteArray& text)
{
    if (m_tiff)
        TIFFSetField(m_tiff, TIFFTAG_IMAGEDESCRIPTION, text.constData());
}

qint64 PageWriter::rowBytes() const
{
    const int samples = m_format.separatePlanes ? 1 : m_format.samplesPerPixel;
    return (static_cast<qint64>(m_format.width) * samples * m_format.bitsPerSample + 7) / 8;
}

void PageWriter::writeRow(const std::uint8_t* row, int y, int plane)
{
    // libtiff takes a non-const buffer and does not change it without compression; with it,
    // its predictor works in the buffer: the caller's row is copied first.
    std::uint8_t* given = const_cast<std::uint8_t*>(row);
    if (m_format.compressed) {
        m_row.assign(row, row + rowBytes());
        given = m_row.data();
    }
    errno = 0;
    if (TIFFWriteScanline(m_tiff, given, static_cast<std::uint32_t>(y),
                          static_cast<std::uint16_t>(plane)) < 0)
        failWithSystemError(errno);
    m_rows = std::max(m_rows, y + 1);
    // The page is flushed to disk before it replaces the last one; started while the rows
    // come, that flush finds little left to do and the page is there sooner.
    m_unsynced += rowBytes();
    if (m_unsynced >= SyncStep) {
        ::sync_file_range(m_sink.fd, 0, 0, SYNC_FILE_RANGE_WRITE);
        m_unsynced = 0;
    }
}

void PageWriter::endPage()
{
    if (!m_tiff || m_ended)
        return;
    if (m_format.height <= 0)
        TIFFSetField(m_tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(m_rows));
    // The page's data, then its directory, then the link to it from the one before: a reader
    // meanwhile finds the pages before it, whole.
    errno = 0;
    if (TIFFWriteDirectory(m_tiff) != 1)
        failWithSystemError(errno);
    m_ended = true;
}

void PageWriter::commit()
{
    // Rows written here, or by another process into this writer's temporary file.
    if (m_tiff) {
        if (m_format.height <= 0 && !m_ended)
            TIFFSetField(m_tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(m_rows));
        errno = 0;
        // A page completed already has nothing left to write, nor has the next, never begun.
        const bool written = m_ended || TIFFFlush(m_tiff) == 1;
        const int flushError = errno;
        m_sink.discard = true;
        TIFFCleanup(m_tiff);
        m_tiff = nullptr;
        if (!written)
            failWithSystemError(flushError);
    } else if (!m_file.isOpen()) {
        fail(QStringLiteral("keine Seite"));
    }
    if (!m_file.isOpen())
        return; // another writer's file: its owner puts it in place
    // On disk before it takes the old page's place; the rename replaces whatever entry stands
    // at the page's path, a link included, and never writes through it.
    if (::fsync(m_file.handle()) != 0)
        failWithSystemError(errno);
    if (std::rename(QFile::encodeName(m_file.fileName()).constData(),
                    QFile::encodeName(m_path).constData()) != 0)
        failWithSystemError(errno);
    m_file.setAutoRemove(false);
    m_file.close();
}

void PageWriter::abandon()
{
    if (m_tiff) {
        m_sink.discard = true;
        TIFFCleanup(m_tiff);
        m_tiff = nullptr;
    }
    if (m_file.isOpen()) {
        m_file.close();
        m_file.remove();
    }
}

} // namespace imaging
