#include "UiTestSupport.h"

#include "cutter/CutterLanguage.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/serial/PortDevices.h"
#include "platform/serial/PortList.h"
#include "tests/support/PlayedCutter.h"
#include "tests/support/PrivateCupsServer.h"
#include "ui/PrintSetupDialog.h"

#include "tests/support/StdText.h"
#include "ui/CalibrateDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QSettings>
#include <QThreadPool>
#include <QUrl>
#include <QtTest>

#include <memory>

#include <sys/stat.h>

Q_DECLARE_METATYPE(DeviceSettings)

class TestPrintSetup : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void rememberedRoundTrip_data();
    void rememberedRoundTrip();
    void eachKeyReadOnItsOwn_data();
    void eachKeyReadOnItsOwn();
    void aPipeForTheSettingsFileNeverBlocks();
    void sendAsFollowsTheDevice_data();
    void sendAsFollowsTheDevice();
    void customSheetIsRemembered();
    void opensAtOnceAndRechosenDeviceKeepsItsSettings();
    void unreachableServerIsReportedOnce();
    void checksTheLineAsTheDialogShowsIt_data();
    void checksTheLineAsTheDialogShowsIt();
    void calibrateFromTheKeyboard();
    void calibrateShowsEachPattern_data();
    void calibrateShowsEachPattern();
    void aSaveThatFailsIsReported_data();
    void aSaveThatFailsIsReported();

private:
    template <class T>
    T* Find(const char* name) const
    {
        return FDialog->findChild<T*>(QLatin1String(name));
    }
    void Open(const QString& device, const DeviceSettings& settings);
    void Choose(const QString& device);
    QPushButton* Ok() const { return Find<QDialogButtonBox>("ButtonBox")->button(QDialogButtonBox::Ok); }

    QTemporaryDir FConfig;
    QStringList FNotes; // on kept settings that cannot be used
    std::unique_ptr<PrivateCupsServer> FServer;
    std::unique_ptr<ReportRecorder> FReports;
    std::unique_ptr<TPrintSetupDialog> FDialog;
};

namespace {
DeviceSettings Settings(const char* paper, double w, double h, double margin, SendAs language, bool flags = false)
{
    DeviceSettings s;
    s.PaperName = paper;
    s.PaperWidthMm = w;
    s.PaperHeightMm = h;
    s.MarginLeftMm = s.MarginBottomMm = s.MarginRightMm = s.MarginTopMm = margin;
    s.ResolutionDpi = 1016;
    s.Language = language;
    s.Landscape = s.Rotate90 = s.MirrorY = flags;
    return s;
}

// A kept entry with every flag and correction set, and defaults unlike it.
DeviceSettings Kept()
{
    DeviceSettings s = Settings("Custom.600x1000mm", 600, 1000, 1, SendAs::HPGL, true);
    s.Corrections = {99.5, 100.5, 0.25, 1, {}, CutOrderMode::Optimised, 5};
    // HP-GL's FS and VS, of other lengths than the bad values below: a file
    // of the same size and time would be taken as unchanged by QSettings.
    s.Corrections.Force = 80;
    s.Corrections.Speed = 5;
    s.Line = *ParsePortSettings("19200,7,E,2,rtscts"); // as the defaults: only a port's is kept
    return s;
}
DeviceSettings KeptDefaults()
{
    DeviceSettings s = Settings("Letter", 215.9, 279.4, 3, SendAs::Driver);
    s.Line = *ParsePortSettings("19200,7,E,2,rtscts");
    return s;
}
} // namespace

void TestPrintSetup::initTestCase()
{
    // Never the user's own configuration, nor another test's.
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(FConfig.path()));
    SetSettingsNoteHook([this](const std::string& note) { FNotes << QStr(note); });
    FServer = std::make_unique<PrivateCupsServer>();
    QVERIFY2(FServer->isValid(), qPrintable(FServer->errorText()));
    QVERIFY(FServer->addQueue(QStringLiteral("Second"), QStringLiteral("Letter")));
    // A raw queue, as cutters are usually installed.
    QVERIFY(FServer->run(QStringLiteral("lpadmin"),
                         {QStringLiteral("-p"), QStringLiteral("Raw"), QStringLiteral("-E"), QStringLiteral("-v"),
                          QStringLiteral("file:///dev/null"), QStringLiteral("-m"), QStringLiteral("raw")}));
}

void TestPrintSetup::init()
{
    QFile::remove(FileName(SettingsFilePath()));
    FNotes.clear();
    FReports = std::make_unique<ReportRecorder>();
    FDialog = std::make_unique<TPrintSetupDialog>();
}

void TestPrintSetup::cleanup()
{
    FDialog.reset();
    QThreadPool::globalInstance()->waitForDone();
    FReports.reset();
}

void TestPrintSetup::Open(const QString& device, const DeviceSettings& settings)
{
    FDialog->SetCurrent(StdStr(device), settings);
    QTRY_VERIFY(!FDialog->Loading());
}

