#include "ui/TFrmPrincipal.h"

#include "common/Exceptions.h"
#include "output/Calibration.h"
#include "output/PlotPrinting.h"
#include "output/PrinterStatus.h"
#include "platform/DeviceSettingsStore.h"
#include "platform/JobProgress.h"
#include "platform/PlotFile.h"
#include "platform/PrinterObject.h"
#include "plot/HpglReader.h"
#include "plot/PlotTextReader.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"
#include "ui/CalibrateDialog.h"
#include "ui/ErrorText.h"
#include "ui/Pictures.h"
#include "ui/PrintSetupDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>

#include <exception>

namespace {

constexpr int TopLeftPreview = 2;

// The window is laid out for Tahoma 8 pt. Debian's fonts-wine carries a
// metric-compatible Tahoma outside fontconfig's search path; use it when the
// system has no Tahoma of its own, so captions fit as designed.
void UseTahomaWhereInstalled()
{
    static const bool done = [] {
        if (!QFontDatabase::hasFamily(QStringLiteral("Tahoma"))) {
            for (const char* path : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"})
                if (QFile::exists(QString::fromLatin1(path)))
                    QFontDatabase::addApplicationFont(QString::fromLatin1(path));
        }
        return true;
    }();
    (void)done;
}

// Labels size themselves to their caption, so a long device name or a wider
// substitute font is never cut off.
void SetCaption(QLabel* label, const QString& text)
{
    if (label->text() == text)
        return;
    label->setText(text);
    label->adjustSize();
}

// The status may carry the server's reason: a text too long for the room
// left of the button beside it wraps onto a second line instead of running
// under the button.
void SetStatusCaption(QLabel* label, const QString& text, int room)
{
    if (label->text() == text)
        return;
    label->setText(text);
    label->setWordWrap(label->fontMetrics().horizontalAdvance(text) > room);
    if (label->wordWrap())
        label->resize(room, label->heightForWidth(room));
    else
        label->adjustSize();
}

// A substitute for Tahoma may be wider than the designed label; widen the
// label rather than clip its caption.
void FitCaption(QLabel* label, bool keepRightEdge)
{
    const int wanted = label->sizeHint().width();
    if (wanted <= label->width())
        return;
    const int grow = wanted - label->width();
    label->setGeometry(keepRightEdge ? label->x() - grow : label->x(), label->y(), wanted, label->height());
}

} // namespace

QPixmap TImageList::Image(int index) const
{
    if (index < 0 || index >= Count)
        return {};
    QPixmap& image = FImages[index];
    if (image.isNull())
        image = LoadPicture(QStringLiteral(":/pictures/preview-%1.png").arg(index), FRatio);
    return image;
}

void TImageList::SetDevicePixelRatio(qreal ratio)
{
    if (ratio == FRatio)
        return;
    FRatio = ratio;
    for (QPixmap& image : FImages)
        image = QPixmap();
}

TFrmPrincipal::TFrmPrincipal(QWidget* parent) : QWidget(parent)
{
    UseTahomaWhereInstalled();
    setupUi(this);
    ListaDeImagenes.SetDevicePixelRatio(devicePixelRatioF());
    ImagenMedidas->setPixmap(LoadPicture(QStringLiteral(":/pictures/size.png"), devicePixelRatioF()));
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
                   | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    // The layout puts content where the classic group box has its client
    // area: the caption sits on the frame line. Styles that put the caption
    // above the frame would have the preview cross the frame's top edge.
    if (QStyle* classic = QStyleFactory::create(QStringLiteral("Windows"))) {
        classic->setParent(this);
        GrpListaDeImpresoras->setStyle(classic);
        GrpImagen->setStyle(classic);
    }
    setFixedSize(539, 305);
    // Captions before a value keep their right edge; the others grow right.
    FitCaption(Label1, true);
    FitCaption(Label2, true);
    FitCaption(Label3, false);
    FitCaption(Label4, false);
    LImpresora->adjustSize();
    LStatus->adjustSize();

    Memo1->SetTextOnFirstUse([] { return QString::fromStdString(BuiltInSampleText()); });

    TimerEstado = new QTimer(this);
    TimerEstado->setObjectName(QStringLiteral("TimerEstado"));
    TimerEstado->setInterval(200);

    connect(BtnCancel, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnCancelClick(); }); });
    connect(BtnPropiedades, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnPropiedadesClick(); }); });
    connect(CmbPosicion, &QComboBox::activated, this, [this] { RunGuarded([this] { CmbPosicionSelect(); }); });
    // Shown only while a job is being sent, beside Cut.
    BtnStop = new QPushButton(QStringLiteral("S&top"), this);
    BtnStop->setObjectName(QStringLiteral("BtnStop"));
    BtnStop->setAutoDefault(false);
    BtnStop->setGeometry(BtnCut->x() - 64, BtnCut->y(), 56, BtnCut->height());
    BtnStop->hide();

    connect(BtnCut, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnCutClick(); }); });
    connect(BtnStop, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnStopClick(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { RunGuarded([this] { Button1Click(); }); });
    connect(TimerEstado, &QTimer::timeout, this, [this] { RunGuarded([this] { TimerEstadoTimer(); }); });
    // Calibrate keeps the window's controls as they are: it lives in the
    // window's context menu, with a shortcut.
    auto* calibrate = new QAction(tr("Ca&librate..."), this);
    calibrate->setObjectName(QStringLiteral("ActCalibrate"));
    calibrate->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    calibrate->setShortcutContext(Qt::WindowShortcut);
    addAction(calibrate);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(calibrate, &QAction::triggered, this, [this] { RunGuarded([this] { CalibrateClick(); }); });
    // A mnemonic (Alt+C) would click only after a 100 ms animation, and
    // presses within it merge into one: click at once, every time.
    for (QPushButton* button : {BtnCut, BtnCancel, BtnPropiedades, BtnStop})
        button->installEventFilter(this);

    if (QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }

    // Kept settings that cannot be used are read on workers; each is said
    // once, in the error report, and the window carries on.
    SetSettingsNoteHook([](const std::string& text) {
        const QString note = QString::fromStdString(text);
        QMetaObject::invokeMethod(
            qApp, [note] { ShowErrorReport(note); }, Qt::QueuedConnection);
    });

    RunGuarded([this] { FormCreate(); });
}

