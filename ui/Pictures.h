#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// Reads one of the program's own PNG pictures from its resources; a null
// pixmap if it cannot be read. With a ratio above 1 it reads the picture
// drawn for that density (NAME@2x.png, NAME@3x.png), marked so that it
// takes the same room in the window as the plain one.
QPixmap LoadPicture(const QString& path, qreal devicePixelRatio = 1.0);

// The program's icon in all the sizes it is drawn in (16, 24, 32, 48).
QIcon ApplicationIcon();
