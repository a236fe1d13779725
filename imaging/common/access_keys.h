#pragma once

#include <QStringList>

class QWidget;

namespace imaging {

// The access keys ("&" in a caption: Alt and that letter) of what the dialog shows now
// (buttons, labels with a buddy, tabs) that more than one of them uses.
QStringList duplicateAccessKeys(QWidget* dialog);

// Gives every caption but the first of each such pair another letter of its own caption, so
// that Alt and a letter always reaches one control (Qt's own dialogs in German use some twice).
void makeAccessKeysUnique(QWidget* dialog);

} // namespace imaging
