#include "platform/DeviceSettingsStore.h"

#include <QSettings>
#include <QUrl>

#include <cmath>
#include <utility>

namespace {

// Longer than any roll a cutter takes; anything beyond is a damaged entry.
constexpr double MaxSheetMm = 100000;

QSettings Store()
{
    return QSettings(QStringLiteral("Vellico"), QStringLiteral("vellico-output-test"));
}

// Queue names may hold characters QSettings treats as separators.
QString GroupOf(const QString& device)
{
    return QStringLiteral("Devices/") + QString::fromLatin1(QUrl::toPercentEncoding(device));
}

bool ReadBool(const QVariant& v, bool& out)
{
    if (v.typeId() == QMetaType::Bool) {
        out = v.toBool();
        return true;
    }
    const QString text = v.toString().toLower();
    if (text != QLatin1String("true") && text != QLatin1String("false"))
        return false;
    out = text == QLatin1String("true");
    return true;
}

bool ReadMm(const QVariant& v, double low, double& out)
{
    bool ok = false;
    out = v.toDouble(&ok);
    return ok && std::isfinite(out) && out >= low && out <= MaxSheetMm;
}

// A correction kept with the device; an entry from before calibration has
// none, which is the correction's default (off).
bool ReadCorrection(const QVariant& v, double& out)
{
    if (!v.isValid())
        return true;
    bool ok = false;
    out = v.toDouble(&ok);
    return ok;
}

} // namespace

std::optional<DeviceSettings> RememberedSettings(const QString& device)
{
    if (device.isEmpty())
        return std::nullopt;
    QSettings store = Store();
    store.beginGroup(GroupOf(device));
    DeviceSettings s;

    const std::optional<SendAs> language = SendAsFromWord(store.value(QStringLiteral("SendAs")).toString());
    const bool known = language.has_value();
    s.Language = language.value_or(SendAs::Driver);
    s.PaperName = store.value(QStringLiteral("Paper")).toString();
    bool ok = known && !s.PaperName.isEmpty();
    ok = ok && ReadMm(store.value(QStringLiteral("WidthMm")), 1, s.PaperWidthMm);
    ok = ok && ReadMm(store.value(QStringLiteral("LengthMm")), 1, s.PaperHeightMm);
    ok = ok && ReadMm(store.value(QStringLiteral("MarginLeftMm")), 0, s.MarginLeftMm);
    ok = ok && ReadMm(store.value(QStringLiteral("MarginBottomMm")), 0, s.MarginBottomMm);
    ok = ok && ReadMm(store.value(QStringLiteral("MarginRightMm")), 0, s.MarginRightMm);
    ok = ok && ReadMm(store.value(QStringLiteral("MarginTopMm")), 0, s.MarginTopMm);
    // Margins that leave nothing to draw on would place the sample off the sheet.
    ok = ok && s.MarginLeftMm + s.MarginRightMm < s.PaperWidthMm && s.MarginBottomMm + s.MarginTopMm < s.PaperHeightMm;
    ok = ok && ReadBool(store.value(QStringLiteral("Landscape")), s.Landscape);
    ok = ok && ReadBool(store.value(QStringLiteral("Rotate90")), s.Rotate90);
    ok = ok && ReadBool(store.value(QStringLiteral("MirrorX")), s.MirrorX);
    ok = ok && ReadBool(store.value(QStringLiteral("MirrorY")), s.MirrorY);
    bool number = false;
    const int dpi = store.value(QStringLiteral("ResolutionDpi")).toInt(&number);
    ok = ok && number && dpi >= 0 && dpi <= 100000;
    s.ResolutionDpi = dpi;
    // Entries kept before ports were offered have no line: the defaults.
    const QVariant line = store.value(QStringLiteral("Line"));
    if (ok && line.isValid()) {
        const auto parsed = ParsePortSettings(line.toString());
        ok = parsed.has_value();
        s.Line = parsed.value_or(PortSettings{});
    }
    CutterCorrections& c = s.Corrections;
    ok = ok && ReadCorrection(store.value(QStringLiteral("ScaleXPercent")), c.ScaleXPercent);
    ok = ok && ReadCorrection(store.value(QStringLiteral("ScaleYPercent")), c.ScaleYPercent);
    ok = ok && ReadCorrection(store.value(QStringLiteral("BladeOffsetMm")), c.BladeOffsetMm);
    ok = ok && ReadCorrection(store.value(QStringLiteral("OvercutMm")), c.OvercutMm);
    ok = ok && CorrectionsProblem(c).isEmpty();
    if (!ok)
        return std::nullopt;
    return s;
}

void RememberSettings(const QString& device, const DeviceSettings& s)
{
    if (device.isEmpty())
        return;
    QSettings store = Store();
    store.beginGroup(GroupOf(device));
    store.setValue(QStringLiteral("SendAs"), QString(SendAsWord(s.Language)));
    store.setValue(QStringLiteral("Paper"), s.PaperName);
    store.setValue(QStringLiteral("WidthMm"), s.PaperWidthMm);
    store.setValue(QStringLiteral("LengthMm"), s.PaperHeightMm);
    store.setValue(QStringLiteral("MarginLeftMm"), s.MarginLeftMm);
    store.setValue(QStringLiteral("MarginBottomMm"), s.MarginBottomMm);
    store.setValue(QStringLiteral("MarginRightMm"), s.MarginRightMm);
    store.setValue(QStringLiteral("MarginTopMm"), s.MarginTopMm);
    store.setValue(QStringLiteral("Landscape"), s.Landscape);
    store.setValue(QStringLiteral("Rotate90"), s.Rotate90);
    store.setValue(QStringLiteral("MirrorX"), s.MirrorX);
    store.setValue(QStringLiteral("MirrorY"), s.MirrorY);
    store.setValue(QStringLiteral("ResolutionDpi"), s.ResolutionDpi);
    if (IsPortDevice(device))
        store.setValue(QStringLiteral("Line"), PortSettingsText(s.Line));
    // The ladder's own offsets are for its one job, never kept.
    store.setValue(QStringLiteral("ScaleXPercent"), s.Corrections.ScaleXPercent);
    store.setValue(QStringLiteral("ScaleYPercent"), s.Corrections.ScaleYPercent);
    store.setValue(QStringLiteral("BladeOffsetMm"), s.Corrections.BladeOffsetMm);
    store.setValue(QStringLiteral("OvercutMm"), s.Corrections.OvercutMm);
}