void TestPrintSetup::Choose(const QString& device)
{
    const int index = FDialog->PrinterList()->findText(device);
    QVERIFY(index >= 0);
    FDialog->PrinterList()->setCurrentIndex(index);
    emit FDialog->PrinterList()->activated(index);
    QTRY_VERIFY(!FDialog->Loading());
    QVERIFY(Ok()->isEnabled());
}

void TestPrintSetup::rememberedRoundTrip_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<DeviceSettings>("settings");
    QTest::newRow("driver paper with margins") << "TestCutter" << Settings("A4", 210, 297, 5.5, SendAs::Driver);
    QTest::newRow("roll, landscape, axes turned")
        << "Raw" << Settings("Custom.600x12500mm", 600, 12500, 0, SendAs::CAMMGL, true);
    QTest::newRow("name QSettings would split")
        << "cut/ter\\one two" << Settings("Letter", 215.9, 279.4, 0, SendAs::GPGL);
    DeviceSettings corrected = Settings("A4", 210, 297, 0, SendAs::DMPL);
    corrected.Corrections = {99.87, 250.5, 0.25, 1.5, {}};
    QTest::newRow("calibrated cutter") << "Calibrated" << corrected;
    DeviceSettings roll = Settings("Rolle 60 cm, \u00FCberbreit", 600, 900, 0, SendAs::HPGL);
    roll.Corrections = {101.5, 99.25, 0.1, 0.5, {}, CutOrderMode::Optimised, 12.5};
    QTest::newRow("name and paper beyond ASCII, paper with a comma") << QStringLiteral("Caf\u00E9 %41") << roll;
}

void TestPrintSetup::rememberedRoundTrip()
{
    QFETCH(QString, device);
    QFETCH(DeviceSettings, settings);
    QVERIFY(!RememberedSettings(StdStr(device), {}));
    RememberSettings(StdStr(device), settings);
    QVERIFY(RememberedSettings(StdStr(device), {}) == settings);
    QVERIFY(!RememberedSettings(StdStr(device + QLatin1Char('x')), {}));
    // Both ways with Qt's own reader and writer, which earlier versions kept
    // the file with: each key as Qt reads it, written back by Qt for another
    // device, reads the same.
    const QString copy = device + QStringLiteral(" (Qt)");
    {
        QSettings store(FileName(SettingsFilePath()), QSettings::IniFormat);
        const auto group = [](const QString& name) {
            return QStringLiteral("Devices/") + QString::fromLatin1(QUrl::toPercentEncoding(name)) + QLatin1Char('/');
        };
        store.beginGroup(group(device));
        const QStringList keys = store.childKeys();
        QVariantList values;
        for (const QString& key : keys)
            values << store.value(key);
        store.endGroup();
        QVERIFY(keys.size() >= 6);
        for (qsizetype i = 0; i < keys.size(); ++i)
            store.setValue(group(copy) + keys[i], values[i]);
    }
    QVERIFY(RememberedSettings(StdStr(copy), {}) == settings);
    // An entry kept before calibration existed: no corrections, all off.
    {
        QSettings store(FileName(SettingsFilePath()), QSettings::IniFormat);
        store.beginGroup(QStringLiteral("Devices/") + QString::fromLatin1(QUrl::toPercentEncoding(device)));
        for (const char* key : {"ScaleXPercent", "ScaleYPercent", "BladeOffsetMm", "OvercutMm", "CutOrder", "WeedBoxMm",
                                "Force", "Speed"})
            store.remove(QLatin1String(key));
    }
    settings.Corrections = {};
    QVERIFY(RememberedSettings(StdStr(device), {}) == settings);
    QCOMPARE(FNotes, QStringList());
}

