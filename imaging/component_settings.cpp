#include "imaging/component_settings.h"

#include <QStandardPaths>

namespace imaging {

std::unique_ptr<QSettings> componentSettings()
{
    return std::make_unique<QSettings>(
        QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
            QStringLiteral("/kopyra-imaging.conf"),
        QSettings::IniFormat);
}

} // namespace imaging
