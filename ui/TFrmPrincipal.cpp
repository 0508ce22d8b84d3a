#include "ui/TFrmPrincipal.h"

#include "platform/PrinterObject.h"
#include "plot/SampleText.h"
#include "ui/CalibrateDialog.h"
#include "ui/Pictures.h"
#include "ui/PrintSetupDialog.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>

#include <vector>

namespace {

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

// Answers from the workers run on the window's thread. Queued to the
// application rather than to the window: the settings note may come from a
// thread that outlives it; the session drops what comes after it closed.
void PostToWindowThread(std::function<void()> answer)
{
    if (QCoreApplication* application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, std::move(answer), Qt::QueuedConnection);
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

TFrmPrincipal::TFrmPrincipal(QWidget* parent) : QWidget(parent), FSession(*this, PostToWindowThread)
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

    RunGuarded([this] { FormCreate(); });
}

// The session stops a job being sent and waits for its workers.
TFrmPrincipal::~TFrmPrincipal() = default;

void TFrmPrincipal::FormCreate()
{
    TimerEstado->start();
    FSession.Started();
}

void TFrmPrincipal::FormClose()
{
    FSession.Close();
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
    if (dialog.exec() == QDialog::Accepted)
        FSession.DeviceChosen(dialog.Identity(), dialog.Settings());
}

void TFrmPrincipal::CmbPosicionSelect()
{
    FSession.PositionChosen(CmbPosicion->currentIndex());
}

void TFrmPrincipal::BtnCutClick()
{
    std::vector<std::string> lines;
    for (const QString& line : Memo1->toPlainText().split(QLatin1Char('\n')))
        lines.push_back(line.toStdString());
    FSession.Cut(lines);
}

void TFrmPrincipal::CalibrateClick()
{
    DeviceIdentity identity;
    DeviceSettings settings;
    FSession.CalibrationDevice(identity, settings);
    TCalibrateDialog dialog(
        identity, settings, [this](const CalibrationCut& cut) { FSession.CutPattern(cut); }, this);
    dialog.exec();
}

void TFrmPrincipal::Button1Click()
{
    if (!FSession.Store())
        return; // the window is closing
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name need not exist; the reader reports what cannot be opened.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QStringLiteral("Plt (*.plt)"));
    // The pens to cut belong with the file: a row of the dialog's own, so
    // the dialog is Qt's on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    auto* pens = new QLineEdit(QString::fromStdString(FSession.PensText()), &dialog);
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
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    // The file system's own bytes for the name.
    FSession.OpenPlot(QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString(), pens->text().toStdString());
}

void TFrmPrincipal::TimerEstadoTimer()
{
    FSession.Tick();
}

void TFrmPrincipal::BtnStopClick()
{
    FSession.Stop();
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

void TFrmPrincipal::ShowDeviceName(const std::string& name)
{
    SetCaption(LImpresora, QString::fromStdString(name));
}

void TFrmPrincipal::ShowStatus(const std::string& text)
{
    SetStatusCaption(LStatus, QString::fromStdString(text), BtnPropiedades->x() - LStatus->x() - 6);
}

void TFrmPrincipal::ShowStop(bool visible)
{
    BtnStop->setVisible(visible);
}

void TFrmPrincipal::ShowPreview(int index)
{
    if (index < 0)
        ImagenHoja->clear();
    else
        ImagenHoja->setPixmap(ListaDeImagenes.Image(index));
}

void TFrmPrincipal::ShowErrorReport(const std::string& message)
{
    ::ShowErrorReport(QString::fromStdString(message));
}

bool TFrmPrincipal::ErrorReportShowing() const
{
    return ::ErrorReportShowing();
}

int TFrmPrincipal::SelectedPosition() const
{
    return CmbPosicion->currentIndex();
}

std::string TFrmPrincipal::PositionText() const
{
    return CmbPosicion->currentText().toStdString();
}
