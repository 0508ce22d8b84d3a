#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// Reads one of the program's own PNG pictures from its resources; a null
// pixmap if it cannot be read.
QPixmap LoadPicture(const QString& path);

// The program's icon in all the sizes it is drawn in (16, 24, 32, 48).
QIcon ApplicationIcon();