TFrmPrincipal::~TFrmPrincipal()
{
    SetSettingsNoteHook({});
    // A job being sent ends after its current chunk rather than keep the
    // program alive to the end of the cut (FCalls waits for it).
    StopJobs();
}

int TFrmPrincipal::PositionIndex() const
{
    const int index = CmbPosicion->currentIndex();
    if (index >= 0 && CmbPosicion->currentText() == CmbPosicion->itemText(index))
        return index;
    return -1;
}

void TFrmPrincipal::FormCreate()
{
    TimerEstado->start();
    // The name arrives when the server answers; without any device that
    // answer is a failure, reported once. The window is finished either way.
    AskDeviceName();
    IPLT = std::make_shared<TPLT>();
    ShowPreview(TopLeftPreview);
}

void TFrmPrincipal::AskDeviceName()
{
    const int generation = FDeviceGeneration;
    FCalls.Start(
        TSpoolerCalls::Name, [] { return QString::fromStdString(GetPrinterName()); },
        [this, generation](const QString& name) {
            if (generation != FDeviceGeneration)
                return;
            SetCaption(LImpresora, name);
            FNameKnown = !name.isEmpty();
        },
        [this, generation](const QString& message, bool definite, TSpoolerCalls::Clock::time_point began) {
            if (generation == FDeviceGeneration)
                SpoolerFailed(message, definite, began);
        });
}

void TFrmPrincipal::SpoolerFailed(const QString& message, bool definite, TSpoolerCalls::Clock::time_point began)
{
    FStatusReports.Failed(message, definite, began);
}

void TFrmPrincipal::FormClose()
{
    StopJobs();
    std::shared_ptr<TPLT> store = std::move(IPLT);
    store.reset();
}

void TFrmPrincipal::BtnCancelClick()
{
    close();
}

void TFrmPrincipal::BtnPropiedadesClick()
{
    // Only what is known already: the dialog asks the server itself, off
    // this thread. Without a device yet the user simply chooses one.
    DeviceIdentity identity;
    DeviceSettings settings;
    const bool haveDevice = Printer().KnownPrinter(identity, settings);
    TPrintSetupDialog dialog(this);
    dialog.SetCurrent(haveDevice ? identity.Device : std::string(), settings);
    if (dialog.exec() != QDialog::Accepted)
        return;
    Printer().SetPrinter(dialog.Identity(), dialog.Settings());
    ++FDeviceGeneration;
    FNameKnown = false;
    FStatusReports.Succeeded();
    AskDeviceName();
}

void TFrmPrincipal::CmbPosicionSelect()
{
    ImagenHoja->clear();
    ShowPreview(CmbPosicion->currentIndex());
}

void TFrmPrincipal::BtnCutClick()
{
    if (!IPLT)
        return; // the window is closing
    // Refused before the store is touched: the job being handed over still
    // reads it.
    if (FCalls.Busy(TSpoolerCalls::Job))
        throw EPrinter("Printing in progress");
    std::vector<std::string> lines;
    for (const QString& line : Memo1->toPlainText().split(QLatin1Char('\n')))
        lines.push_back(line.toStdString());
    ReadPlotText(*IPLT, lines);
    StartPrint();
}

