#include "ui/CalibrateDialog.h"

#include "ui/ErrorReport.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

// The picture's box, in device-independent pixels.
constexpr int PictureWidth = 280, PictureHeight = 250;

QAbstractSpinBox* FieldBox(const CalibrateFieldLimits& limits)
{
    if (limits.Decimals == 0) {
        auto* box = new QSpinBox;
        box->setRange(static_cast<int>(limits.Low), static_cast<int>(limits.High));
        box->setSpecialValueText(QString::fromUtf8(limits.OffText.data(), qsizetype(limits.OffText.size())));
        return box;
    }
    auto* box = new QDoubleSpinBox;
    box->setRange(limits.Low, limits.High);
    box->setDecimals(limits.Decimals);
    box->setSingleStep(limits.Decimals > 1 ? 0.01 : 0.1);
    if (!limits.Unit.empty())
        box->setSuffix(QStringLiteral(" ") + QString::fromUtf8(limits.Unit.data(), qsizetype(limits.Unit.size())));
    return box;
}

double BoxValue(const QAbstractSpinBox* box)
{
    if (const auto* whole = qobject_cast<const QSpinBox*>(box))
        return whole->value();
    return static_cast<const QDoubleSpinBox*>(box)->value();
}

void SetBoxValue(QAbstractSpinBox* box, double value)
{
    const QSignalBlocker quiet(box);
    if (auto* whole = qobject_cast<QSpinBox*>(box))
        whole->setValue(static_cast<int>(value));
    else
        static_cast<QDoubleSpinBox*>(box)->setValue(value);
}

QString Utf8(std::string_view text)
{
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

} // namespace

