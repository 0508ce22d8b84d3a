#include "ui/CalibrateDialog.h"

#include "common/Exceptions.h"
#include "cutter/CutterLanguage.h"
#include "platform/DeviceSettingsStore.h"
#include "ui/ErrorReport.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {

QDoubleSpinBox* MmBox(double low, double high, double value, int decimals)
{
    auto* box = new QDoubleSpinBox;
    box->setRange(low, high);
    box->setDecimals(decimals);
    box->setSingleStep(decimals > 1 ? 0.01 : 0.1);
    box->setSuffix(QStringLiteral(" mm"));
    box->setValue(value);
    return box;
}

QString Percent(double v)
{
    return QStringLiteral("%1 %").arg(v, 0, 'f', 2);
}

QString Mm(double v)
{
    return v > 0 ? QStringLiteral("%1 mm").arg(v, 0, 'f', 2) : QObject::tr("off");
}

} // namespace

TCalibrateDialog::TCalibrateDialog(const DeviceIdentity& identity, const DeviceSettings& settings,
                                   std::function<void(const CalibrationCut&)> cut, QWidget* parent)
    : QDialog(parent), FIdentity(identity), FSettings(settings), FCut(std::move(cut))
{
    setWindowTitle(tr("Calibrate"));
    auto* layout = new QVBoxLayout(this);
    auto* device = new QLabel;
    device->setTextFormat(Qt::PlainText);
    device->setText(tr("Device: %1").arg(QString::fromStdString(identity.Device)));
    layout->addWidget(device);

    // 1. The pattern and its size.
    auto* choose = new QGroupBox(tr("1. Pattern"));
    auto* chooseForm = new QFormLayout(choose);
    PatternList = new QComboBox;
    PatternList->addItem(tr("Scale lines"), int(CalibrationPattern::Scale));
    PatternList->addItem(tr("Blade offset ladder"), int(CalibrationPattern::Ladder));
    PatternList->addItem(tr("Test cut (force)"), int(CalibrationPattern::TestCut));
    PatternList->addItem(tr("Sample"), int(CalibrationPattern::Sample));
    PatternList->addItem(tr("Square (skew)"), int(CalibrationPattern::Square));
    PatternList->addItem(tr("Force × speed grid"), int(CalibrationPattern::Grid));
    auto* patternLabel = new QLabel(tr("&Pattern:"));
    patternLabel->setBuddy(PatternList);
    chooseForm->addRow(patternLabel, PatternList);
    FChoices = new QStackedWidget;
    auto* scalePage = new QWidget;
    auto* scaleForm = new QFormLayout(scalePage);
    scaleForm->setContentsMargins(0, 0, 0, 0);
    Length = MmBox(MinScaleLengthMm, 5000, DefaultScaleLengthMm, 1);
    auto* lengthLabel = new QLabel(tr("Line &length:"));
    lengthLabel->setBuddy(Length);
    scaleForm->addRow(lengthLabel, Length);
    auto* ladderPage = new QWidget;
    auto* ladderForm = new QFormLayout(ladderPage);
    ladderForm->setContentsMargins(0, 0, 0, 0);
    const LadderSteps steps;
    From = MmBox(0, MaxBladeOffsetMm, steps.FromMm, 2);
    To = MmBox(0, MaxBladeOffsetMm, steps.ToMm, 2);
    Step = MmBox(0.01, MaxBladeOffsetMm, steps.StepMm, 2);
    auto* fromLabel = new QLabel(tr("Offsets &from:"));
    fromLabel->setBuddy(From);
    auto* toLabel = new QLabel(tr("&to:"));
    toLabel->setBuddy(To);
    auto* stepLabel = new QLabel(tr("in st&eps of:"));
    stepLabel->setBuddy(Step);
    ladderForm->addRow(fromLabel, From);
    ladderForm->addRow(toLabel, To);
    ladderForm->addRow(stepLabel, Step);
    // The grid: a row of three boxes for the forces, one for the speeds,
    // filled with a low part of the language's range.
    auto* gridPage = new QWidget;
    auto* gridForm = new QFormLayout(gridPage);
    gridForm->setContentsMargins(0, 0, 0, 0);
    const auto stepRow = [gridForm](const QString& text, QSpinBox*& from, QSpinBox*& to, QSpinBox*& step,
                                    const ToolRange& range) {
        auto* row = new QHBoxLayout;
        for (QSpinBox** box : {&from, &to, &step}) {
            *box = new QSpinBox;
            (*box)->setRange(0, static_cast<int>(MaxToolValue));
            row->addWidget(*box);
        }
        step->setSpecialValueText(QObject::tr("Off"));
        // Three round steps from a fifth of the way up.
        const int span = range.High - range.Low;
        int nice = 1;
        for (const int each : {2, 5, 10, 20, 50, 100})
            if (each <= span / 8)
                nice = each;
        const int first = (range.Low + span / 5 + nice - 1) / nice * nice;
        from->setValue(first);
        to->setValue(first + 2 * nice);
        step->setValue(range.Command.empty() ? 0 : nice);
        auto* label = new QLabel(text);
        label->setBuddy(from);
        gridForm->addRow(label, row);
    };
    stepRow(tr("&Forces from, to, step:"), ForceFrom, ForceTo, ForceStep, ForceRange(settings.Language));
    stepRow(tr("&Speeds from, to, step:"), SpeedFrom, SpeedTo, SpeedStep, SpeedRange(settings.Language));
    FChoices->addWidget(scalePage);
    FChoices->addWidget(ladderPage);
    FChoices->addWidget(new QWidget);
    FChoices->addWidget(gridPage);
    chooseForm->addRow(FChoices);
    layout->addWidget(choose);

    // 2. Cut.
    auto* cutBox = new QGroupBox(tr("2. Cut"));
    auto* cutLayout = new QVBoxLayout(cutBox);
    Order = new QLabel;
    Order->setWordWrap(true);
    Order->setTextFormat(Qt::PlainText);
    cutLayout->addWidget(Order);
    BtnCut = new QPushButton(tr("&Cut"));
    cutLayout->addWidget(BtnCut, 0, Qt::AlignLeft);
    layout->addWidget(cutBox);

    // 3. What was measured, and the correction it gives.
    auto* measureBox = new QGroupBox(tr("3. Measured"));
    auto* measureLayout = new QVBoxLayout(measureBox);
    FMeasure = new QStackedWidget;
    auto* linesPage = new QWidget;
    auto* linesForm = new QFormLayout(linesPage);
    linesForm->setContentsMargins(0, 0, 0, 0);
    MeasuredX = MmBox(1, 10000, DefaultScaleLengthMm, 2);
    MeasuredY = MmBox(1, 10000, DefaultScaleLengthMm, 2);
    auto* xLabel = new QLabel(tr("Line &X:"));
    xLabel->setBuddy(MeasuredX);
    auto* yLabel = new QLabel(tr("Line &Y:"));
    yLabel->setBuddy(MeasuredY);
    linesForm->addRow(xLabel, MeasuredX);
    linesForm->addRow(yLabel, MeasuredY);
    auto* squarePage = new QWidget;
    auto* squareForm = new QFormLayout(squarePage);
    squareForm->setContentsMargins(0, 0, 0, 0);
    BestSquare = new QSpinBox;
    BestSquare->setRange(1, MaxLadderSquares);
    auto* bestLabel = new QLabel(tr("&Best square:"));
    bestLabel->setBuddy(BestSquare);
    squareForm->addRow(bestLabel, BestSquare);
    auto* rectanglePage = new QWidget;
    auto* rectangleForm = new QFormLayout(rectanglePage);
    rectangleForm->setContentsMargins(0, 0, 0, 0);
    SquareWidth = MmBox(1, 10000, 0, 2);
    SquareHeight = MmBox(1, 10000, 0, 2);
    DiagonalA = MmBox(1, 20000, 0, 2);
    DiagonalB = MmBox(1, 20000, 0, 2);
    const std::pair<QDoubleSpinBox*, QString> rectangleRows[] = {{SquareWidth, tr("Side along &x:")},
                                                                 {SquareHeight, tr("Side along &y:")},
                                                                 {DiagonalA, tr("Diagonal &A (one tick):")},
                                                                 {DiagonalB, tr("Diagonal &B (two ticks):")}};
    for (const auto& [box, text] : rectangleRows) {
        auto* label = new QLabel(text);
        label->setBuddy(box);
        rectangleForm->addRow(label, box);
    }
    ResetSquare();
    FMeasure->addWidget(linesPage);
    FMeasure->addWidget(squarePage);
    FMeasure->addWidget(new QWidget);
    FMeasure->addWidget(rectanglePage);
    measureLayout->addWidget(FMeasure);
    Change = new QLabel;
    Change->setWordWrap(true);
    Change->setTextFormat(Qt::PlainText);
    Change->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    measureLayout->addWidget(Change);
    BtnKeep = new QPushButton(tr("&Keep correction"));
    measureLayout->addWidget(BtnKeep, 0, Qt::AlignLeft);
    layout->addWidget(measureBox);

    auto* note = new QLabel(tr("4. Cut again to check: the next cut has the kept correction."));
    note->setWordWrap(true);
    layout->addWidget(note);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    connect(PatternList, &QComboBox::currentIndexChanged, this, [this] { PatternChosen(); });
    for (QDoubleSpinBox* box : {Length, From, To, Step, MeasuredX, MeasuredY})
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { PatternChosen(); });
    for (QSpinBox* box : {ForceFrom, ForceTo, ForceStep, SpeedFrom, SpeedTo, SpeedStep})
        connect(box, &QSpinBox::valueChanged, this, [this] { PatternChosen(); });
    connect(BestSquare, &QSpinBox::valueChanged, this, [this] { ShowChange(); });
    for (QDoubleSpinBox* box : {SquareWidth, SquareHeight, DiagonalA, DiagonalB})
        connect(box, &QDoubleSpinBox::valueChanged, this, [this] { ShowChange(); });
    connect(BtnCut, &QPushButton::clicked, this, [this] { RunGuarded([this] { CutClick(); }); });
    connect(BtnKeep, &QPushButton::clicked, this, [this] { RunGuarded([this] { KeepClick(); }); });
    // Enter in a field must not close the dialog: it has no default button.
    for (QPushButton* b : {BtnCut, BtnKeep})
        b->setAutoDefault(false);
    PatternChosen();
}