void TFrmPrincipal::StartJob(std::function<QString(HandedJob&)> job)
{
    auto handed = std::make_shared<HandedJob>();
    auto leftOut = std::make_shared<QString>();
    const int generation = FDeviceGeneration;
    FStopNote.clear();
    FCalls.Start(
        TSpoolerCalls::Job,
        [job = std::move(job), handed, leftOut] {
            const TStopMark stop;
            HandedJob taken;
            try {
                *leftOut = job(taken);
            } catch (...) {
                // Stopped on request: not a failure, and told as what it is.
                if (!stop.Stopped())
                    throw;
                return QStringLiteral("stopped after ")
                       + QString::fromStdString(JobProgressText(CurrentJobProgress()))
                             .section(QStringLiteral(": "), -1)
                             .section(QStringLiteral(", "), 0, 0);
            }
            *handed = taken;
            return QString();
        },
        [this, handed, generation, leftOut](const QString& stopped) {
            FStopNote = stopped;
            ShowStatus();
            if (handed->Id > 0)
                FFollowed = FollowedJob{*handed, generation, false};
            // A plot cut only in part is told how much was left out.
            if (!leftOut->isEmpty())
                ShowErrorReport(*leftOut);
        },
        // A failed job is the user's own action: reported at once, every time.
        [](const QString& message, bool, TSpoolerCalls::Clock::time_point) { ShowErrorReport(message); });
}

void TFrmPrincipal::StartPrint(const QString& plotFile, const std::vector<int>& pens)
{
    std::shared_ptr<TPLT> plot = IPLT;
    const int position = PositionIndex();
    // A plot file is read here too: a large file or a slow disk must not
    // hold the window. Nothing is printed when the read fails.
    // The file system's own bytes for the name.
    const std::string file = QFile::encodeName(plotFile).toStdString();
    StartJob([plot, position, file, pens](HandedJob& handed) {
        QStringList notices;
        const PrintRequest request = ActiveDeviceRequest(position);
        // Read for the job's sheet, which the file may scale to.
        if (!file.empty())
            for (const std::string& notice : ReadPlotFile(*plot, file, pens, SheetOf(request.Target.Settings)))
                notices << QString::fromStdString(notice);
        const PrintResult result = PrintPlot(*plot, request);
        handed = result.Job;
        notices << QString::fromStdString(LeftOutNotice(result.Share));
        notices.removeAll(QString());
        // One report, each notice a sentence of its own.
        for (qsizetype i = 0; i + 1 < notices.size(); ++i)
            notices[i] = ErrorReportText(notices[i]);
        return notices.join(u'\n');
    });
}

void TFrmPrincipal::StartPattern(const CalibrationCut& cut)
{
    if (FCalls.Busy(TSpoolerCalls::Job))
        throw EPrinter("Printing in progress");
    const int position = PositionIndex();
    StartJob([cut, position](HandedJob& handed) {
        const PrintResult result = PrintPattern(cut, ActiveDeviceRequest(position));
        handed = result.Job;
        return QString::fromStdString(LeftOutNotice(result.Share));
    });
}

void TFrmPrincipal::CalibrateClick()
{
    DeviceIdentity identity;
    DeviceSettings settings;
    if (!Printer().KnownPrinter(identity, settings) || identity.Device.empty())
        throw EPrinter("Choose a device in Print Setup first");
    TCalibrateDialog dialog(
        identity, settings, [this](const CalibrationCut& cut) { StartPattern(cut); }, this);
    dialog.exec();
}

void TFrmPrincipal::Button1Click()
{
    if (!IPLT)
        return;
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name need not exist; the reader reports what cannot be opened.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Plt (*.plt)"));
    // The pens to cut belong with the file: a row of the dialog's own, so
    // the dialog is Qt's on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* pens = new QLineEdit(FPensText, &dialog);
    pens->setObjectName(QStringLiteral("pensEdit"));
    pens->setPlaceholderText(QStringLiteral("all"));
    pens->setToolTip(QStringLiteral("The pens (SP) whose lines are cut, such as 2 or 1,3; empty: every pen"));
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        auto* label = new QLabel(QStringLiteral("&Pens:"), &dialog);
        label->setBuddy(pens);
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(pens, row, 1);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty() || !IPLT)
        return;
    FPensText = pens->text().trimmed();
    const auto chosen = PensFromText(FPensText.toStdString());
    if (!chosen)
        throw EConvertError(Format("\"%1\" is not a list of pens; use pen numbers such as 2 or 1,3, or leave it empty "
                                   "for every pen",
                                   Quoted(FPensText.toStdString())));
    if (FCalls.Busy(TSpoolerCalls::Job))
        throw EPrinter("Printing in progress");
    StartPrint(dialog.selectedFiles().constFirst(), *chosen);
}

