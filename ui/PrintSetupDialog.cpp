#include "ui/PrintSetupDialog.h"

#include "cutter/CutterLanguage.h"
#include "cutter/PrintableArea.h"
#include "output/CutterSettingsModel.h"
#include "output/LineCheck.h"
#include "platform/DeviceCapabilities.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/serial/PortDevices.h"
#include "platform/serial/PortList.h"
#include "ui/ErrorReport.h"
#include "ui_PrintSetupDialog.h"

#include <QFutureWatcher>
#include <QPushButton>
#include <QScreen>
#include <QStandardItemModel>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <exception>
#include <tuple>

namespace {

bool SameSheet(const DeviceSettings& a, const DeviceSettings& b)
{
    return a.PaperName == b.PaperName && a.PaperWidthMm == b.PaperWidthMm && a.PaperHeightMm == b.PaperHeightMm
           && a.MarginLeftMm == b.MarginLeftMm && a.MarginBottomMm == b.MarginBottomMm
           && a.MarginRightMm == b.MarginRightMm && a.MarginTopMm == b.MarginTopMm;
}

bool NoMargins(const DeviceSettings& s)
{
    return s.MarginLeftMm == 0 && s.MarginBottomMm == 0 && s.MarginRightMm == 0 && s.MarginTopMm == 0;
}

QString SheetText(const DeviceSettings& s, bool driver)
{
    QString text = QStringLiteral("%1 (%2 x %3 mm")
                       .arg(QString::fromStdString(s.PaperName))
                       .arg(s.PaperWidthMm)
                       .arg(s.PaperHeightMm);
    if (driver && NoMargins(s))
        text += TPrintSetupDialog::tr(", borderless");
    return text + QLatin1Char(')');
}

QString MarginsText(const DeviceSettings& s)
{
    if (NoMargins(s))
        return TPrintSetupDialog::tr("None");
    return TPrintSetupDialog::tr("left %1, bottom %2, right %3, top %4 mm")
        .arg(s.MarginLeftMm)
        .arg(s.MarginBottomMm)
        .arg(s.MarginRightMm)
        .arg(s.MarginTopMm);
}

} // namespace

QPoint SetupDialogPosition(const QRect& monitor, const QSize& dialog)
{
    return {monitor.x() + (monitor.width() - dialog.width()) / 2,
            monitor.y() + (monitor.height() - dialog.height()) / 3};
}

// One answer from the worker: the destinations (when asked for) and what one
// device offers, or the failure that stopped the asking.
struct TPrintSetupDialog::TAnswer {
    int Question = 0;
    bool WithList = false;
    std::vector<DestinationInfo> Destinations;
    std::string Device;
    TDeviceChoices Choices;
    std::exception_ptr Failure;
};

