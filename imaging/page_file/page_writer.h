#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryFile>

#include <cstdint>
#include <vector>

struct tiff;

namespace imaging {

// How the scanned page looks to the file.
struct PageFormat {
    int width = 0;
    int height = -1;             // -1: not known in advance (hand scanners)
    int samplesPerPixel = 1;     // 1 grey or line art, 3 colour
    int bitsPerSample = 8;       // 1, 8 or 16
    bool separatePlanes = false; // colour arriving one colour at a time (three-pass scanners)
    bool compressed = false;     // losslessly (Deflate), for pages that wait for others
    double xDpi = 0;
    double yDpi = 0;
    // What the page is, where it matters to the print (the sides of an ID card); ASCII.
    QByteArray name;
};

// Writes the page into a TIFF file row by row as the rows arrive, so a large page never has
// to fit into memory. The rows go into a temporary file beside the page file, which replaces
// the page file only when the page is complete: there is never a half-written page file. The
// page file is never written through a link: whatever stands at its path (a link to another
// file, a device or a pipe, a dangling link) is replaced, never followed.
//
// The scanner helper writes the rows of a page into a temporary file that Kopyra made: Kopyra
// opens it (openTemporary) and hands the descriptor over, the helper writes through a writer
// made on that descriptor, and Kopyra commits once the helper says the page is complete.
class PageWriter {
public:
    explicit PageWriter(const QString& path);
    // Writes into a descriptor another writer opened (the path names the page in messages):
    // commit() then only completes the TIFF; the descriptor stays open for its owner.
    PageWriter(const QString& path, int fd);
    ~PageWriter();
    PageWriter(const PageWriter&) = delete;
    PageWriter& operator=(const PageWriter&) = delete;

    // Creates the temporary file (throws DispatchError when it cannot) and returns its
    // descriptor, for a writer in another process.
    int openTemporary();
    // Throws DispatchError when the file cannot be created. Called again, it ends the page
    // and begins the next one of a multi-page file.
    void begin(const PageFormat& format);
    // The pages begun.
    int pages() const { return m_tiff ? m_page + 1 : 0; }
    // One row of the given colour plane (0 unless the planes are separate), as many bytes as
    // the format says.
    void writeRow(const std::uint8_t* row, int y, int plane = 0);
    qint64 rowBytes() const;
    // What the page is to be made on its way to paper (its image description), for the page
    // begun last.
    void describe(const QByteArray& text);
    // Completes the page begun last in the file now, rather than when the next one begins: a
    // reader may then open the file, still growing, and read every page that is complete.
    void endPage();
    // The temporary file the rows go to (empty when it is another writer's).
    QString temporaryName() const { return m_file.isOpen() ? m_file.fileName() : QString(); }
    // Puts the finished page in place of the old one. Throws DispatchError on failure.
    void commit();
    // Leaves the old page as it was.
    void abandon();

private:
    [[noreturn]] void fail(const QString& what);
    [[noreturn]] void failWithSystemError(int errnum);

    QString m_path;
    QTemporaryFile m_file;

public:
    // Where libtiff writes: the descriptor the rows go to (m_file's, or another writer's);
    // once the page is abandoned, nowhere.
    struct Sink {
        int fd = -1;
        bool discard = false;
    };

private:
    Sink m_sink;
    tiff* m_tiff = nullptr;
    PageFormat m_format;
    int m_rows = 0;
    int m_page = 0;
    bool m_ended = false;            // the page begun last is complete in the file
    qint64 m_unsynced = 0;           // bytes of rows since the disk was last asked to catch up
    std::vector<std::uint8_t> m_row; // a compressed row's copy, which libtiff may change
};

} // namespace imaging
