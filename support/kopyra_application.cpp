#include "support/kopyra_application.h"

#include "support/unhandled_failure.h"
#include "version.h"

KopyraApplication::KopyraApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Kopyra"));
    setOrganizationName(QStringLiteral("Tandrelwerk"));
    setApplicationVersion(QString::fromLatin1(KopyraVersion::Full));
}

bool KopyraApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        UnhandledFailure::report(std::current_exception());
        return false;
    }
}