TPrintSetupDialog::TPrintSetupDialog(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::TPrintSetupDialog>())
{
    ui->setupUi(this);
    connect(ui->ButtonBox, &QDialogButtonBox::accepted, this, &TPrintSetupDialog::accept);
    connect(ui->PrinterList, &QComboBox::activated, this, &TPrintSetupDialog::Chosen);
    connect(ui->SendAsList, &QComboBox::currentIndexChanged, this, &TPrintSetupDialog::SendAsChosen);
    connect(ui->PaperList, &QComboBox::currentIndexChanged, this, &TPrintSetupDialog::SheetChosen);
    connect(ui->CustomWidth, &QDoubleSpinBox::valueChanged, this, &TPrintSetupDialog::CustomChanged);
    connect(ui->CustomLength, &QDoubleSpinBox::valueChanged, this, &TPrintSetupDialog::CustomChanged);
    const std::pair<QAbstractButton*, bool DeviceSettings::*> switches[] = {
        {ui->Landscape, &DeviceSettings::Landscape},
        {ui->Rotate90, &DeviceSettings::Rotate90},
        {ui->MirrorX, &DeviceSettings::MirrorX},
        {ui->MirrorY, &DeviceSettings::MirrorY},
    };
    for (const auto& [button, field] : switches) {
        connect(button, &QAbstractButton::toggled, this, [this, field = field](bool on) {
            if (!FFilling)
                FSettings.*field = on;
        });
    }
    for (const auto& [box, field] :
         {std::pair(ui->CustomWidth, CutterField::SheetWidth), std::pair(ui->CustomLength, CutterField::SheetLength)}) {
        const FieldLimits limits = LimitsOf(field);
        box->setDecimals(limits.Decimals);
        box->setRange(limits.Low, limits.High);
    }
    const std::tuple<QDoubleSpinBox*, CutterField, double CutterCorrections::*> corrections[] = {
        {ui->ScaleX, CutterField::ScaleX, &CutterCorrections::ScaleXPercent},
        {ui->ScaleY, CutterField::ScaleY, &CutterCorrections::ScaleYPercent},
        {ui->BladeOffset, CutterField::BladeOffset, &CutterCorrections::BladeOffsetMm},
        {ui->Overcut, CutterField::Overcut, &CutterCorrections::OvercutMm},
        {ui->WeedBox, CutterField::WeedBox, &CutterCorrections::WeedBoxMm},
    };
    for (const auto& [box, name, field] : corrections) {
        const FieldLimits limits = LimitsOf(name);
        box->setDecimals(limits.Decimals);
        box->setRange(limits.Low, limits.High);
        connect(box, &QDoubleSpinBox::valueChanged, this, [this, field = field](double value) {
            if (!FFilling)
                FSettings.Corrections.*field = value;
        });
    }
    for (const auto& [box, field] :
         {std::pair(ui->Force, &CutterCorrections::Force), std::pair(ui->CutSpeed, &CutterCorrections::Speed)}) {
        connect(box, &QSpinBox::valueChanged, this, [this, field = field](int value) {
            if (!FFilling)
                FSettings.Corrections.*field = value;
        });
    }
    connect(ui->CheckLineButton, &QPushButton::clicked, this, &TPrintSetupDialog::CheckLine);
    connect(ui->OrderList, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!FFilling)
            FSettings.Corrections.Order = index == 1 ? CutOrderMode::Optimised : CutOrderMode::Drawn;
    });
    for (const auto& [list, field] : LineLists()) {
        for (const LineOption& option : LineOptions(field))
            list->addItem(QString::fromUtf8(option.Caption));
        connect(list, &QComboBox::currentIndexChanged, this, [this, field = field](int index) {
            if (!FFilling)
                TakeLineOption(field, index, FSettings.Line);
        });
    }
    UpdateControls();
}

TPrintSetupDialog::~TPrintSetupDialog() = default;

QComboBox* TPrintSetupDialog::PrinterList() const noexcept
{
    return ui->PrinterList;
}

void TPrintSetupDialog::SetCurrent(const std::string& device, const DeviceSettings& settings)
{
    FCurrentDevice = device;
    FSettings = settings;
    FDestinations.clear();
    FDevices.clear();
    FChosen.clear();
    FShown.clear();
    if (!device.empty())
        FChosen[device] = settings;
    FFilling = true;
    ui->PrinterList->clear();
    ui->PrinterList->setPlaceholderText(tr("Loading..."));
    FFilling = false;
    ShowDetails();
    Ask(true, device);
}

void TPrintSetupDialog::Ask(bool withList, const std::string& device)
{
    FLoading = true;
    ui->LoadingText->setText(tr("Loading..."));
    UpdateControls();
    // The worker gets values only: the dialog may be gone when it ends.
    auto* watcher = new QFutureWatcher<TAnswer>(this);
    const int question = ++FQuestion;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher] {
        watcher->deleteLater();
        Answered(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([question, withList, device] {
        TAnswer answer;
        answer.Question = question;
        answer.WithList = withList;
        answer.Device = device;
        try {
            if (withList) {
                // A print server that cannot be asked still leaves the ports:
                // a cutter on a cable needs no server.
                try {
                    answer.Destinations = ListDestinations();
                } catch (...) {
                    answer.Failure = std::current_exception();
                }
                for (const PortInfo& port : ListPorts()) {
                    const std::string path = port.Path.toStdString();
                    DestinationInfo d{path, PortRecord(path), false};
                    d.Info.Comment = port.Description.toStdString();
                    answer.Destinations.push_back(std::move(d));
                }
                // The port in use stays choosable when the system does not
                // list it (a line carried over the network, a pseudo-terminal).
                const auto listed = [&device](const DestinationInfo& d) { return d.Name == device; };
                if (IsPortDevice(device)
                    && std::none_of(answer.Destinations.begin(), answer.Destinations.end(), listed))
                    answer.Destinations.push_back({device, PortRecord(device), false});
            }
            if (!device.empty() && !answer.Failure) {
                answer.Choices.Papers = SupportedPapers(device);
                answer.Choices.Defaults = DefaultSettings(device);
                answer.Choices.Remembered = RememberedSettings(device, answer.Choices.Defaults);
            }
        } catch (...) {
            answer.Failure = std::current_exception();
        }
        return answer;
    }));
}

