#include "imaging/scan/id_card.h"

#include "dispatch/dispatch_error.h"
#include "dispatch/members.h"
#include "imaging/common/background_work.h"
#include "imaging/page_file/card_sides.h"

#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

namespace imaging {

namespace {

// The question between the sides; false: "Abbrechen".
bool askToTurnCard(QWidget* parent)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Ausweiskopie"),
                    QStringLiteral("Bitte den Ausweis umdrehen, an dieselbe Stelle legen und "
                                   "„Weiter“ drücken."),
                    QMessageBox::NoButton, parent);
    QPushButton* goOn = box.addButton(QStringLiteral("&Weiter"), QMessageBox::AcceptRole);
    box.addButton(QStringLiteral("Abbrechen"), QMessageBox::RejectRole);
    box.setDefaultButton(goOn);
    box.setWindowModality(Qt::ApplicationModal);
    qInfo("Kopyra: Meldung: %s", qPrintable(box.text()));
    box.exec();
    return box.clickedButton() == goOn;
}

} // namespace

bool scanIdCard(const QString& pageFile, QWidget* parent,
                const std::function<bool(const QString&)>& scanSide)
{
    // Each side is a few megabytes: the temporary folder holds them until they are joined.
    QTemporaryDir sides;
    if (!sides.isValid())
        throw DispatchError(ErrorNumber::PageFileFailed,
                            QStringLiteral("Für die Seiten des Ausweises lässt sich kein "
                                           "vorläufiger Ordner anlegen: %1")
                                .arg(sides.errorString()),
                            scanProgId());
    const QString front = sides.filePath(QStringLiteral("vorderseite.tif"));
    const QString back = sides.filePath(QStringLiteral("rueckseite.tif"));
    if (!scanSide(front) || !askToTurnCard(parent) || !scanSide(back))
        return false;
    runInBackground(QStringLiteral("Die Seiten des Ausweises werden zusammengefügt …"), parent,
                    [&] { card::joinSides(front, back, pageFile); });
    return true;
}

} // namespace imaging
