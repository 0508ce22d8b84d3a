#pragma once

// "Print Setup": the device a Cut goes to, and how the job reaches it: drawn
// for the printing system's driver on one of the device's own papers, or
// written in the cutter's own language for a sheet the user names. The print
// server may be slow or stalled, so it is asked on a worker thread and the
// dialog fills in when the answer arrives; it never waits for it.

#include "output/CutterSettingsModel.h"
#include "platform/PrinterObject.h"
#include "platform/Spooler.h"

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <array>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class QComboBox;
namespace Ui {
class TPrintSetupDialog;
}

// Centred horizontally on the monitor, a third of the way down the free space.
QPoint SetupDialogPosition(const QRect& monitor, const QSize& dialog);

class TPrintSetupDialog : public QDialog {
    Q_OBJECT
public:
    explicit TPrintSetupDialog(QWidget* parent = nullptr);
    ~TPrintSetupDialog() override;

    // Opens on this device (empty: none chosen yet) with a copy of its
    // settings. Returns at once; the lists fill in when the server answers.
    void SetCurrent(const std::string& device, const DeviceSettings& settings);

    // The choice, valid after the dialog was accepted.
    DeviceIdentity Identity() const;
    const DeviceSettings& Settings() const noexcept { return FSettings; }

    // True while the server is being asked; OK waits for the answer.
    bool Loading() const noexcept { return FLoading; }

    QComboBox* PrinterList() const noexcept;

public slots:
    // Also keeps the choice for the device's next use.
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    // What the server told about one device.
    struct TDeviceChoices {
        std::vector<DeviceSettings> Papers;
        DeviceSettings Defaults;
        std::optional<DeviceSettings> Remembered;
    };
    struct TAnswer;

    void Ask(bool withList, const std::string& device);
    void Answered(const TAnswer& answer);
    void Chosen(int index);
    void ShowDevice(const std::string& device);
    void SendAsChosen(int index);
    void SheetChosen(int index);
    void CustomChanged();
    void FillSheets();
    void ShowDetails();
    void CheckLine();
    void UpdateControls();
    bool Ready() const;
    bool CustomChosen() const;
    std::array<std::pair<QComboBox*, LineField>, 5> LineLists() const;

    std::unique_ptr<Ui::TPrintSetupDialog> ui;
    std::vector<DestinationInfo> FDestinations;
    std::map<std::string, TDeviceChoices> FDevices;
    // Settings per device as last seen in this dialog, so going back to a
    // device (the current one above all) keeps what was set for it.
    std::map<std::string, DeviceSettings> FChosen;
    std::string FCurrentDevice;
    std::string FShown; // the device the paper controls belong to
    DeviceSettings FSettings;
    std::vector<DeviceSettings> FSheets; // the paper list's items
    int FQuestion = 0;                   // only the latest answer counts
    bool FLoading = false;
    bool FFilling = false;  // controls being set from FSettings
    bool FChecking = false; // the cutter is being asked (Check the line)
};