void TFrmPrincipal::TimerEstadoTimer()
{
    // The tick never waits: it asks, and the answer is shown when it comes.
    // While an answer is outstanding the tick asks nothing more. A job of
    // ours handed to a queue is asked about in the same call, and only then.
    const int generation = FDeviceGeneration;
    const std::optional<HandedJob> followed =
        FFollowed ? std::optional<HandedJob>(FFollowed->Job) : std::optional<HandedJob>();
    auto outcome = std::make_shared<std::optional<TJobOutcome>>();
    FCalls.Start(
        TSpoolerCalls::Status,
        [followed, outcome] {
            const QString status = QString::fromStdString(GetQueueStatus());
            if (followed) {
                try {
                    *outcome = FollowJob(*followed);
                } catch (const Exception&) {
                    // Asked again next tick; the status has its own reports.
                }
            }
            return status;
        },
        [this, generation, followed, outcome](const QString& status) {
            if (generation != FDeviceGeneration)
                return;
            FServerStatus = JobFollowed(status, followed, *outcome);
            ShowStatus();
            FStatusReports.Succeeded();
        },
        [this, generation](const QString& message, bool definite, TSpoolerCalls::Clock::time_point began) {
            if (generation == FDeviceGeneration)
                SpoolerFailed(message, definite, began);
        });
    if (!FNameKnown)
        AskDeviceName();
    // The job's progress needs no server: shown on every tick.
    ShowStatus();
}

void TFrmPrincipal::ShowStatus()
{
    const JobProgress progress = CurrentJobProgress();
    const int room = BtnPropiedades->x() - LStatus->x() - 6;
    BtnStop->setVisible(progress.Sending);
    if (progress.Sending) {
        SetStatusCaption(LStatus, QStringLiteral("Print: ") + QString::fromStdString(JobProgressText(progress)), room);
        return;
    }
    if (FServerStatus.isEmpty())
        return; // the server has not answered yet
    SetStatusCaption(LStatus,
                     FStopNote.isEmpty() ? FServerStatus : FServerStatus + QStringLiteral(" (job ") + FStopNote + u')',
                     room);
}

void TFrmPrincipal::BtnStopClick()
{
    StopJobs();
}

QString TFrmPrincipal::JobFollowed(const QString& status, const std::optional<HandedJob>& asked,
                                   const std::optional<TJobOutcome>& outcome)
{
    if (!outcome || !asked || !FFollowed || FFollowed->Job.Id != asked->Id || FFollowed->Job.Device != asked->Device)
        return status;
    const bool sameDevice = FFollowed->DeviceGeneration == FDeviceGeneration;
    switch (outcome->State) {
    case TJobOutcome::Completed: FFollowed.reset(); return status;
    case TJobOutcome::Failed: {
        // Reported once: a queue that stopped with it has said so already.
        // Settled before the box, whose loop runs further ticks.
        const bool report = !FFollowed->Reported;
        FFollowed.reset();
        if (report)
            ShowErrorReport(QString::fromStdString(outcome->Message));
        return status;
    }
    case TJobOutcome::Stuck:
        if (!FFollowed->Reported) {
            FFollowed->Reported = true;
            ShowErrorReport(QString::fromStdString(outcome->Message));
        }
        break;
    case TJobOutcome::OnItsWay: break;
    }
    // The reason stands beside the queue's state, for the queue it is about.
    if (!sameDevice || outcome->Reason.empty())
        return status;
    return status + QStringLiteral(" (") + QString::fromStdString(outcome->Reason) + QLatin1Char(')');
}

void TFrmPrincipal::closeEvent(QCloseEvent* event)
{
    RunGuarded([this] { FormClose(); });
    event->accept();
}

void TFrmPrincipal::keyPressEvent(QKeyEvent* event)
{
    // Return and Enter press the focused button, as in a dialog; buttons
    // outside dialogs leave those keys to their window.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled()) {
            button->click();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

bool TFrmPrincipal::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Shortcut) {
        if (auto* button = qobject_cast<QPushButton*>(watched); button && button->isEnabled()) {
            button->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TFrmPrincipal::ShowPreview(int index)
{
    if (index < 0 || index >= TImageList::Count)
        return;
    ImagenHoja->setPixmap(ListaDeImagenes.Image(index));
}