// One good entry, then one key changed or removed (no value: removed):
// that key alone falls back to the device's defaults, and a bad one is
// noted once; the natural spellings of a flag and a line written unquoted
// (which QSettings reads as a list) are taken as meant.
void TestPrintSetup::eachKeyReadOnItsOwn_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<DeviceSettings>("expected");
    QTest::addColumn<bool>("noted");
    const DeviceSettings kept = Kept(), defaults = KeptDefaults();
    const auto with = [&kept](auto change) {
        DeviceSettings s = kept;
        change(s);
        return s;
    };
    DeviceSettings defaultSheet = kept;
    defaultSheet.PaperName = defaults.PaperName;
    defaultSheet.PaperWidthMm = defaults.PaperWidthMm;
    defaultSheet.PaperHeightMm = defaults.PaperHeightMm;
    QTest::newRow("unknown language") << "SendAs" << QVariant("pdf")
                                      << with([](DeviceSettings& s) { s.Language = SendAs::Driver; }) << true;
    QTest::newRow("no paper name") << "Paper" << QVariant("") << defaultSheet << true;
    QTest::newRow("width not a number") << "WidthMm" << QVariant("wide") << defaultSheet << true;
    QTest::newRow("infinite length") << "LengthMm" << QVariant("inf") << defaultSheet << true;
    QTest::newRow("margins wider than the sheet")
        << "MarginLeftMm" << QVariant("600") << with([](DeviceSettings& s) { s.MarginLeftMm = s.MarginRightMm = 0; })
        << true;
    QTest::newRow("bad margin: none on a sheet of its own")
        << "MarginTopMm" << QVariant("-1") << with([](DeviceSettings& s) { s.MarginTopMm = 0; }) << true;
    QTest::newRow("orientation neither way")
        << "Landscape" << QVariant("maybe") << with([](DeviceSettings& s) { s.Landscape = false; }) << true;
    QTest::newRow("no mirror flag") << "MirrorY" << QVariant() << with([](DeviceSettings& s) { s.MirrorY = false; })
                                    << false;
    QTest::newRow("blade offset out of range")
        << "BladeOffsetMm" << QVariant("1.6") << with([](DeviceSettings& s) { s.Corrections.BladeOffsetMm = 0; })
        << true;
    QTest::newRow("scale not a number") << "ScaleYPercent" << QVariant("big")
                                        << with([](DeviceSettings& s) { s.Corrections.ScaleYPercent = 100; }) << true;
    QTest::newRow("cut order unknown") << "CutOrder" << QVariant("fastest")
                                       << with([](DeviceSettings& s) { s.Corrections.Order = CutOrderMode::Drawn; })
                                       << true;
    QTest::newRow("weed box out of range")
        << "WeedBoxMm" << QVariant("-2") << with([](DeviceSettings& s) { s.Corrections.WeedBoxMm = 0; }) << true;
    QTest::newRow("force past HP-GL's") << "Force" << QVariant("401")
                                        << with([](DeviceSettings& s) { s.Corrections.Force = 0; }) << true;
    QTest::newRow("speed not whole") << "Speed" << QVariant("2.5")
                                     << with([](DeviceSettings& s) { s.Corrections.Speed = 0; }) << true;
    // Within what any language takes, past HP-GL's VS.
    QTest::newRow("speed past HP-GL's") << "Speed" << QVariant("97")
                                        << with([](DeviceSettings& s) { s.Corrections.Speed = 0; }) << true;
    QTest::newRow("cut order: Optimized") << "CutOrder" << QVariant("Optimized") << kept << false;
    QTest::newRow("landscape: no") << "Landscape" << QVariant("no")
                                   << with([](DeviceSettings& s) { s.Landscape = false; }) << false;
    QTest::newRow("mirror: Yes") << "MirrorX" << QVariant("Yes") << with([](DeviceSettings& s) { s.MirrorX = true; })
                                 << false;
    QTest::newRow("axes: 0") << "Rotate90" << QVariant("0") << with([](DeviceSettings& s) { s.Rotate90 = false; })
                             << false;
    QTest::newRow("line as a list") << "Line" << QVariant(QStringList{"9600", "8", "N", "1", "none"})
                                    << with([](DeviceSettings& s) { s.Line = *ParsePortSettings("9600,8,N,1,none"); })
                                    << false;
    QTest::newRow("line asking the cutter")
        << "Line" << QVariant("9600,8,N,1,Query")
        << with([](DeviceSettings& s) { s.Line = *ParsePortSettings("9600,8,N,1,query"); }) << false;
    QTest::newRow("line with a flow control unknown")
        << "Line" << QVariant("9600,8,N,1,ask") << with([&defaults](DeviceSettings& s) { s.Line = defaults.Line; })
        << true;
    QTest::newRow("line that is none") << "Line" << QVariant("9600,8,N")
                                       << with([&defaults](DeviceSettings& s) { s.Line = defaults.Line; }) << true;
}

void TestPrintSetup::eachKeyReadOnItsOwn()
{
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(DeviceSettings, expected);
    QFETCH(bool, noted);
    RememberSettings("Raw", Kept());
    {
        QSettings store(FileName(SettingsFilePath()), QSettings::IniFormat);
        const QString path = QStringLiteral("Devices/Raw/") + key;
        QVERIFY(store.contains(path) || key == QLatin1String("Line"));
        if (value.isValid())
            store.setValue(path, value);
        else
            store.remove(path);
    }
    for (int read = 0; read < 2; ++read)
        QVERIFY(RememberedSettings("Raw", KeptDefaults()) == expected);
    QCOMPARE(FNotes.size(), noted ? 1 : 0);
    if (noted)
        QVERIFY2(FNotes[0].contains(key + QLatin1String(" \"")), qPrintable(FNotes[0]));
}

// A pipe put in place of the settings file: never opened, said once.
void TestPrintSetup::aPipeForTheSettingsFileNeverBlocks()
{
    const QByteArray path = QFile::encodeName(FileName(SettingsFilePath()));
    QDir().mkpath(QFileInfo(FileName(SettingsFilePath())).path());
    QCOMPARE(::mkfifo(path.constData(), 0600), 0);
    QElapsedTimer t;
    t.start();
    QVERIFY(!RememberedSettings("Raw", {}));
    RememberSettings("Raw", Kept());
    QVERIFY(!RememberedSettings("Raw", {}));
    QVERIFY(t.elapsed() < 1000);
    QCOMPARE(FNotes.size(), 1);
    QVERIFY2(FNotes[0].contains(QLatin1String("is not a regular file")), qPrintable(FNotes[0]));
    struct stat st {};
    QVERIFY(::stat(path.constData(), &st) == 0 && S_ISFIFO(st.st_mode));
}

