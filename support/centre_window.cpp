#include "support/centre_window.h"

#include <QScreen>
#include <QWidget>

void centreOnScreen(QWidget* window)
{
    if (const QScreen* s = window->screen()) {
        const QSize outer = window->frameGeometry().size();
        window->move(s->availableGeometry().center() -
                     QPoint(outer.width() / 2, outer.height() / 2));
    }
}
