#pragma once

// "Print Setup": choose the device a Cut goes to and its paper settings.
// Qt offers only a print dialog on Linux, so this is the small classic one:
// the spooler's destinations, the chosen one's status, type, location and
// comment, and Properties for paper size and orientation.

#include "platform/PrinterObject.h"
#include "platform/Spooler.h"

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>

#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

// Centred horizontally on the monitor, a third of the way down the free space.
QPoint SetupDialogPosition(const QRect& monitor, const QSize& dialog);

class TPrintSetupDialog : public QDialog {
    Q_OBJECT
public:
    explicit TPrintSetupDialog(QWidget* parent = nullptr);

    // Opens on this device (empty: none chosen yet) with a copy of its settings.
    void SetCurrent(const QString& device, const DeviceSettings& settings);

    // The choice, valid after the dialog was accepted.
    DeviceIdentity Identity() const;
    const DeviceSettings& Settings() const noexcept { return FSettings; }

    QComboBox* PrinterList() const noexcept { return FList; }

public slots:
    void Properties();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void Chosen(int index);
    void ShowDetails();

    std::vector<DestinationInfo> FDestinations;
    DeviceSettings FSettings;
    QComboBox* FList = nullptr;
    QLabel* FStatus = nullptr;
    QLabel* FType = nullptr;
    QLabel* FWhere = nullptr;
    QLabel* FComment = nullptr;
    QLabel* FPaper = nullptr;
    QPushButton* FProperties = nullptr;
    QPushButton* FOk = nullptr;
};

// Maps what Qt's page setup chose back onto one of the device's own papers;
// keeps the current paper when none matches. Exposed for testing.
DeviceSettings MatchPaper(const std::vector<DeviceSettings>& papers, const DeviceSettings& current,
                          double widthMm, double heightMm, bool landscape);
