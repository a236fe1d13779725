#include "imaging/scan/original_stack.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"
#include "imaging/common/background_work.h"
#include "imaging/page_file/page_join.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

namespace imaging {

namespace {

enum class Next { More, Done, Cancel };

Next ask(QWidget* parent, const QString& text, bool canFinish)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Mehrere Vorlagen"), text,
                    QMessageBox::NoButton, parent);
    QPushButton* goOn = box.addButton(QStringLiteral("&Weiter"), QMessageBox::AcceptRole);
    QPushButton* done =
        canFinish ? box.addButton(QStringLiteral("&Fertig"), QMessageBox::YesRole) : nullptr;
    box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
    box.setDefaultButton(goOn);
    box.setWindowModality(Qt::ApplicationModal);
    qInfo("Kopyra: Meldung: %s", qPrintable(box.text()));
    box.exec();
    return box.clickedButton() == goOn           ? Next::More
           : done && box.clickedButton() == done ? Next::Done
                                                 : Next::Cancel;
}

QTemporaryDir& madeOrFailed(QTemporaryDir& folder)
{
    if (!folder.isValid())
        throw DispatchError(ErrorNumber::PageFileFailed,
                            QStringLiteral("Für die gescannten Seiten lässt sich kein vorläufiger "
                                           "Ordner anlegen: %1")
                                .arg(folder.errorString()),
                            scanProgId());
    return folder;
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

} // namespace

bool scanFlatbedPages(const QString& pageFile, QWidget* parent,
                      const std::function<bool(const QString&)>& scanOne)
{
    // Each page is a few megabytes: the temporary folder holds them until they are joined.
    QTemporaryDir folder;
    madeOrFailed(folder);
    QList<PageFrom> pages;
    for (int n = 1;; ++n) {
        const QString page = folder.filePath(QStringLiteral("seite-%1.tif").arg(n));
        if (!naming(QStringLiteral("Seite %1").arg(n), [&] { return scanOne(page); }))
            return false;
        pages.append({page, 0, {}});
        const Next next =
            ask(parent,
                QStringLiteral("Seite %1 ist gescannt. Nächste Vorlage auflegen und „Weiter“ "
                               "drücken – oder „Fertig“, um zu kopieren.")
                    .arg(n),
                true);
        if (next == Next::Cancel)
            return false;
        if (next == Next::Done)
            break;
    }
    join(pages, pageFile, parent);
    return true;
}

bool scanBacksAfterFronts(const QString& pageFile, QWidget* parent,
                          const std::function<bool(const QString&)>& scanStack)
{
    QTemporaryDir folder;
    madeOrFailed(folder);
    const QString fronts = folder.filePath(QStringLiteral("vorderseiten.tif"));
    const QString backs = folder.filePath(QStringLiteral("rueckseiten.tif"));
    if (!naming(QStringLiteral("Vorderseiten"), [&] { return scanStack(fronts); }) ||
        ask(parent,
            QStringLiteral("Die Vorderseiten sind gescannt. Stapel umdrehen, wieder einlegen und "
                           "„Weiter“ drücken."),
            false) != Next::More ||
        !naming(QStringLiteral("Rückseiten"), [&] { return scanStack(backs); }))
        return false;
    const int frontCount = pagesIn(fronts);
    const int backCount = pagesIn(backs);
    if (frontCount != backCount)
        throw DispatchError(ErrorNumber::BacksDoNotMatch,
                            QStringLiteral("Es wurden %1 Vorderseiten, aber %2 Rückseiten "
                                           "gescannt. Bitte den ganzen Stapel umgedreht einlegen "
                                           "und die Kopie noch einmal beginnen.")
                                .arg(frontCount)
                                .arg(backCount),
                            scanProgId());
    // Turned over, the stack's last back comes first.
    QList<PageFrom> pages;
    for (int i = 0; i < frontCount; ++i)
        pages << PageFrom{fronts, i, {}} << PageFrom{backs, frontCount - 1 - i, {}};
    join(pages, pageFile, parent);
    return true;
}

} // namespace imaging