// The paper list: the device's own papers for its driver, the cutter's
// sheets (whole sheet, no margins) for a cutter language.
void TestPrintSetup::sendAsFollowsTheDevice_data()
{
    QTest::addColumn<QString>("device");
    QTest::addColumn<int>("sendAs"); // -1: as the device suggests
    QTest::addColumn<QString>("shownAs");
    QTest::addColumn<QStringList>("papers");
    QTest::addColumn<QString>("paper");
    QTest::addColumn<double>("marginLeft");
    const QStringList devicePapers{QStringLiteral("A4 (210 x 297 mm)"), QStringLiteral("Letter (215.9 x 279.4 mm)")};
    const QStringList sheets{QStringLiteral("A4 (210 x 297 mm)"), QStringLiteral("Letter (215.9 x 279.4 mm)"),
                             QStringLiteral("Custom (roll)")};
    QTest::newRow("driver queue") << "TestCutter" << -1 << "Printer driver (PDF)" << devicePapers << "A4" << 5.0;
    QTest::newRow("Letter queue") << "Second" << -1 << "Printer driver (PDF)" << devicePapers << "Letter" << 6.0;
    QTest::newRow("raw queue") << "Raw" << -1 << "HPGL" << sheets << "A4" << 0.0;
    QTest::newRow("driver queue as DMPL") << "TestCutter" << int(SendAs::DMPL) << "DMPL" << sheets << "A4" << 0.0;
    QTest::newRow("Letter queue as GP-GL keeps Letter")
        << "Second" << int(SendAs::GPGL) << "GP-GL" << sheets << "Letter" << 0.0;
    QTest::newRow("raw queue as CAMM-GL") << "Raw" << int(SendAs::CAMMGL) << "CAMM-GL" << sheets << "A4" << 0.0;
}

void TestPrintSetup::sendAsFollowsTheDevice()
{
    QFETCH(QString, device);
    QFETCH(int, sendAs);
    QFETCH(QString, shownAs);
    QFETCH(QStringList, papers);
    QFETCH(QString, paper);
    QFETCH(double, marginLeft);
    Open(QString(), DeviceSettings{});
    QVERIFY(!Ok()->isEnabled());
    Choose(device);
    auto* sendAsList = Find<QComboBox>("SendAsList");
    if (sendAs >= 0)
        sendAsList->setCurrentIndex(sendAs);
    QCOMPARE(sendAsList->currentText(), shownAs);
    auto* paperList = Find<QComboBox>("PaperList");
    QStringList shown;
    for (int i = 0; i < paperList->count(); ++i)
        shown << paperList->itemText(i);
    QCOMPARE(shown, papers);
    QCOMPARE(FDialog->Settings().PaperName, paper);
    QCOMPARE(FDialog->Settings().MarginLeftMm, marginLeft);
    QVERIFY(!Find<QDoubleSpinBox>("CustomWidth")->isEnabled());
    const bool cutter = FDialog->Settings().Language != SendAs::Driver;
    QCOMPARE(Find<QCheckBox>("Rotate90")->isEnabled(), cutter);
    auto* order = Find<QComboBox>("OrderList");
    QCOMPARE(order->isEnabled(), cutter);
    order->setCurrentIndex(1);
    QCOMPARE(FDialog->Settings().Corrections.Order, CutOrderMode::Optimised);
    // Force in the language's own range; CAMM-GL says it has no command.
    const SendAs language = FDialog->Settings().Language;
    const bool tools = cutter && language != SendAs::CAMMGL;
    auto* force = Find<QSpinBox>("Force");
    QCOMPARE(force->isEnabled(), tools);
    QCOMPARE(Find<QLabel>("ToolNote")->text().contains(QLatin1String("no command")), language == SendAs::CAMMGL);
    if (tools) {
        force->setValue(force->maximum());
        QCOMPARE(FDialog->Settings().Corrections.Force, double(ForceRange(language).High));
    }

    // Back to the driver: the device's own paper again, with its margins;
    // the force was in the cutter language's units.
    sendAsList->setCurrentIndex(int(SendAs::Driver));
    QCOMPARE(FDialog->Settings().Corrections.Force, 0.0);
    QCOMPARE(FDialog->Settings().PaperName, paper);
    QCOMPARE(FDialog->Settings().MarginLeftMm, device == QLatin1String("Raw") ? 0.0
                                               : paper == QLatin1String("A4") ? 5.0
                                                                              : 6.0);
    if (device == QLatin1String("Raw"))
        return;
    // The other sheet in a cutter's language, then back: the device's own
    // paper of that sheet.
    sendAsList->setCurrentIndex(int(SendAs::DMPL));
    const bool wasA4 = paper == QLatin1String("A4");
    paperList->setCurrentIndex(wasA4 ? 1 : 0);
    sendAsList->setCurrentIndex(int(SendAs::Driver));
    QCOMPARE(FDialog->Settings().PaperName, wasA4 ? QStringLiteral("Letter") : QStringLiteral("A4"));
    QVERIFY(FDialog->Settings().MarginLeftMm > 0);
    if (sendAs >= 0 || !wasA4)
        return;
    // A driver's paper that is neither cutter sheet (A3, in use): a cutter
    // language takes the whole of an A4.
    Open(device, Settings("A3", 297, 420, 5, SendAs::Driver));
    sendAsList->setCurrentIndex(int(SendAs::HPGL));
    QCOMPARE(FDialog->Settings().PaperName, QStringLiteral("A4"));
    QCOMPARE(FDialog->Settings().PaperWidthMm, 210.0);
    QCOMPARE(FDialog->Settings().MarginLeftMm, 0.0);
}

