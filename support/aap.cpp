#include "support/aap.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>

namespace AAP {

void ShellOpen(QWidget* window, const QString& target, std::int16_t showCommand)
{
    Q_UNUSED(window);
    Q_UNUSED(showCommand);
    // No shell and no command line: the desktop's own service picks the program.
    QDesktopServices::openUrl(QUrl::fromUserInput(target));
}

void OpenHelpFile(QWidget* window, const QString& path)
{
    if (QDesktopServices::openUrl(QUrl::fromUserInput(path)) || !QFileInfo::exists(path))
        return;
    // No program on this desktop opens a web page (no browser, no xdg-open), and no one says
    // so but Kopyra: the help is there all the same, and where.
    auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Kopyra – Hilfe"),
                                QStringLiteral("Es ist kein Programm eingerichtet, das die Hilfe "
                                               "öffnet (ein Webbrowser). Die Hilfe ist die Datei "
                                               "„%1“.")
                                    .arg(path),
                                QMessageBox::Ok, window);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("NoHelpViewer"));
    box->open();
}

} // namespace AAP
