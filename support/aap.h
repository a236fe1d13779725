#pragma once

#include <QString>

#include <cstdint>

class QWidget;

// Hands files, web pages and mail addresses to the user's default programs.
namespace AAP {

// Opens the target with the user's default handler: a file path as a file, a bare host name
// with a path as a web page, "mailto:" as a new mail. Returns at once and reports nothing;
// a target that cannot be opened leaves everything as it was. The show command (1 normal,
// 10 the program's own default) has no meaning on this platform and is kept for the callers.
void ShellOpen(QWidget* window, const QString& target, std::int16_t showCommand);

// ShellOpen with show command 10; where no program opens it (no browser at all), a box that
// stops nothing says so and where the help file is. A missing help file is not reported.
void OpenHelpFile(QWidget* window, const QString& path);

} // namespace AAP
