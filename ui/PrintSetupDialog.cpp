#include "ui/PrintSetupDialog.h"

#include "platform/DeviceCapabilities.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPageLayout>
#include <QPageSetupDialog>
#include <QPageSize>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

QPoint SetupDialogPosition(const QRect& monitor, const QSize& dialog)
{
    return {monitor.x() + (monitor.width() - dialog.width()) / 2,
            monitor.y() + (monitor.height() - dialog.height()) / 3};
}

DeviceSettings MatchPaper(const std::vector<DeviceSettings>& papers, const DeviceSettings& current,
                          double widthMm, double heightMm, bool landscape)
{
    // Page sizes come back rounded (points or tenths of a millimetre).
    constexpr double ToleranceMm = 1.0;
    const double w = std::min(widthMm, heightMm);
    const double h = std::max(widthMm, heightMm);
    DeviceSettings result = current;
    for (const DeviceSettings& paper : papers) {
        if (std::abs(paper.PaperWidthMm - w) <= ToleranceMm && std::abs(paper.PaperHeightMm - h) <= ToleranceMm) {
            result = paper;
            break;
        }
    }
    result.Landscape = landscape;
    return result;
}

TPrintSetupDialog::TPrintSetupDialog(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(tr("Print Setup"));
    setModal(true);

    auto* printerBox = new QGroupBox(tr("Printer"), this);
    auto* grid = new QGridLayout(printerBox);
    FList = new QComboBox(printerBox);
    FList->setObjectName(QStringLiteral("PrinterList"));
    FList->setMinimumContentsLength(28);
    FList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    auto* nameLabel = new QLabel(tr("&Name:"), printerBox);
    nameLabel->setBuddy(FList);
    FProperties = new QPushButton(tr("&Properties..."), printerBox);
    FProperties->setObjectName(QStringLiteral("PropertiesButton"));
    FProperties->setAutoDefault(false);
    FStatus = new QLabel(printerBox);
    FType = new QLabel(printerBox);
    FWhere = new QLabel(printerBox);
    FComment = new QLabel(printerBox);
    FPaper = new QLabel(printerBox);
    for (QLabel* value : {FStatus, FType, FWhere, FComment, FPaper})
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);

    grid->addWidget(nameLabel, 0, 0);
    grid->addWidget(FList, 0, 1);
    grid->addWidget(FProperties, 0, 2);
    const std::pair<QString, QLabel*> rows[] = {{tr("Status:"), FStatus},
                                                {tr("Type:"), FType},
                                                {tr("Where:"), FWhere},
                                                {tr("Comment:"), FComment},
                                                {tr("Paper:"), FPaper}};
    int row = 1;
    for (const auto& [caption, value] : rows) {
        grid->addWidget(new QLabel(caption, printerBox), row, 0);
        grid->addWidget(value, row, 1, 1, 2);
        ++row;
    }
    grid->setColumnStretch(1, 1);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    FOk = buttons->button(QDialogButtonBox::Ok);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(printerBox);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(FList, &QComboBox::activated, this, &TPrintSetupDialog::Chosen);
    connect(FProperties, &QPushButton::clicked, this, &TPrintSetupDialog::Properties);
}

void TPrintSetupDialog::SetCurrent(const QString& device, const DeviceSettings& settings)
{
    FDestinations = ListDestinations();
    FSettings = settings;
    FList->clear();
    int current = -1;
    for (const DestinationInfo& d : FDestinations) {
        if (d.Name == device)
            current = FList->count();
        FList->addItem(d.Name);
    }
    FList->setCurrentIndex(current);
    ShowDetails();
}

DeviceIdentity TPrintSetupDialog::Identity() const
{
    const int index = FList->currentIndex();
    if (index < 0 || index >= static_cast<int>(FDestinations.size()))
        return {};
    const DestinationInfo& d = FDestinations[static_cast<std::size_t>(index)];
    return {d.Name, d.Info.DriverName, d.Info.PortName};
}

void TPrintSetupDialog::Chosen(int index)
{
    if (index < 0 || index >= static_cast<int>(FDestinations.size()))
        return;
    // Another device brings its own settings, as its driver defines them.
    FSettings = DefaultSettings(FDestinations[static_cast<std::size_t>(index)].Name);
    ShowDetails();
}

void TPrintSetupDialog::ShowDetails()
{
    const int index = FList->currentIndex();
    const bool chosen = index >= 0 && index < static_cast<int>(FDestinations.size());
    FOk->setEnabled(chosen);
    FProperties->setEnabled(chosen);
    if (!chosen) {
        for (QLabel* value : {FStatus, FType, FWhere, FComment, FPaper})
            value->clear();
        return;
    }
    const PrinterInfo2& info = FDestinations[static_cast<std::size_t>(index)].Info;
    FStatus->setText(info.StatusText);
    FType->setText(info.DriverName);
    FWhere->setText(info.Location.isEmpty() ? info.PortName : info.Location);
    FComment->setText(info.Comment);
    FPaper->setText(QStringLiteral("%1, %2").arg(FSettings.PaperName.isEmpty() ? tr("(device default)")
                                                                                 : FSettings.PaperName,
                                                 FSettings.Landscape ? tr("Landscape") : tr("Portrait")));
}

void TPrintSetupDialog::Properties()
{
    const DeviceIdentity device = Identity();
    if (device.Device.isEmpty())
        return;
    // Qt's page setup works on a QPrinter; it gets a copy of our settings and
    // only what the user confirms comes back.
    QPrinter printer(QPrinter::HighResolution);
    printer.setPrinterName(device.Device);
    if (FSettings.PaperWidthMm > 0 && FSettings.PaperHeightMm > 0) {
        const QPageSize size(QSizeF(FSettings.PaperWidthMm, FSettings.PaperHeightMm), QPageSize::Millimeter,
                             FSettings.PaperName, QPageSize::FuzzyMatch);
        printer.setPageLayout(QPageLayout(size, FSettings.Landscape ? QPageLayout::Landscape : QPageLayout::Portrait,
                                          QMarginsF(FSettings.MarginLeftMm, FSettings.MarginTopMm,
                                                    FSettings.MarginRightMm, FSettings.MarginBottomMm),
                                          QPageLayout::Millimeter));
    }
    QPageSetupDialog pageSetup(&printer, this);
    if (pageSetup.exec() != QDialog::Accepted)
        return;
    const QPageLayout layout = printer.pageLayout();
    const QSizeF mm = layout.pageSize().size(QPageSize::Millimeter);
    FSettings = MatchPaper(SupportedPapers(device.Device), FSettings, mm.width(), mm.height(),
                           layout.orientation() == QPageLayout::Landscape);
    ShowDetails();
}

void TPrintSetupDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    const QScreen* monitor = parentWidget() ? parentWidget()->screen() : screen();
    if (monitor)
        move(SetupDialogPosition(monitor->geometry(), frameGeometry().size()));
}
