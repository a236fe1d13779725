#include "imaging/scan/book_copy.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"
#include "imaging/common/background_work.h"
#include "imaging/page_file/book_pages.h"
#include "imaging/scan/scan_preferences.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

namespace imaging {

bool scanBook(const QString& pageFile, QWidget* parent,
              const std::function<bool(const QString&)>& scanGlass)
{
    // The glass waits beside the page file, not in a temporary folder in memory: at 600 dpi in
    // colour it is some hundred megabytes. What a Kopyra that ended meanwhile left of a book
    // goes first.
    const QDir beside = QFileInfo(pageFile).absoluteDir();
    for (const QString& left :
         beside.entryList({QStringLiteral("Kopyra-Buch-*")}, QDir::Dirs | QDir::NoDotAndDotDot))
        QDir(beside.filePath(left)).removeRecursively();
    QTemporaryDir folder(beside.filePath(QStringLiteral("Kopyra-Buch-XXXXXX")));
    if (!folder.isValid())
        throw DispatchError(ErrorNumber::PageFileFailed,
                            QStringLiteral("Für das gescannte Buch lässt sich kein vorläufiger "
                                           "Ordner anlegen: %1")
                                .arg(folder.errorString()),
                            scanProgId());
    const QString glass = folder.filePath(QStringLiteral("glas.tif"));
    if (!scanGlass(glass))
        return false;
    const ScanPreferences preferences = ScanPreferences::load();
    book::Making making;
    // Line art is black and white as scanned; a photo has had its tone as scanned.
    making.original = preferences.mode == ScanPreferences::Mode::Lineart
                          ? int(ScanPreferences::Original::Photo)
                          : int(preferences.original);
    making.tone = preferences.tone;
    making.edgeEraseMm = preferences.edgeErase;
    runInBackground(QStringLiteral("Die Seiten des Buches werden getrennt …"), parent,
                    [&] { book::splitPages(glass, pageFile, making); });
    return true;
}

} // namespace imaging