CalibrationCut TCalibrateDialog::Pattern() const
{
    CalibrationCut cut;
    cut.Pattern = static_cast<CalibrationPattern>(PatternList->currentData().toInt());
    cut.LengthMm = Length->value();
    cut.Offsets = {From->value(), To->value(), Step->value()};
    cut.Forces = {ForceFrom->value(), ForceTo->value(), ForceStep->value()};
    cut.Speeds = {SpeedFrom->value(), SpeedTo->value(), SpeedStep->value()};
    return cut;
}

CutterCorrections TCalibrateDialog::Proposed() const
{
    const CalibrationCut cut = Pattern();
    CutterCorrections c = FSettings.Corrections;
    if (cut.Pattern == CalibrationPattern::Scale) {
        c = WithMeasuredScale(c, cut.LengthMm, MeasuredX->value(), MeasuredY->value());
    } else if (cut.Pattern == CalibrationPattern::Square) {
        const auto [width, height] = SquarePatternSizeMm(FSettings);
        c = WithMeasuredSquare(c, width, height,
                               {SquareWidth->value(), SquareHeight->value(), DiagonalA->value(), DiagonalB->value()},
                               SheetToCutterSkewSign(FSettings.Rotate90, FSettings.MirrorX, FSettings.MirrorY));
    } else if (cut.Pattern == CalibrationPattern::Ladder) {
        const std::vector<double> offsets = LadderOffsets(cut.Offsets);
        const int best = BestSquare->value();
        if (best < 1 || best > static_cast<int>(offsets.size()))
            throw EConvertError(tr("The ladder has squares 1 to %1").arg(offsets.size()).toStdString());
        c.BladeOffsetMm = offsets[static_cast<size_t>(best - 1)];
    } else if (cut.Pattern == CalibrationPattern::Grid) {
        int columns = 0;
        const std::vector<ToolSetting> cells = GridCells(cut, FSettings, columns);
        const int best = BestSquare->value();
        if (best < 1 || best > static_cast<int>(cells.size()))
            throw EConvertError(tr("The grid has squares 1 to %1").arg(cells.size()).toStdString());
        c.Force = cells[static_cast<size_t>(best - 1)].Force;
        c.Speed = cells[static_cast<size_t>(best - 1)].Speed;
    }
    return c;
}