void TestPrintSetup::customSheetIsRemembered()
{
    Open(QStringLiteral("TestCutter"), Settings("A4", 210, 297, 5, SendAs::Driver));
    Choose(QStringLiteral("Raw"));
    Find<QComboBox>("PaperList")->setCurrentIndex(2);
    auto* width = Find<QDoubleSpinBox>("CustomWidth");
    QVERIFY(width->isEnabled());
    width->setValue(600);
    Find<QDoubleSpinBox>("CustomLength")->setValue(12500.5);
    Find<QRadioButton>("Landscape")->setChecked(true);
    Find<QCheckBox>("MirrorX")->setChecked(true);
    Ok()->click();
    QCOMPARE(FDialog->result(), int(QDialog::Accepted));
    QCOMPARE(FDialog->Identity().Device, QStringLiteral("Raw"));
    DeviceSettings expected = Settings("Custom.600x12500.5mm", 600, 12500.5, 0, SendAs::HPGL);
    expected.ResolutionDpi = FDialog->Settings().ResolutionDpi;
    expected.Landscape = expected.MirrorX = true;
    QVERIFY(FDialog->Settings() == expected);

    // Next time the device is picked, the remembered choice wins over its
    // own defaults.
    FDialog = std::make_unique<TPrintSetupDialog>();
    Open(QStringLiteral("TestCutter"), Settings("A4", 210, 297, 5, SendAs::Driver));
    Choose(QStringLiteral("Raw"));
    QVERIFY(FDialog->Settings() == expected);
    QCOMPARE(Find<QComboBox>("PaperList")->currentText(), QStringLiteral("Custom (roll)"));
    QCOMPARE(Find<QDoubleSpinBox>("CustomLength")->value(), 12500.5);

    // A roll sized to the hundredth (--sheet 600.55x1000) stays as it is, not
    // as a field of fewer decimals would round it.
    const DeviceSettings fine = Settings("Custom.600.55x1000mm", 600.55, 1000, 0, SendAs::HPGL);
    Open(QStringLiteral("Raw"), fine);
    QVERIFY(FDialog->Settings() == fine);
}

void TestPrintSetup::opensAtOnceAndRechosenDeviceKeepsItsSettings()
{
    // Opened across the monitor's middle, a third of the way down.
    QCOMPARE(SetupDialogPosition(QRect(1920, 100, 1200, 900), QSize(400, 300)), QPoint(2320, 300));
    const DeviceSettings inUse = Settings("Letter", 215.9, 279.4, 0, SendAs::Driver, true);
    // Returns before the server is asked, and fills in once it answers.
    FDialog->SetCurrent("TestCutter", inUse);
    QVERIFY(FDialog->Loading());
    QCOMPARE(FDialog->PrinterList()->count(), 0);
    QVERIFY(!Ok()->isEnabled());
    QTRY_VERIFY(!FDialog->Loading());
    // The machine's ports follow the server's destinations.
    const std::vector<PortInfo> ports = ListPorts();
    QCOMPARE(FDialog->PrinterList()->count(), 3 + int(ports.size()));
    for (std::size_t i = 0; i < ports.size(); ++i)
        QCOMPARE(FDialog->PrinterList()->itemText(3 + int(i)), ports[i].Path);
    QVERIFY(Ok()->isEnabled());
    QVERIFY(FDialog->Settings() == inUse);
    QCOMPARE(Find<QComboBox>("PaperList")->currentIndex(), 0); // not among the device's own: kept first
    Choose(QStringLiteral("TestCutter"));
    QVERIFY(FDialog->Settings() == inUse);
    Choose(QStringLiteral("Second"));
    QCOMPARE(FDialog->Settings().PaperName, QStringLiteral("Letter"));
    QVERIFY(!FDialog->Settings().Landscape);
    Choose(QStringLiteral("TestCutter"));
    QVERIFY(FDialog->Settings() == inUse);
    QVERIFY(Find<QRadioButton>("Landscape")->isChecked());
    // A port (where the machine has one) takes no driver and has a line to set.
    if (!ports.empty() && !ports[0].Path.startsWith(QLatin1String("/dev/usb/"))) {
        Choose(ports[0].Path);
        QCOMPARE(FDialog->Settings().Language, SendAs::HPGL);
        QVERIFY(Find<QWidget>("GrpLine")->isEnabled());
        Find<QComboBox>("SpeedList")->setCurrentText(QStringLiteral("19200"));
        QCOMPARE(FDialog->Settings().Line.Baud, 19200);
        // Asking the cutter: refused at OK in a language with no question
        // for it, nothing kept; taken in one with it.
        Find<QComboBox>("FlowList")->setCurrentText(QStringLiteral("Ask the cutter"));
        Find<QComboBox>("SendAsList")->setCurrentIndex(static_cast<int>(SendAs::GPGL));
        FDialog->accept();
        QCOMPARE(FReports->Texts.size(), 1);
        QVERIFY2(FReports->Texts.at(0).startsWith(QStringLiteral("GP-GL has no question for the free space")),
                 qPrintable(FReports->Texts.at(0)));
        QVERIFY(!RememberedSettings(StdStr(ports[0].Path), {}));
        FReports->Texts.clear();
        Find<QComboBox>("SendAsList")->setCurrentIndex(static_cast<int>(SendAs::HPGL));
        FDialog->accept();
        const DeviceSettings kept = RememberedSettings(StdStr(ports[0].Path), {}).value_or(DeviceSettings{});
        QCOMPARE(kept.Line.Baud, 19200);
        QVERIFY(kept.Line.Flow == FlowControl::Query);
    }
    QVERIFY(FReports->Texts.isEmpty());
}

