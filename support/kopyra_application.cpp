#include "support/kopyra_application.h"

#include "support/pictures.h"
#include "support/unhandled_failure.h"

#include "version.h"
#include <QIcon>

KopyraApplication::KopyraApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Kopyra"));
    setOrganizationName(QStringLiteral("Tandrelwerk"));
    setApplicationVersion(QString::fromLatin1(KopyraVersion::Full));
    // Every window of the program, its progress windows and boxes included, shows its icon.
    loadPictures();
    setWindowIcon(QIcon(QStringLiteral(":/pictures/kopyra.ico")));
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