void TCalibrateDialog::PatternChosen()
{
    const CalibrationCut cut = Pattern();
    const int page = cut.Pattern == CalibrationPattern::Scale ? 0 : cut.Pattern == CalibrationPattern::Ladder ? 1 : 2;
    const bool grid = cut.Pattern == CalibrationPattern::Grid;
    FChoices->setCurrentIndex(grid ? 3 : page);
    // The grid's best cell is typed as the ladder's best square is.
    FMeasure->setCurrentIndex(cut.Pattern == CalibrationPattern::Square ? 3 : grid ? 1 : page);
    const bool driver = FSettings.Language == SendAs::Driver;
    QString order;
    switch (cut.Pattern) {
    case CalibrationPattern::Scale:
        order = tr("Measure each line between the ticks at its ends. The line marked X runs along x, the one "
                   "marked Y along y.");
        break;
    case CalibrationPattern::Ladder:
        try {
            const std::vector<double> offsets = LadderOffsets(cut.Offsets);
            BestSquare->setMaximum(static_cast<int>(offsets.size()));
            order = tr("%1 squares, left to right; the ticks under each count its number (a long tick is five). "
                       "Square 1 is cut with %2, the last with %3. Pick the one whose corners are sharp and "
                       "without loops.")
                        .arg(offsets.size())
                        .arg(Mm(offsets.front()), Mm(offsets.back()));
        } catch (const Exception& e) {
            order = QString::fromStdString(e.Message());
        }
        if (driver)
            order += tr(" Through the printer driver, blade offset belongs to the driver: the squares come out "
                        "alike.");
        break;
    case CalibrationPattern::TestCut:
        order = tr("Triangle not cut through: more force. Backing scored: less force. Rounded corners: more blade "
                   "offset.");
        break;
    case CalibrationPattern::Sample: order = tr("The sample, with the device's corrections."); break;
    case CalibrationPattern::Square:
        order = tr("Measure the side along x, the side along y, and the diagonals between the corner marks: A "
                   "between the corners with one tick, B between those with two.");
        if (driver)
            order += tr(" Through the printer driver only the scale is used: the skew is for cutter languages.");
        break;
    case CalibrationPattern::Grid:
        try {
            int columns = 0;
            const std::vector<ToolSetting> cells = GridCells(cut, FSettings, columns);
            BestSquare->setMaximum(static_cast<int>(cells.size()));
            order = tr("%1 squares, a row for each force (the first on top), a column for each speed; numbered "
                       "left to right, row after row, by the ticks under each (a long tick is five). Pick the "
                       "one cut cleanly through, its backing not scored.")
                        .arg(cells.size());
        } catch (const Exception& e) {
            order = QString::fromStdString(e.Message());
        }
        break;
    }
    Order->setText(order);
    ShowChange();
}