void TPrintSetupDialog::Answered(const TAnswer& answer)
{
    if (answer.Question != FQuestion)
        return; // the user has moved on to another device
    FLoading = false;
    if (answer.Failure && answer.WithList && !answer.Destinations.empty()) {
        // Only the server failed: say so once, and offer the ports.
        RunGuarded([&answer] { std::rethrow_exception(answer.Failure); });
    } else if (answer.Failure) {
        ui->PrinterList->setPlaceholderText(QString());
        ui->LoadingText->setText(answer.WithList ? tr("The printers could not be listed.")
                                                 : tr("The printer could not be asked."));
        FShown.clear();
        UpdateControls();
        RunGuarded([&answer] { std::rethrow_exception(answer.Failure); });
        return;
    }
    ui->LoadingText->setText(answer.Failure ? tr("The printers could not be listed; ports only.") : QString());
    if (!answer.Device.empty())
        FDevices[answer.Device] = answer.Choices;
    if (answer.WithList) {
        FDestinations = answer.Destinations;
        FFilling = true;
        ui->PrinterList->setPlaceholderText(FDestinations.empty() ? tr("(no printers)") : tr("(choose a printer)"));
        int current = -1;
        for (const DestinationInfo& d : FDestinations) {
            if (d.Name == FCurrentDevice)
                current = ui->PrinterList->count();
            ui->PrinterList->addItem(QString::fromStdString(d.Name));
        }
        ui->PrinterList->setCurrentIndex(current);
        FFilling = false;
        ShowDetails();
    }
    const std::string device = Identity().Device;
    if (FDevices.count(device))
        ShowDevice(device);
    else
        UpdateControls();
}

DeviceIdentity TPrintSetupDialog::Identity() const
{
    const int index = ui->PrinterList->currentIndex();
    if (index < 0 || index >= static_cast<int>(FDestinations.size()))
        return {};
    const DestinationInfo& d = FDestinations[static_cast<std::size_t>(index)];
    return {d.Name, d.Info.DriverName, d.Info.PortName};
}

void TPrintSetupDialog::Chosen(int index)
{
    if (FFilling || index < 0 || index >= static_cast<int>(FDestinations.size()))
        return;
    if (!FShown.empty())
        FChosen[FShown] = FSettings;
    ShowDetails();
    const std::string device = FDestinations[static_cast<std::size_t>(index)].Name;
    if (FDevices.count(device)) {
        ++FQuestion; // an answer still on its way is for another device
        FLoading = false;
        ui->LoadingText->clear();
        ShowDevice(device);
        return;
    }
    FShown.clear();
    Ask(false, device);
}

void TPrintSetupDialog::ShowDevice(const std::string& device)
{
    const TDeviceChoices& choices = FDevices.at(device);
    const auto it = FChosen.find(device);
    FSettings = SettingsToShow(it != FChosen.end() ? std::optional(it->second) : std::nullopt, [&choices] {
        return KnownSettings{choices.Remembered, choices.Defaults};
    });
    if (device != FShown)
        ui->CheckLineText->clear();
    FShown = device;
    FillSheets();
    UpdateControls();
}

void TPrintSetupDialog::SendAsChosen(int index)
{
    if (FFilling || FShown.empty() || index < 0)
        return;
    const auto language = static_cast<SendAs>(index);
    if (!OffersLanguage(DeviceKindOf(FShown), language))
        return;
    ChangeLanguage(FSettings, language, [this] {
        const TDeviceChoices& choices = FDevices.at(FShown);
        return DriverPapers{choices.Papers, choices.Defaults};
    });
    FillSheets();
    UpdateControls();
}

void TPrintSetupDialog::SheetChosen(int index)
{
    if (FFilling || FShown.empty() || index < 0)
        return;
    if (index < static_cast<int>(FSheets.size()))
        TakeSheet(FSettings, FSheets[static_cast<std::size_t>(index)]);
    else
        CustomChanged();
    UpdateControls();
}

void TPrintSetupDialog::CustomChanged()
{
    if (FFilling || !CustomChosen())
        return;
    TakeSheet(FSettings, CustomCutterSheet(ui->CustomWidth->value(), ui->CustomLength->value()));
}

bool TPrintSetupDialog::CustomChosen() const
{
    return FSettings.Language != SendAs::Driver && ui->PaperList->currentIndex() == static_cast<int>(FSheets.size());
}

std::array<std::pair<QComboBox*, LineField>, 5> TPrintSetupDialog::LineLists() const
{
    return {{{ui->SpeedList, LineField::Speed},
             {ui->BitsList, LineField::DataBits},
             {ui->ParityList, LineField::Parity},
             {ui->StopList, LineField::StopBits},
             {ui->FlowList, LineField::Flow}}};
}

