#include "imaging/scan/sane/sane_errors.h"

namespace imaging::sane {

QString statusText(SANE_Status status)
{
    switch (static_cast<int>(status)) {
    case SANE_STATUS_GOOD:
        return QStringLiteral("Kein Fehler.");
    case SANE_STATUS_UNSUPPORTED:
        return QStringLiteral("Der Scanner unterstützt diese Einstellung nicht.");
    case SANE_STATUS_CANCELLED:
        return QStringLiteral("Der Scan wurde abgebrochen.");
    case SANE_STATUS_DEVICE_BUSY:
        return QStringLiteral("Der Scanner ist gerade belegt, vielleicht von einem anderen "
                              "Programm. Bitte warten Sie einen Moment und versuchen Sie es "
                              "dann noch einmal.");
    case SANE_STATUS_INVAL:
        return QStringLiteral("Der Scanner hat eine Einstellung abgelehnt oder ist nicht mehr "
                              "erreichbar. Prüfen Sie, ob er eingeschaltet und angeschlossen ist, "
                              "und wählen Sie ihn unter „Scanner“ neu aus.");
    case SANE_STATUS_EOF:
        return QStringLiteral("Der Scanner hat keine weiteren Daten geliefert.");
    case SANE_STATUS_JAMMED:
        return QStringLiteral("Im Scanner gibt es einen Papierstau. Bitte entfernen Sie das "
                              "Papier und legen Sie die Vorlage neu ein.");
    case SANE_STATUS_NO_DOCS:
        return QStringLiteral("Im Einzug des Scanners liegt keine Vorlage. Bitte legen Sie die "
                              "Seite ein.");
    case SANE_STATUS_COVER_OPEN:
        return QStringLiteral("Die Abdeckung des Scanners ist offen. Bitte schließen Sie sie.");
    case SANE_STATUS_IO_ERROR:
        return QStringLiteral("Die Verbindung zum Scanner ist gestört (Ein-/Ausgabefehler). "
                              "Prüfen Sie Kabel, Netzwerk und Stromversorgung des Scanners.");
    case SANE_STATUS_NO_MEM:
        return QStringLiteral("Für den Scan ist nicht genug Speicher frei. Wählen Sie eine "
                              "kleinere Auflösung oder schließen Sie andere Programme.");
    case SANE_STATUS_ACCESS_DENIED:
        return QStringLiteral("Der Zugriff auf den Scanner wurde verweigert. Vielleicht fehlt "
                              "Ihnen die Berechtigung (Gruppe „scanner“) oder ein Kennwort.");
    case 12: // warming up (SANE 1.1)
        return QStringLiteral("Die Lampe des Scanners wärmt sich noch auf. Bitte versuchen Sie "
                              "es gleich noch einmal.");
    case 13: // locked for transport (SANE 1.1)
        return QStringLiteral("Der Scanner ist für den Transport verriegelt. Bitte lösen Sie die "
                              "Transportsicherung.");
    default:
        return QStringLiteral("Der Scanner meldet einen unbekannten Fehler (SANE-Status %1).")
            .arg(static_cast<int>(status));
    }
}

DispatchError statusError(SANE_Status status, const QString& what)
{
    QString description = statusText(status);
    if (!what.isEmpty())
        description = what + QStringLiteral(": ") + description;
    return DispatchError(ErrorNumber::SaneStatusBase + static_cast<int>(status), description,
                         scanProgId());
}

} // namespace imaging::sane