void TestPrintSetup::unreachableServerIsReportedOnce()
{
    const QByteArray server = qgetenv("CUPS_SERVER");
    qputenv("CUPS_SERVER", FServer->dir().toLocal8Bit() + "/gone.sock");
    // Closed before the answer: the answer must not reach the dialog.
    FDialog->SetCurrent("TestCutter", DeviceSettings{});
    FDialog.reset();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();

    FDialog = std::make_unique<TPrintSetupDialog>();
    FDialog->SetCurrent("TestCutter", DeviceSettings{});
    QTRY_VERIFY(!FDialog->Loading());
    qputenv("CUPS_SERVER", server);
    QCOMPARE(FReports->Texts.size(), 1);
    QVERIFY2(FReports->Texts.at(0).startsWith(QStringLiteral("System Error.  Code: 1282.")),
             qPrintable(FReports->Texts.at(0)));
    QVERIFY(!Ok()->isEnabled());
    QVERIFY(!Find<QLabel>("LoadingText")->text().isEmpty());
    QTest::qWait(100);
    QCOMPARE(FReports->Texts.size(), 1);
}

void TestPrintSetup::checksTheLineAsTheDialogShowsIt_data()
{
    using K = PlayedCutter::Kind;
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("buffer");
    QTest::addColumn<QString>("flow");
    QTest::addColumn<QString>("sentence");
    QTest::newRow("healthy") << int(K::Answering) << 16384 << "None"
                             << "is sound: the cutter (7475A) answers";
    QTest::newRow("small buffer, XON/XOFF") << int(K::Answering) << 1024 << "XON/XOFF"
                                            << "is sound";
    QTest::newRow("small buffer, no flow control") << int(K::Answering) << 1024 << "None"
                                                   << "holds 1024 bytes";
    QTest::newRow("wrong speed") << int(K::WrongSpeed) << 16384 << "XON/XOFF"
                                 << "in the wrong shape";
    QTest::newRow("reports an error") << int(K::ReportsError) << 16384 << "XON/XOFF"
                                      << "reports an error";
}

