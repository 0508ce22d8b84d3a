#include "ui/Pictures.h"

#include <QImageReader>

QPixmap LoadPicture(const QString& path)
{
    // Every picture is a PNG. Naming the format and not letting the reader
    // guess keeps Qt from loading each image format plugin to ask whether it
    // reads PNG, which is a good part of a millisecond at start-up.
    QImageReader reader(path, QByteArrayLiteral("png"));
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(LoadPicture(QStringLiteral(":/icons/icon-%1.png").arg(size)));
    return icon;
}