// Sets every paper control from FSettings.
void TPrintSetupDialog::FillSheets()
{
    FFilling = true;
    const bool driver = FSettings.Language == SendAs::Driver;
    int chosen = -1;
    bool kept = false;
    if (driver) {
        FSheets = FDevices.at(FShown).Papers;
        for (std::size_t i = 0; i < FSheets.size() && chosen < 0; ++i)
            if (SameSheet(FSheets[i], FSettings))
                chosen = static_cast<int>(i);
        if (chosen < 0) {
            // A paper the device no longer lists (or could not list) stays
            // choosable rather than being swapped silently.
            DeviceSettings own;
            TakeSheet(own, FSettings);
            FSheets.insert(FSheets.begin(), own);
            chosen = 0;
            kept = true;
        }
    } else {
        FSheets = {A4CutterSheet(), LetterCutterSheet()};
        for (std::size_t i = 0; i < FSheets.size() && chosen < 0; ++i)
            if (SameSheetSize(FSheets[i], FSettings))
                chosen = static_cast<int>(i);
        if (chosen >= 0)
            TakeSheet(FSettings, FSheets[static_cast<std::size_t>(chosen)]);
        else
            chosen = static_cast<int>(FSheets.size()); // custom
        // A cutter has no unprintable border.
        FSettings.MarginLeftMm = FSettings.MarginBottomMm = FSettings.MarginRightMm = FSettings.MarginTopMm = 0;
    }
    if (auto* languages = qobject_cast<QStandardItemModel*>(ui->SendAsList->model()))
        languages->item(static_cast<int>(SendAs::Driver))
            ->setEnabled(OffersLanguage(DeviceKindOf(FShown), SendAs::Driver));
    ui->SendAsList->setCurrentIndex(static_cast<int>(FSettings.Language));
    for (const auto& [list, field] : LineLists())
        list->setCurrentIndex(LineOptionIndex(field, FSettings.Line));
    ui->PaperList->clear();
    for (const DeviceSettings& sheet : FSheets)
        ui->PaperList->addItem(SheetText(sheet, driver));
    if (kept)
        ui->PaperList->setItemText(0, ui->PaperList->itemText(0) + tr(" - as set"));
    if (!driver)
        ui->PaperList->addItem(tr("Custom (roll)"));
    ui->PaperList->setCurrentIndex(chosen);
    ui->CustomWidth->setValue(FSettings.PaperWidthMm);
    ui->CustomLength->setValue(FSettings.PaperHeightMm);
    (FSettings.Landscape ? ui->Landscape : ui->Portrait)->setChecked(true);
    ui->Rotate90->setChecked(FSettings.Rotate90);
    ui->MirrorX->setChecked(FSettings.MirrorX);
    ui->MirrorY->setChecked(FSettings.MirrorY);
    ui->ScaleX->setValue(FSettings.Corrections.ScaleXPercent);
    ui->ScaleY->setValue(FSettings.Corrections.ScaleYPercent);
    ui->BladeOffset->setValue(FSettings.Corrections.BladeOffsetMm);
    ui->Overcut->setValue(FSettings.Corrections.OvercutMm);
    ui->OrderList->setCurrentIndex(FSettings.Corrections.Order == CutOrderMode::Optimised ? 1 : 0);
    ui->WeedBox->setValue(FSettings.Corrections.WeedBoxMm);
    // Each language's own range; 0 ("Off") leaves the cutter's own setting.
    for (const auto& [box, field, unit] :
         {std::tuple(ui->Force, CutterField::Force, ForceRange(FSettings.Language).Unit),
          std::tuple(ui->CutSpeed, CutterField::Speed, SpeedRange(FSettings.Language).Unit)}) {
        const FieldLimits limits = LimitsOf(field, FSettings.Language);
        box->setRange(static_cast<int>(limits.Low), static_cast<int>(limits.High));
        box->setSuffix(unit.empty() ? QString() : QStringLiteral(" ") + QString::fromUtf8(unit));
    }
    ui->Force->setValue(static_cast<int>(FSettings.Corrections.Force));
    ui->CutSpeed->setValue(static_cast<int>(FSettings.Corrections.Speed));
    FFilling = false;
    // A custom size outside the fields' range is taken as the fields show it.
    CustomChanged();
}

