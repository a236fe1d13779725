#pragma once

#include <QPixmap>
#include <QString>

// Makes the program's pictures (":/pictures/…") available; any number of calls.
void loadPictures();

// A picture of the program's (":/pictures/…") for a screen of that scale: above 100 %, the one
// drawn at twice the size (name@2x), so it stays sharp.
QPixmap picture(const QString& path, qreal devicePixelRatio);
