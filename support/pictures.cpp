#include "support/pictures.h"

#include <QFileInfo>
#include <QtGlobal>

// The pictures live in a static library: its resources must be pulled in by hand.
static void initResources() { Q_INIT_RESOURCE(resources); }

void loadPictures() { initResources(); }

QPixmap picture(const QString& path, qreal devicePixelRatio)
{
    if (devicePixelRatio > 1) {
        const QFileInfo file(path);
        QPixmap twice(file.path() + QLatin1Char('/') + file.completeBaseName() +
                      QStringLiteral("@2x.") + file.suffix());
        if (!twice.isNull()) {
            twice.setDevicePixelRatio(2);
            return twice;
        }
    }
    return QPixmap(path);
}
