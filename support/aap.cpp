#include "support/aap.h"

#include <QDesktopServices>
#include <QUrl>

namespace AAP {

void ShellOpen(QWidget* window, const QString& target, std::int16_t showCommand)
{
    Q_UNUSED(window);
    Q_UNUSED(showCommand);
    // No shell and no command line: the desktop's own service picks the program.
    QDesktopServices::openUrl(QUrl::fromUserInput(target));
}

void OpenHelpFile(QWidget* window, const QString& path) { ShellOpen(window, path, 10); }

} // namespace AAP
