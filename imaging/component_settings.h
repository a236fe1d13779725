#pragma once

#include <QSettings>
#include <memory>

namespace imaging {

// The imaging components keep their own settings (scanner, scan preferences, print settings)
// in a file of their own beside the program's option store, never in its [Kopyra] group:
// $XDG_CONFIG_HOME/kopyra-imaging.conf (else ~/.config/kopyra-imaging.conf).
std::unique_ptr<QSettings> componentSettings();

} // namespace imaging