// "Check the line" asks the cutter with the line as the dialog shows it,
// not as kept, off the window's thread, and shows the command line's
// sentence; the dialog answers input meanwhile and nothing is kept.
void TestPrintSetup::checksTheLineAsTheDialogShowsIt()
{
    QFETCH(int, kind);
    QFETCH(int, buffer);
    QFETCH(QString, flow);
    QFETCH(QString, sentence);
    PlayedCutter::Setup setup;
    setup.Plays = PlayedCutter::Kind(kind);
    setup.BufferBytes = buffer;
    PlayedCutter cutter(setup);
    QVERIFY(cutter.Valid());
    const QString port = QString::fromStdString(cutter.Path());
    DeviceSettings kept = DefaultPortSettings();
    kept.Line = *ParsePortSettings("9600,8,N,1,rtscts");
    Open(port, kept);
    QCOMPARE(FDialog->Identity().Device, cutter.Path());
    Find<QComboBox>("FlowList")->setCurrentText(flow);
    auto* check = Find<QPushButton>("CheckLineButton");
    QVERIFY(check->isEnabled());
    check->click();
    QVERIFY(!check->isEnabled()); // one check at a time
    QVERIFY(Ok()->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(check->isEnabled(), 30000);
    const QString said = Find<QLabel>("CheckLineText")->text();
    QVERIFY2(said.contains(sentence), qPrintable(said));
    QVERIFY2(said.contains(port), qPrintable(said));
    QCOMPARE(cutter.Accepted(), std::string());
    QVERIFY(!RememberedSettings(cutter.Path(), {}));
    QVERIFY(FReports->Texts.isEmpty());
}

// Calibrate without a mouse: cut the scale lines, type a measurement, see
// the old and the new scale, keep it (composed with the kept one); then the
// ladder's best square becomes the blade offset, the grid's its force and
// speed.
void TestPrintSetup::calibrateFromTheKeyboard()
{
    DeviceSettings settings = Settings("A4", 210, 297, 0, SendAs::HPGL);
    settings.Corrections.ScaleXPercent = 99.5;
    std::vector<CalibrationCut> cuts;
    TCalibrateDialog dialog({"Raw", {}, {}}, settings, [&cuts](const CalibrationCut& cut) { cuts.push_back(cut); });
    dialog.show();
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    // A cut's failure, and the window's meanwhile, stand over the dialog,
    // even while another window is the active one.
    QCOMPARE(ErrorReportParent(), static_cast<QWidget*>(&dialog));
    {
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QCOMPARE(ErrorReportParent(), static_cast<QWidget*>(&dialog));
    }
    dialog.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    const auto type = [&dialog](Qt::Key mnemonic, const char* text) {
        QTest::keyClick(&dialog, mnemonic, Qt::AltModifier);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(QApplication::focusWidget(), QLatin1String(text));
    };

    // A mnemonic clicks its button after a short animation.
    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
    QTRY_COMPARE(cuts.size(), size_t(1));
    QCOMPARE(cuts[0].Pattern, CalibrationPattern::Scale);
    type(Qt::Key_X, "199");
    QVERIFY2(dialog.Change->text().contains(QStringLiteral("99.50 % → 100.00 %")), qPrintable(dialog.Change->text()));
    QTest::keyClick(&dialog, Qt::Key_K, Qt::AltModifier);
    QTRY_COMPARE(dialog.Settings().Corrections.ScaleXPercent, 100.0);
    QCOMPARE(RememberedSettings("Raw", {}).value().Corrections.ScaleXPercent, 100.0);

    QTest::keyClick(&dialog, Qt::Key_P, Qt::AltModifier);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QVERIFY2(dialog.Order->text().contains(QStringLiteral("11 squares")), qPrintable(dialog.Order->text()));
    type(Qt::Key_B, "3");
    QVERIFY2(dialog.Change->text().contains(QStringLiteral("off → 0.10 mm")), qPrintable(dialog.Change->text()));
    QTest::keyClick(&dialog, Qt::Key_K, Qt::AltModifier);
    QTRY_COMPARE(dialog.Settings().Corrections.BladeOffsetMm, 0.1);
    const CutterCorrections kept = RememberedSettings("Raw", {}).value().Corrections;
    QCOMPARE(kept.BladeOffsetMm, 0.1);
    QCOMPARE(kept.ScaleXPercent, 100.0);
    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
    QTRY_COMPARE(cuts.size(), size_t(2));
    QCOMPARE(cuts[1].Pattern, CalibrationPattern::Ladder);

    // The square (190 x 150 mm on A4): sides and diagonals give the scale
    // and the skew; what makes no parallelogram cannot be kept.
    dialog.PatternList->setCurrentIndex(dialog.PatternList->findData(int(CalibrationPattern::Square)));
    type(Qt::Key_A, "260");
    QVERIFY(!dialog.BtnKeep->isEnabled());
    type(Qt::Key_A, "249.8");
    type(Qt::Key_B, "250.2");
    QVERIFY2(dialog.Change->text().contains(QStringLiteral("skew: 0.000° → 0.101°")),
             qPrintable(dialog.Change->text()));
    QTest::keyClick(&dialog, Qt::Key_K, Qt::AltModifier);
    QTRY_COMPARE(dialog.Settings().Corrections.SkewDeg, 0.101);
    QCOMPARE(RememberedSettings("Raw", {}).value().Corrections.SkewDeg, 0.101);
    QCOMPARE(dialog.DiagonalA->value(), 242.07); // 190 x 150 mm on A4

    // The grid, in HP-GL's grams and cm/s: 3 forces by 3 speeds; square 5
    // is the middle of both.
    dialog.PatternList->setCurrentIndex(dialog.PatternList->findData(int(CalibrationPattern::Grid)));
    QVERIFY2(dialog.Order->text().contains(QStringLiteral("9 squares")), qPrintable(dialog.Order->text()));
    type(Qt::Key_B, "5");
    QVERIFY2(dialog.Change->text().contains(QStringLiteral("Force: off → 100, speed: off → 30")),
             qPrintable(dialog.Change->text()));
    QTest::keyClick(&dialog, Qt::Key_K, Qt::AltModifier);
    QTRY_COMPARE(dialog.Settings().Corrections.Force, 100.0);
    QCOMPARE(RememberedSettings("Raw", {}).value().Corrections.Speed, 30.0);
    QTest::keyClick(&dialog, Qt::Key_C, Qt::AltModifier);
    QTRY_COMPARE(cuts.size(), size_t(3));
    QVERIFY(cuts[2].Forces == (ToolSteps{80, 120, 20}));
    dialog.hide();
    QVERIFY(ErrorReportParent() != &dialog);

    // A printer's A4, whose margins leave no room for 200 mm lines: the
    // first cut is one that fits.
    TCalibrateDialog printer({"Laser", {}, {}}, Settings("A4", 210, 297, 4, SendAs::Driver),
                             [](const CalibrationCut&) {});
    QCOMPARE(printer.Length->value(), 190.0);
    QCOMPARE(printer.MeasuredX->value(), 190.0);
}

void TestPrintSetup::calibrateShowsEachPattern_data()
{
    QTest::addColumn<int>("pattern");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("marked"); // the picture marks what to measure
    QTest::newRow("scale") << int(CalibrationPattern::Scale) << "Scale lines" << true;
    QTest::newRow("ladder") << int(CalibrationPattern::Ladder) << "Blade offset ladder" << true;
    QTest::newRow("test cut") << int(CalibrationPattern::TestCut) << "Test cut (force)" << false;
    QTest::newRow("square") << int(CalibrationPattern::Square) << "Square (skew)" << true;
    QTest::newRow("grid") << int(CalibrationPattern::Grid) << "Force × speed grid" << true;
    QTest::newRow("sample") << int(CalibrationPattern::Sample) << "Sample" << false;
}

// Every pattern is offered, its picture beside it: the pattern's lines and
// the marks on them, crisp on a screen of twice the density.
void TestPrintSetup::calibrateShowsEachPattern()
{
    QFETCH(int, pattern);
    QFETCH(QString, caption);
    QFETCH(bool, marked);
    DeviceSettings settings = Settings("A4", 210, 297, 0, SendAs::HPGL);
    settings.Corrections.Force = 80;
    settings.Corrections.Speed = 20;
    TCalibrateDialog dialog({"Raw", {}, {}}, settings, [](const CalibrationCut&) {});
    QCOMPARE(dialog.PatternList->count(), 6);
    dialog.PatternList->setCurrentIndex(dialog.PatternList->findData(pattern));
    QCOMPARE(dialog.PatternList->currentText(), caption);
    QCOMPARE(int(dialog.Pattern().Pattern), pattern);
    QVERIFY(!dialog.Order->text().isEmpty());
    QCOMPARE(dialog.Picture->pixmap().devicePixelRatio(), dialog.devicePixelRatioF());

    TCalibrateModel model({"Raw", {}, {}}, settings);
    model.Choose(static_cast<CalibrationPattern>(pattern));
    const QPalette palette = dialog.palette();
    const QImage shown = dialog.Picture->pixmap().toImage();
    for (const qreal ratio : {dialog.devicePixelRatioF(), 2.0}) {
        const QImage image = CalibrationPixmap(model.Picture(280, 250, 12), ratio, palette).toImage();
        QCOMPARE(image.size(), QSize(qCeil(280 * ratio), qCeil(250 * ratio)));
        // Dark lines, blue marks (the highlight), and antialiased edges
        // between them and the background.
        int cut = 0, mark = 0, between = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                if (pixel.blue() > pixel.red() + 40)
                    ++mark;
                else if (qGray(pixel.rgb()) < 128)
                    ++cut;
                if (pixel != palette.color(QPalette::Base) && pixel != palette.color(QPalette::Text)
                    && pixel != palette.color(QPalette::Highlight))
                    ++between;
            }
        QVERIFY2(cut > 50 * ratio, qPrintable(QString::number(cut)));
        QCOMPARE(mark > 20 * ratio, marked);
        QVERIFY(between > 0);
        if (ratio == dialog.devicePixelRatioF())
            QVERIFY(image == shown);
    }
}