void TPrintSetupDialog::ShowDetails()
{
    const int index = ui->PrinterList->currentIndex();
    if (index < 0 || index >= static_cast<int>(FDestinations.size())) {
        for (QLabel* value : {ui->StatusText, ui->TypeText, ui->WhereText, ui->CommentText})
            value->clear();
        return;
    }
    const PrinterInfo2& info = FDestinations[static_cast<std::size_t>(index)].Info;
    ui->StatusText->setText(QString::fromStdString(info.StatusText));
    ui->TypeText->setText(QString::fromStdString(info.DriverName));
    ui->WhereText->setText(QString::fromStdString(info.Location.empty() ? info.PortName : info.Location));
    ui->CommentText->setText(QString::fromStdString(info.Comment));
}

// Asks the cutter on a worker thread, with the line and language as the
// dialog shows them now; each question is bounded, so the answer comes.
void TPrintSetupDialog::CheckLine()
{
    if (FChecking || !Ready())
        return;
    FChecking = true;
    ui->CheckLineText->setText(tr("Asking the cutter..."));
    UpdateControls();
    auto* watcher = new QFutureWatcher<QString>(this);
    const std::string device = FShown;
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, device] {
        watcher->deleteLater();
        FChecking = false;
        // A sentence about a device no longer shown would mislead.
        ui->CheckLineText->setText(device == FShown ? watcher->result() : QString());
        UpdateControls();
    });
    watcher->setFuture(QtConcurrent::run(
        [device, settings = FSettings] { return QString::fromStdString(LineCheckSentence(device, settings)); }));
}

bool TPrintSetupDialog::Ready() const
{
    return !FLoading && !FShown.empty() && Identity().Device == FShown;
}

void TPrintSetupDialog::UpdateControls()
{
    const bool ready = Ready();
    const CutterControls offered = OfferedControls(DeviceKindOf(FShown), FSettings.Language);
    ui->PrinterList->setEnabled(!FDestinations.empty());
    ui->GrpPaper->setEnabled(ready);
    ui->GrpAxes->setEnabled(ready && offered.Axes);
    ui->GrpCorrections->setEnabled(ready);
    const std::pair<QWidget*, bool> controls[] = {
        {ui->BladeOffsetLabel, offered.PathCorrections},
        {ui->BladeOffset, offered.PathCorrections},
        {ui->OvercutLabel, offered.PathCorrections},
        {ui->Overcut, offered.PathCorrections},
        {ui->OrderLabel, offered.PathCorrections},
        {ui->OrderList, offered.PathCorrections},
        {ui->WeedBoxLabel, offered.PathCorrections},
        {ui->WeedBox, offered.PathCorrections},
        {ui->ForceLabel, offered.Force},
        {ui->Force, offered.Force},
        {ui->CutSpeedLabel, offered.Speed},
        {ui->CutSpeed, offered.Speed},
    };
    for (const auto& [control, enabled] : controls)
        control->setEnabled(enabled);
    ui->ToolNote->setText(QString::fromStdString(ToolNote(FSettings.Language)));
    ui->CorrectionsNote->setText(QString::fromStdString(CorrectionsNote(FSettings.Language)));
    ui->GrpLine->setEnabled(ready && offered.SerialLine);
    ui->CheckLineButton->setEnabled(!FChecking);
    const bool custom = ready && CustomChosen();
    for (QWidget* w : {static_cast<QWidget*>(ui->CustomLabel), static_cast<QWidget*>(ui->CustomWidth),
                       static_cast<QWidget*>(ui->CustomLength)})
        w->setEnabled(custom);
    ui->MarginsText->setText(ready ? MarginsText(FSettings) : QString());
    ui->ButtonBox->button(QDialogButtonBox::Ok)->setEnabled(ready);
}

void TPrintSetupDialog::accept()
{
    // OK is disabled until the chosen device's settings are in; a direct
    // call must not confirm another device's settings either.
    if (!Ready())
        return;
    // A flow control the language cannot carry is refused here, not at Cut.
    if (const std::string problem = LineProblem(FSettings.Language, FSettings.Line);
        DeviceKindOf(FShown) == DeviceKind::SerialPort && !problem.empty()) {
        ShowErrorReport(QString::fromStdString(problem));
        ui->FlowList->setFocus();
        return;
    }
    // The choice holds for this session even when it cannot be kept; the
    // user is told that it was not.
    RunGuarded([this] { SaveSettings(FShown, FSettings); });
    QDialog::accept();
}

void TPrintSetupDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    const QScreen* monitor = parentWidget() ? parentWidget()->screen() : screen();
    if (monitor)
        move(SetupDialogPosition(monitor->geometry(), frameGeometry().size()));
}