QPixmap CalibrationPixmap(const CalibrationPicture& picture, qreal ratio, const QPalette& palette)
{
    QPixmap pixmap(qCeil(picture.Width * ratio), qCeil(picture.Height * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(palette.color(QPalette::Base));
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPen cut(palette.color(QPalette::Text), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const QPen mark(palette.color(QPalette::Highlight), 1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    for (const PicturePath& path : picture.Paths) {
        QPainterPath line;
        for (size_t i = 0; i < path.Points.size(); ++i)
            i == 0 ? line.moveTo(path.Points[i].X, path.Points[i].Y) : line.lineTo(path.Points[i].X, path.Points[i].Y);
        painter.strokePath(line, path.Ink == PictureInk::Cut ? cut : mark);
    }
    painter.setPen(palette.color(QPalette::Highlight));
    QFont font = painter.font();
    for (const PictureText& text : picture.Texts) {
        font.setPixelSize(qMax(1, qRound(text.Height)));
        painter.setFont(font);
        const QRectF box(text.Centre.X - text.Height * 2, text.Centre.Y - text.Height, text.Height * 4,
                         text.Height * 2);
        painter.drawText(box, Qt::AlignCenter, Utf8(text.Text));
    }
    return pixmap;
}

TCalibrateDialog::TCalibrateDialog(const DeviceIdentity& identity, const DeviceSettings& settings,
                                   std::function<void(const CalibrationCut&)> cut, QWidget* parent)
    : QDialog(parent), FModel(identity, settings), FCut(std::move(cut))
{
    setWindowTitle(tr("Calibrate"));
    auto* columns = new QHBoxLayout(this);
    // The steps' column as wide as the longest pattern's rows take, so that
    // the dialog keeps its width and the wrapped texts their lines.
    auto* steps = new QWidget;
    steps->setMinimumWidth(360);
    auto* layout = new QVBoxLayout(steps);
    layout->setContentsMargins(0, 0, 0, 0);
    columns->addWidget(steps);
    auto* device = new QLabel;
    device->setTextFormat(Qt::PlainText);
    device->setText(QString::fromStdString(FModel.DeviceText()));
    layout->addWidget(device);

    // 1. The pattern and its size.
    auto* choose = new QGroupBox(tr("1. Pattern"));
    FPatternForm = new QFormLayout(choose);
    PatternList = new QComboBox;
    for (const CalibratePatternChoice& choice : CalibratePatterns())
        PatternList->addItem(Utf8(choice.Caption), int(choice.Pattern));
    auto* patternLabel = new QLabel(tr("&Pattern:"));
    patternLabel->setBuddy(PatternList);
    FPatternForm->addRow(patternLabel, PatternList);
    AddRows(FPatternForm, false);
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
    FMeasureForm = new QFormLayout;
    AddRows(FMeasureForm, true);
    measureLayout->addLayout(FMeasureForm);
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
    layout->addStretch();
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    layout->addWidget(buttons);

    // Beside the steps, the pattern as it will be cut, marked for measuring.
    Picture = new QLabel;
    Picture->setFixedSize(PictureWidth, PictureHeight);
    Picture->setFrameShape(QFrame::StyledPanel);
    columns->addWidget(Picture, 0, Qt::AlignTop);

    using F = CalibrateField;
    const auto box = [this](F field) { return FBoxes[static_cast<int>(field)]; };
    Length = static_cast<QDoubleSpinBox*>(box(F::Length));
    From = static_cast<QDoubleSpinBox*>(box(F::OffsetFrom));
    To = static_cast<QDoubleSpinBox*>(box(F::OffsetTo));
    Step = static_cast<QDoubleSpinBox*>(box(F::OffsetStep));
    ForceFrom = static_cast<QSpinBox*>(box(F::ForceFrom));
    ForceTo = static_cast<QSpinBox*>(box(F::ForceTo));
    ForceStep = static_cast<QSpinBox*>(box(F::ForceStep));
    SpeedFrom = static_cast<QSpinBox*>(box(F::SpeedFrom));
    SpeedTo = static_cast<QSpinBox*>(box(F::SpeedTo));
    SpeedStep = static_cast<QSpinBox*>(box(F::SpeedStep));
    MeasuredX = static_cast<QDoubleSpinBox*>(box(F::MeasuredX));
    MeasuredY = static_cast<QDoubleSpinBox*>(box(F::MeasuredY));
    BestSquare = static_cast<QSpinBox*>(box(F::Best));
    SquareWidth = static_cast<QDoubleSpinBox*>(box(F::SideX));
    SquareHeight = static_cast<QDoubleSpinBox*>(box(F::SideY));
    DiagonalA = static_cast<QDoubleSpinBox*>(box(F::DiagonalA));
    DiagonalB = static_cast<QDoubleSpinBox*>(box(F::DiagonalB));
    ShowValues();

    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::accept);
    connect(PatternList, &QComboBox::currentIndexChanged, this, [this](int index) {
        FModel.Choose(index);
        Refresh();
    });
    for (int i = 0; i < CalibrateFieldCount; ++i) {
        const auto changed = [this, i] {
            FModel.SetValue(static_cast<F>(i), BoxValue(FBoxes[i]));
            Refresh();
        };
        if (auto* whole = qobject_cast<QSpinBox*>(FBoxes[i]))
            connect(whole, &QSpinBox::valueChanged, this, changed);
        else
            connect(static_cast<QDoubleSpinBox*>(FBoxes[i]), &QDoubleSpinBox::valueChanged, this, changed);
    }
    connect(BtnCut, &QPushButton::clicked, this, [this] { RunGuarded([this] { FCut(FModel.CutToSend()); }); });
    connect(BtnKeep, &QPushButton::clicked, this, [this] { RunGuarded([this] { KeepClick(); }); });
    // Enter in a field must not close the dialog: it has no default button.
    for (QPushButton* b : {BtnCut, BtnKeep})
        b->setAutoDefault(false);
    Refresh();
}

void TCalibrateDialog::AddRows(QFormLayout* form, bool measured)
{
    for (const CalibratePatternChoice& choice : CalibratePatterns())
        for (const CalibrateRow& row : measured ? choice.Measured : choice.Rows) {
            if (FBoxes[static_cast<int>(row.Fields.front())])
                continue; // a row two patterns share
            auto* line = new QHBoxLayout;
            for (const CalibrateField field : row.Fields) {
                FBoxes[static_cast<int>(field)] = FieldBox(FModel.Limits(field));
                line->addWidget(FBoxes[static_cast<int>(field)]);
            }
            auto* label = new QLabel(Utf8(row.Label));
            label->setBuddy(FBoxes[static_cast<int>(row.Fields.front())]);
            form->addRow(label, line);
        }
}

void TCalibrateDialog::ShowValues()
{
    for (int i = 0; i < CalibrateFieldCount; ++i)
        if (const std::optional<double> value = FModel.Value(static_cast<CalibrateField>(i)))
            SetBoxValue(FBoxes[i], *value);
}

void TCalibrateDialog::Refresh()
{
    // The rows of the chosen pattern; the others hidden, their mnemonics too.
    const CalibratePatternChoice& choice = FModel.Choice();
    for (QFormLayout* form : {FPatternForm, FMeasureForm})
        for (int row = form == FPatternForm ? 1 : 0; row < form->rowCount(); ++row) {
            const auto* label = qobject_cast<QLabel*>(form->itemAt(row, QFormLayout::LabelRole)->widget());
            bool shown = false;
            for (const auto* rows : {&choice.Rows, &choice.Measured})
                for (const CalibrateRow& r : *rows)
                    shown = shown || label->buddy() == FBoxes[static_cast<int>(r.Fields.front())];
            form->setRowVisible(row, shown);
        }
    {
        // As many squares as the ladder or grid has; a value past them comes down.
        const QSignalBlocker quiet(BestSquare);
        BestSquare->setMaximum(static_cast<int>(FModel.Limits(CalibrateField::Best).High));
        FModel.SetValue(CalibrateField::Best, BestSquare->value());
    }
    Order->setText(QString::fromStdString(FModel.Order()));
    const CalibrateChange change = FModel.Change();
    Change->setText(QString::fromStdString(change.Text));
    BtnKeep->setEnabled(change.CanKeep);
    const qreal ratio = devicePixelRatioF();
    const CalibrationPicture picture = FModel.Picture(PictureWidth, PictureHeight, QFontInfo(font()).pixelSize());
    Picture->setPixmap(CalibrationPixmap(picture, ratio, palette()));
}

void TCalibrateDialog::showEvent(QShowEvent* event)
{
    FReportOwner.emplace(this);
    QDialog::showEvent(event);
}

void TCalibrateDialog::hideEvent(QHideEvent* event)
{
    FReportOwner.reset();
    QDialog::hideEvent(event);
}

void TCalibrateDialog::KeepClick()
{
    // The fields follow the model even when the file could not be written.
    const auto shown = qScopeGuard([this] {
        ShowValues();
        Refresh();
    });
    FModel.Keep();
}