void TCalibrateDialog::ShowChange()
{
    const CutterCorrections& old = FSettings.Corrections;
    QString text;
    bool can = false;
    try {
        const CutterCorrections c = Proposed();
        switch (Pattern().Pattern) {
        case CalibrationPattern::Scale:
            text = tr("Scale x: %1 → %2, y: %3 → %4")
                       .arg(Percent(old.ScaleXPercent), Percent(c.ScaleXPercent), Percent(old.ScaleYPercent),
                            Percent(c.ScaleYPercent));
            can = true;
            break;
        case CalibrationPattern::Ladder:
            text = tr("Blade offset: %1 → %2").arg(Mm(old.BladeOffsetMm), Mm(c.BladeOffsetMm));
            can = FSettings.Language != SendAs::Driver;
            break;
        case CalibrationPattern::Grid: {
            const auto value = [](double v) { return v > 0 ? QString::number(v) : tr("off"); };
            text = tr("Force: %1 → %2, speed: %3 → %4")
                       .arg(value(old.Force), value(c.Force), value(old.Speed), value(c.Speed));
            can = true;
            break;
        }
        case CalibrationPattern::Square:
            text = tr("Scale x: %1 → %2, y: %3 → %4; skew: %5° → %6°")
                       .arg(Percent(old.ScaleXPercent), Percent(c.ScaleXPercent), Percent(old.ScaleYPercent),
                            Percent(c.ScaleYPercent))
                       .arg(old.SkewDeg, 0, 'f', 3)
                       .arg(c.SkewDeg, 0, 'f', 3);
            can = true;
            break;
        default: text = tr("Nothing to measure: this cut checks the corrections as kept."); break;
        }
    } catch (const Exception& e) {
        text = QString::fromStdString(e.Message());
    }
    Change->setText(text);
    BtnKeep->setEnabled(can);
}

void TCalibrateDialog::CutClick()
{
    CalibrationCut cut = Pattern();
    std::vector<double> unused;
    PatternPlot(cut, FSettings, unused); // a pattern that does not fit is reported before any job
    FCut(cut);
}

void TCalibrateDialog::KeepClick()
{
    DeviceSettings s = FSettings;
    s.Corrections = CheckedCorrections(Proposed());
    Printer().SetPrinter(FIdentity, s);
    FSettings = s;
    // The next measurement is taken on a cut with this correction.
    MeasuredX->setValue(Length->value());
    MeasuredY->setValue(Length->value());
    ResetSquare();
    ShowChange();
    // Last: the correction holds for this session, and a file that cannot
    // be written is reported.
    SaveSettings(FIdentity.Device, s);
}

void TCalibrateDialog::ResetSquare()
{
    double width = SquareWidthMm, height = SquareHeightMm;
    try {
        std::tie(width, height) = SquarePatternSizeMm(FSettings);
    } catch (const Exception&) {
        // Too small a sheet: Cut says so; the fields keep the usual size.
    }
    const double diagonal = std::round(std::hypot(width, height) * 100) / 100;
    for (const auto& [box, value] : {std::pair{SquareWidth, width}, std::pair{SquareHeight, height},
                                     std::pair{DiagonalA, diagonal}, std::pair{DiagonalB, diagonal}})
        box->setValue(value);
}