void TestPrintSetup::aSaveThatFailsIsReported_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("Print Setup") << "Print Setup";
    QTest::newRow("Calibrate") << "Calibrate";
}

// A folder where the settings file belongs: the choice holds for this
// session, and the window says once that it was not kept, with the reason.
void TestPrintSetup::aSaveThatFailsIsReported()
{
    QFETCH(QString, window);
    const QString conf = FileName(SettingsFilePath());
    QVERIFY(QDir().mkpath(conf));
    const auto cleanUp = qScopeGuard([&] { QDir(conf).removeRecursively(); });
    if (window == QLatin1String("Print Setup")) {
        Open(QStringLiteral("TestCutter"), Settings("A4", 210, 297, 5, SendAs::Driver));
        Choose(QStringLiteral("Raw"));
        Find<QCheckBox>("MirrorX")->setChecked(true);
        Ok()->click();
        QCOMPARE(FDialog->result(), int(QDialog::Accepted));
        QVERIFY(FDialog->Settings().MirrorX);
    } else {
        TCalibrateDialog dialog({"Raw", {}, {}}, Settings("A4", 210, 297, 0, SendAs::HPGL),
                                [](const CalibrationCut&) {});
        dialog.MeasuredX->setValue(199);
        dialog.BtnKeep->click();
        QCOMPARE(dialog.Settings().Corrections.ScaleXPercent, 100.5);
    }
    QCOMPARE(FReports->Texts.size(), 1);
    QVERIFY2(FReports->Texts[0].contains(QStringLiteral("The settings were not saved: "))
                 && FReports->Texts[0].contains(QStringLiteral("is not a regular file")),
             qPrintable(FReports->Texts[0]));
    QVERIFY(QFileInfo(conf).isDir());
}

QTEST_MAIN(TestPrintSetup)
#include "test_print_setup.moc"
