// Draws the window's pictures from the built-in sample and the page placement
// the program really prints with, so the previews cannot drift from the
// output: the size picture and the nine position previews, each at one, two
// and three device pixels per window pixel (NAME.png, NAME@2x.png,
// NAME@3x.png) so dense screens get them sharp, and the icon (PNG per size,
// plus a Windows .ico).
//
//   make-pictures OUTDIR

#include "output/PagePlacement.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <cstdio>
#include <vector>

namespace {

const QColor DotGrey(128, 128, 128);
const QColor BarGrey(173, 170, 156);

// Preview sheet: an A4 page (printable area) scaled to 166 px high; the bar
// below it is the sheet's shadow.
constexpr int PreviewWidth = 120;
constexpr int PreviewHeight = 170;
constexpr int SheetHeightPx = 166;
constexpr int BarHeight = 4;
constexpr int BarLeft = 6;
constexpr std::int32_t PageW = 21000;  // 210 mm
constexpr std::int32_t PageH = -29700; // the page's bottom edge, y up

// Each of the sample's circles becomes one dot at its centre.
std::vector<QPointF> CircleCentres(const TPLT& plt)
{
    std::vector<QPointF> centres;
    for (const TPolygonView& p : plt.Polygons())
        centres.emplace_back((double(p.Bound.Left) + p.Bound.Right) / 2.0,
                             (double(p.Bound.Top) + p.Bound.Bottom) / 2.0);
    return centres;
}

// A transparent picture of the given size in window pixels, density device
// pixels to each: the painter draws in window pixels whatever the density.
QImage Canvas(int width, int height, int density)
{
    QImage image(width * density, height * density, QImage::Format_ARGB32);
    image.setDevicePixelRatio(density);
    image.fill(Qt::transparent);
    return image;
}

QImage Preview(const TPLT& plt, int index, int density)
{
    QImage image = Canvas(PreviewWidth, PreviewHeight, density);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double scale = double(SheetHeightPx) / -PageH;
    const auto origin = PlacementOrigin(plt.Bound(), PageW, PageH, index);
    const double x0 = origin ? static_cast<double>(origin->X) : 0;
    const double y0 = origin ? static_cast<double>(origin->Y) : 0;
    painter.setPen(Qt::NoPen);
    painter.setBrush(DotGrey);
    for (const QPointF& c : CircleCentres(plt)) {
        // Logical (x0, y0) sits on the page's lower-left corner, y grows up.
        const QPointF at((c.x() - x0) * scale, SheetHeightPx - (c.y() - y0) * scale);
        painter.drawEllipse(at, 1.1, 1.1);
    }
    painter.fillRect(BarLeft, PreviewHeight - BarHeight, PreviewWidth - BarLeft, BarHeight, BarGrey);
    return image;
}

void DimensionTicks(QPainter& p, QPointF a, QPointF b, bool horizontal)
{
    p.drawLine(a, b);
    const QPointF d = horizontal ? QPointF(0, 3) : QPointF(3, 0);
    p.drawLine(a - d, a + d);
    p.drawLine(b - d, b + d);
}

QImage SizePicture(const TPLT& plt, int density)
{
    QImage image = Canvas(119, 51, density);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const TRect b = plt.Bound();
    const QRectF lettering(2, 17, 78, 78.0 * (b.Top - b.Bottom) / (b.Right - b.Left));
    const double scale = lettering.width() / (b.Right - b.Left);
    painter.setPen(Qt::NoPen);
    painter.setBrush(DotGrey);
    for (const QPointF& c : CircleCentres(plt))
        painter.drawEllipse(
            QPointF(lettering.left() + (c.x() - b.Left) * scale, lettering.bottom() - (c.y() - b.Bottom) * scale), 1.2,
            1.2);

    QPen line(QColor(64, 64, 64));
    line.setWidthF(1.0);
    painter.setPen(line);
    painter.setRenderHint(QPainter::Antialiasing, false);
    DimensionTicks(painter, {lettering.left(), 13}, {lettering.right(), 13}, true);
    DimensionTicks(painter, {lettering.right() + 5, lettering.top()}, {lettering.right() + 5, lettering.bottom()},
                   false);

    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(9);
    painter.setFont(font);
    painter.setPen(Qt::black);
    painter.drawText(QRectF(lettering.left(), 0, lettering.width(), 11), Qt::AlignCenter, QStringLiteral("111mm"));
    painter.drawText(QRectF(lettering.right() + 8, lettering.top(), 119 - lettering.right() - 8, lettering.height()),
                     Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("32mm"));
    return image;
}

// A sheet with a ring of cut dots and a blade: readable down to 16 px.
QImage Icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 48.0, size / 48.0);
    p.setPen(QPen(QColor(90, 90, 90), 2.0));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(6, 2, 32, 42), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 70, 70));
    for (int i = 0; i < 8; ++i) {
        const double a = i * 3.14159265358979 / 4;
        p.drawEllipse(QPointF(22 + 10 * std::cos(a), 21 + 10 * std::sin(a)), 2.6, 2.6);
    }
    QPainterPath blade;
    blade.moveTo(30, 46);
    blade.lineTo(46, 26);
    blade.lineTo(46, 40);
    blade.closeSubpath();
    p.setBrush(QColor(30, 90, 170));
    p.drawPath(blade);
    return image;
}

QByteArray Png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

// Windows icon container holding PNG images (read by Windows Vista and later).
QByteArray Ico(const std::vector<QImage>& images)
{
    QByteArray out;
    auto u16 = [&out](int v) { out.append(char(v & 0xff)).append(char((v >> 8) & 0xff)); };
    auto u32 = [&](qint64 v) {
        u16(int(v & 0xffff));
        u16(int((v >> 16) & 0xffff));
    };
    std::vector<QByteArray> pngs;
    for (const QImage& i : images)
        pngs.push_back(Png(i));
    u16(0);
    u16(1);
    u16(int(images.size()));
    qint64 offset = 6 + 16 * qint64(images.size());
    for (std::size_t k = 0; k < images.size(); ++k) {
        out.append(char(images[k].width() & 0xff)).append(char(images[k].height() & 0xff));
        out.append(char(0)).append(char(0));
        u16(1);
        u16(32);
        u32(pngs[k].size());
        u32(offset);
        offset += pngs[k].size();
    }
    for (const QByteArray& png : pngs)
        out.append(png);
    return out;
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

int main(int argc, char** argv)
{
    // Text needs a font database, which needs a GUI application; no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make-pictures OUTDIR\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path())) {
        std::fprintf(stderr, "make-pictures: cannot create %s\n", argv[1]);
        return 1;
    }
    TPLT plt;
    ReadPlotText(plt, BuiltInSampleLines());

    bool ok = true;
    for (int scale : {1, 2, 3}) {
        const QString suffix = scale == 1 ? QStringLiteral(".png") : QStringLiteral("@%1x.png").arg(scale);
        ok = ok && Write(out.filePath(QStringLiteral("size") + suffix), Png(SizePicture(plt, scale)));
        for (int i = 0; i < 9; ++i)
            ok = ok && Write(out.filePath(QStringLiteral("preview-%1").arg(i) + suffix), Png(Preview(plt, i, scale)));
    }
    std::vector<QImage> icons;
    for (int size : {48, 32, 24, 16}) {
        icons.push_back(Icon(size));
        ok = ok && Write(out.filePath(QStringLiteral("icon-%1.png").arg(size)), Png(icons.back()));
    }
    ok = ok && Write(out.filePath(QStringLiteral("vellico-output-test.ico")), Ico(icons));
    if (!ok) {
        std::fprintf(stderr, "make-pictures: cannot write into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
