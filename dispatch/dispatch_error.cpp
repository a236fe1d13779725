#include "dispatch/dispatch_error.h"

#include <cerrno>
#include <cstring>

namespace imaging {

DispatchError::DispatchError(std::int32_t number, QString description, QString source)
    : std::runtime_error(description.toStdString())
    , m_number(number)
    , m_description(std::move(description))
    , m_source(std::move(source))
{
}

QString systemErrorText(int errnum)
{
    switch (errnum) {
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Auf dem Datenträger ist kein Platz mehr. Bitte schaffen Sie Platz "
                              "und versuchen Sie es noch einmal.");
    case EACCES:
    case EPERM:
        return QStringLiteral("Keine Berechtigung zum Schreiben.");
    case EROFS:
        return QStringLiteral("Der Datenträger ist schreibgeschützt.");
    case EFBIG:
        return QStringLiteral("Die Datei würde zu groß.");
    case EIO:
        return QStringLiteral("Ein-/Ausgabefehler des Datenträgers.");
    case ENOENT:
        return QStringLiteral("Der Ordner gibt es nicht.");
    case EISDIR:
        return QStringLiteral("An ihrer Stelle steht ein Ordner.");
    case ENOMEM:
        return QStringLiteral("Der Arbeitsspeicher reicht nicht.");
    default:
        return QString::fromLocal8Bit(std::strerror(errnum));
    }
}

} // namespace imaging
