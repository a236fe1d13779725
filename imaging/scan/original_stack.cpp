#include "imaging/scan/original_stack.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"
#include "imaging/common/background_work.h"
#include "imaging/page_file/page_join.h"
#include "imaging/page_file/page_reader.h"

#include <QDir>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>
#include <QStorageInfo>

#include <sys/stat.h>

#include <algorithm>

namespace imaging {

namespace {

const QString Title = QStringLiteral("Mehrere Vorlagen");
const QString FrontsFile = QStringLiteral("vorderseiten.tif");
const QString BacksFile = QStringLiteral("rueckseiten.tif");

QString glassPage(int n) { return QStringLiteral("seite-%1.tif").arg(n); }

// A question of the job with its buttons (text and role); the index of the button clicked,
// -1 for Escape and the window's close button.
int askWith(QWidget* parent, const QString& text,
            const QList<std::pair<QString, QMessageBox::ButtonRole>>& buttons, int defaultButton)
{
    QMessageBox box(QMessageBox::Question, Title, text, QMessageBox::NoButton, parent);
    QList<QAbstractButton*> made;
    for (const auto& [label, role] : buttons)
        made << box.addButton(label, role);
    box.setDefaultButton(qobject_cast<QPushButton*>(made.value(defaultButton)));
    // Escape and the close button are answered apart from any button: they may be a slip.
    QPushButton* escape = box.addButton(QStringLiteral("Schließen"), QMessageBox::RejectRole);
    escape->hide();
    box.setEscapeButton(escape);
    box.setWindowModality(Qt::ApplicationModal);
    qInfo("Kopyra: Meldung: %s", qPrintable(box.text()));
    box.exec();
    return int(made.indexOf(box.clickedButton()));
}

// Whether the pages scanned may go: asked whenever they would be lost, "Nein" the default.
bool discard(QWidget* parent, int pages, const QString& one, const QString& several)
{
    if (pages == 0)
        return true;
    return askWith(parent,
                   QStringLiteral("%1 gescannte %2 verwerfen?")
                       .arg(pages)
                       .arg(pages == 1 ? one : several),
                   {{QStringLiteral("&Ja"), QMessageBox::YesRole},
                    {QStringLiteral("&Nein"), QMessageBox::NoRole}},
                   1) == 0;
}

// A scan's failure, told with the page (or pass) it happened at.
template <class Scan> bool naming(const QString& which, Scan scan)
{
    try {
        return scan();
    } catch (const DispatchError& e) {
        throw DispatchError(e.number(), which + QStringLiteral(": ") + e.description(), e.source());
    }
}

void join(const QList<PageFrom>& pages, const QString& pageFile, QWidget* parent)
{
    runInBackground(QStringLiteral("Die Seiten werden zusammengefügt …"), parent,
                    [&] { joinPages(pages, pageFile); });
}

// The pixels of a page as the page file holds them, uncompressed.
qint64 pixelBytes(const QString& file)
{
    PageReader page;
    QString why;
    if (!page.open(file, &why))
        return 0;
    const int samples = page.bandFormat() == PageReader::BandFormat::Colour ? 3 : 1;
    return qint64(page.size().width()) * page.size().height() * samples * page.pageCount();
}

} // namespace

WaitingPages::WaitingPages(const QString& pageFile)
    : m_folder(QFileInfo(pageFile).absolutePath() + QStringLiteral("/Kopyra-Vorlagen"))
{
}

void WaitingPages::make() const
{
    QDir().mkpath(m_folder);
    ::chmod(QFile::encodeName(m_folder).constData(), 0700);
    if (!QFileInfo(m_folder).isDir() || !QFileInfo(m_folder).isWritable())
        throw DispatchError(ErrorNumber::PageFileFailed,
                            QStringLiteral("Für die gescannten Seiten lässt sich der Ordner „%1“ "
                                           "nicht anlegen.")
                                .arg(m_folder),
                            scanProgId());
}

QString WaitingPages::file(const QString& name) const { return m_folder + QLatin1Char('/') + name; }

QStringList WaitingPages::glassPages() const
{
    QStringList pages;
    for (int n = 1; QFileInfo::exists(file(glassPage(n))); ++n)
        pages << file(glassPage(n));
    return pages;
}

int WaitingPages::left() const
{
    if (QFileInfo::exists(file(FrontsFile)))
        return pagesIn(file(FrontsFile)) + pagesIn(file(BacksFile));
    return int(glassPages().size());
}

void WaitingPages::clear() const { QDir(m_folder).removeRecursively(); }

bool WaitingPages::joinLeft(const QString& pageFile, QWidget* parent) const
{
    QList<PageFrom> pages;
    const QString fronts = file(FrontsFile);
    if (QFileInfo::exists(fronts)) {
        // Backs that were not all scanned are left out: the fronts alone.
        const int frontCount = pagesIn(fronts), backCount = pagesIn(file(BacksFile));
        for (int i = 0; i < frontCount; ++i) {
            pages << PageFrom{fronts, i, {}};
            if (backCount == frontCount)
                pages << PageFrom{file(BacksFile), frontCount - 1 - i, {}};
        }
    } else {
        for (const QString& page : glassPages())
            pages << PageFrom{page, 0, {}};
    }
    if (pages.isEmpty())
        return false;
    join(pages, pageFile, parent);
    clear();
    return true;
}

qint64 WaitingPages::roomNeeded(const QList<QString>& scanned)
{
    // The next page as large as the largest so far (the first one a colour A4 page at 300 dpi),
    // and the page file they are joined into, uncompressed.
    qint64 largest = 0, all = 0;
    for (const QString& page : scanned) {
        const qint64 bytes = pixelBytes(page);
        largest = std::max(largest, bytes);
        all += bytes;
    }
    if (largest == 0)
        largest = 26 << 20;
    return all + 2 * largest;
}

qint64 WaitingPages::room() const
{
    QStorageInfo storage(m_folder);
    return storage.isValid() ? storage.bytesAvailable() : -1;
}

LeftPages offerWaitingPages(const QString& pageFile, QWidget* parent)
{
    const WaitingPages waiting(pageFile);
    const int left = waiting.left();
    if (left == 0) {
        waiting.clear();
        return LeftPages::None;
    }
    const int choice = askWith(
        parent,
        QStringLiteral("Von einer Kopie, die nicht zu Ende kam, liegen noch %1 gescannte %2 vor. "
                       "Jetzt kopieren oder verwerfen?")
            .arg(left)
            .arg(left == 1 ? QStringLiteral("Seite") : QStringLiteral("Seiten")),
        {{QStringLiteral("&Kopieren"), QMessageBox::AcceptRole},
         {QStringLiteral("&Verwerfen"), QMessageBox::DestructiveRole}},
        0);
    if (choice == 0 && waiting.joinLeft(pageFile, parent))
        return LeftPages::Copied;
    if (choice == 1) {
        waiting.clear();
        return LeftPages::None;
    }
    return LeftPages::Kept;
}

bool scanFlatbedPages(const QString& pageFile, QWidget* parent,
                      const std::function<bool(const QString&)>& scanOne)
{
    const WaitingPages waiting(pageFile);
    // Pages a Kopyra left that ended during such a copy are never thrown away unasked.
    if (offerWaitingPages(pageFile, parent) != LeftPages::None)
        return waiting.left() == 0;
    waiting.make();
    QStringList pages;
    const auto giveUp = [&] {
        waiting.clear();
        return false;
    };
    for (int n = 1;;) {
        // A full disk is told before the scan, with the pages so far still to be copied.
        const qint64 free = waiting.room();
        if (free >= 0 && free < WaitingPages::roomNeeded(pages)) {
            const QString full =
                QStringLiteral("Auf dem Datenträger mit „%1“ ist nur noch %2 MB frei: zu wenig "
                               "für eine weitere Seite.")
                    .arg(waiting.folder())
                    .arg(free >> 20);
            if (pages.isEmpty()) {
                giveUp();
                throw DispatchError(ErrorNumber::NoRoomForPages, full, scanProgId());
            }
            const int choice = askWith(
                parent,
                full + QStringLiteral(" Die %1 gescannten Seiten kopieren?").arg(pages.size()),
                {{QStringLiteral("&Fertig"), QMessageBox::AcceptRole},
                 {QStringLiteral("Abbrechen"), QMessageBox::RejectRole}},
                0);
            if (choice == 0)
                break;
            if (discard(parent, int(pages.size()), QStringLiteral("Seite"),
                        QStringLiteral("Seiten")))
                return giveUp();
            continue;
        }
        const QString page = waiting.file(glassPage(n));
        bool scanned = false;
        QString failure;
        try {
            scanned = naming(QStringLiteral("Seite %1").arg(n), [&] { return scanOne(page); });
        } catch (const DispatchError& e) {
            // Nothing scanned yet: nothing to keep, the failure is the copy's.
            if (pages.isEmpty()) {
                giveUp();
                throw;
            }
            failure = e.description() + QStringLiteral(" (%1)").arg(e.number());
        }
        if (!scanned) {
            if (pages.isEmpty())
                return giveUp();
            // A jam, an empty glass, a scanner gone, or the scan cancelled: the pages so far
            // are kept, and the user decides.
            QFile::remove(page);
            const QString what = failure.isEmpty()
                                     ? QStringLiteral("Seite %1 wurde nicht gescannt.").arg(n)
                                     : failure;
            const int choice = askWith(
                parent, what + QStringLiteral("\n\nDie Seiten 1 bis %1 sind gescannt.").arg(n - 1),
                {{QStringLiteral("Seite %1 &neu scannen").arg(n), QMessageBox::AcceptRole},
                 {QStringLiteral("%1 Seiten &kopieren").arg(n - 1), QMessageBox::YesRole},
                 {QStringLiteral("Abbrechen"), QMessageBox::RejectRole}},
                0);
            if (choice == 1)
                break;
            if (choice != 0 && discard(parent, int(pages.size()), QStringLiteral("Seite"),
                                       QStringLiteral("Seiten")))
                return giveUp();
            continue;
        }
        pages.append(page);
        int next = -1;
        for (;;) {
            next = askWith(
                parent,
                QStringLiteral("Seite %1 ist gescannt. Nächste Vorlage auflegen und „Weiter“ "
                               "drücken – oder „Fertig“, um zu kopieren.")
                    .arg(n),
                {{QStringLiteral("&Weiter"), QMessageBox::AcceptRole},
                 {QStringLiteral("&Fertig"), QMessageBox::YesRole},
                 {QStringLiteral("Abbrechen"), QMessageBox::RejectRole}},
                0);
            if (next == 0 || next == 1)
                break;
            if (discard(parent, int(pages.size()), QStringLiteral("Seite"),
                        QStringLiteral("Seiten")))
                return giveUp();
        }
        if (next == 1)
            break;
        ++n;
    }
    // The pages kept are the glass pages waiting, 1 to the last, as after a Kopyra that ended.
    waiting.joinLeft(pageFile, parent);
    return true;
}

bool scanBacksAfterFronts(const QString& pageFile, QWidget* parent,
                          const std::function<bool(const QString&)>& scanStack)
{
    const WaitingPages waiting(pageFile);
    if (offerWaitingPages(pageFile, parent) != LeftPages::None)
        return waiting.left() == 0;
    waiting.make();
    const QString fronts = waiting.file(FrontsFile);
    const QString backs = waiting.file(BacksFile);
    const auto giveUp = [&] {
        waiting.clear();
        return false;
    };
    try {
        if (!naming(QStringLiteral("Vorderseiten"), [&] { return scanStack(fronts); }))
            return giveUp();
    } catch (...) {
        giveUp();
        throw;
    }
    const int frontCount = pagesIn(fronts);
    QString failure;
    for (;;) {
        const int choice = askWith(
            parent,
            failure +
                QStringLiteral("Die Vorderseiten sind gescannt. Stapel umdrehen, wieder einlegen "
                               "und „Weiter“ drücken."),
            {{QStringLiteral("&Weiter"), QMessageBox::AcceptRole},
             {QStringLiteral("Abbrechen"), QMessageBox::RejectRole}},
            0);
        if (choice != 0) {
            if (discard(parent, frontCount, QStringLiteral("Vorderseite"),
                        QStringLiteral("Vorderseiten")))
                return giveUp();
            continue;
        }
        QFile::remove(backs);
        try {
            if (naming(QStringLiteral("Rückseiten"), [&] { return scanStack(backs); }))
                break;
            failure = QStringLiteral("Die Rückseiten wurden nicht gescannt.\n\n");
        } catch (const DispatchError& e) {
            // A jam among the backs: the fronts are kept, the backs scanned again.
            failure = e.description() + QStringLiteral(" (%1)\n\n").arg(e.number());
        }
        QFile::remove(backs);
    }
    const int backCount = pagesIn(backs);
    if (frontCount != backCount) {
        giveUp();
        throw DispatchError(ErrorNumber::BacksDoNotMatch,
                            QStringLiteral("Es wurden %1 Vorderseiten, aber %2 Rückseiten "
                                           "gescannt. Bitte den ganzen Stapel umgedreht einlegen "
                                           "und die Kopie noch einmal beginnen.")
                                .arg(frontCount)
                                .arg(backCount),
                            scanProgId());
    }
    waiting.joinLeft(pageFile, parent);
    return true;
}

} // namespace imaging
