#include "ui/Pictures.h"

#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace {

// The pictures are drawn at 1x, 2x and 3x; a screen in between gets the next
// larger one, scaled down rather than up.
int PictureScale(qreal devicePixelRatio)
{
    return std::clamp(static_cast<int>(std::ceil(devicePixelRatio - 0.01)), 1, 3);
}

QPixmap Read(const QString& path)
{
    // Every picture is a PNG. Naming the format and not letting the reader
    // guess keeps Qt from loading each image format plugin to ask whether it
    // reads PNG, which is a good part of a millisecond at start-up.
    QImageReader reader(path, QByteArrayLiteral("png"));
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

} // namespace

QPixmap LoadPicture(const QString& path, qreal devicePixelRatio)
{
    const int scale = PictureScale(devicePixelRatio);
    if (scale == 1 || !path.endsWith(QLatin1String(".png")))
        return Read(path);
    QPixmap dense = Read(path.chopped(4) + QStringLiteral("@%1x.png").arg(scale));
    if (dense.isNull())
        return Read(path);
    dense.setDevicePixelRatio(scale);
    return dense;
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(Read(QStringLiteral(":/icons/icon-%1.png").arg(size)));
    return icon;
}
