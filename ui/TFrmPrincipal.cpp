#include "ui/TFrmPrincipal.h"

#include "common/Exceptions.h"
#include "output/PlotPrinting.h"
#include "output/PrinterStatus.h"
#include "platform/PrinterObject.h"
#include "platform/PlotFile.h"
#include "plot/SampleText.h"
#include "plot/UPLT.h"
#include "ui/Pictures.h"
#include "ui/PrintSetupDialog.h"

#include <QCloseEvent>
#include <QFile>
#include <QFontDatabase>
#include <QFileDialog>
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
        image = LoadPicture(QStringLiteral(":/pictures/preview-%1.png").arg(index));
    return image;
}

TFrmPrincipal::TFrmPrincipal(QWidget* parent) : QWidget(parent)
{
    UseTahomaWhereInstalled();
    setupUi(this);
    ImagenMedidas->setPixmap(LoadPicture(QStringLiteral(":/pictures/size.png")));
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

    Memo1->SetTextOnFirstUse(&BuiltInSampleText);

    TimerEstado = new QTimer(this);
    TimerEstado->setObjectName(QStringLiteral("TimerEstado"));
    TimerEstado->setInterval(200);

    connect(BtnCancel, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnCancelClick(); }); });
    connect(BtnPropiedades, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnPropiedadesClick(); }); });
    connect(CmbPosicion, &QComboBox::activated, this, [this] { RunGuarded([this] { CmbPosicionSelect(); }); });
    connect(BtnCut, &QPushButton::clicked, this, [this] { RunGuarded([this] { BtnCutClick(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { RunGuarded([this] { Button1Click(); }); });
    connect(TimerEstado, &QTimer::timeout, this, [this] { FStatusReports.Run([this] { TimerEstadoTimer(); }); });

    if (QScreen* s = screen()) {
        const QRect area = s->availableGeometry();
        move(area.x() + (area.width() - width()) / 2, area.y() + (area.height() - height()) / 2);
    }

    FStatusReports.Run([this] { FormCreate(); });
}

TFrmPrincipal::~TFrmPrincipal() = default;

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
    // Without any device the name query fails; the window is still finished
    // (store and preview) so it stays usable, and the failure is reported at
    // the end.
    std::exception_ptr nameFailure;
    try {
        SetCaption(LImpresora, GetPrinterName());
    } catch (...) {
        nameFailure = std::current_exception();
    }
    IPLT = std::make_unique<TPLT>();
    ShowPreview(TopLeftPreview);
    if (nameFailure)
        std::rethrow_exception(nameFailure);
}

void TFrmPrincipal::FormClose()
{
    std::unique_ptr<TPLT> store = std::move(IPLT);
    store.reset();
}

void TFrmPrincipal::BtnCancelClick()
{
    close();
}

void TFrmPrincipal::BtnPropiedadesClick()
{
    DeviceIdentity identity;
    DeviceSettings settings;
    bool haveDevice = true;
    try {
        Printer().GetPrinter(identity, settings);
    } catch (const EPrinter&) {
        // No default device: let the user choose one rather than refuse.
        haveDevice = false;
    }
    TPrintSetupDialog dialog(this);
    dialog.SetCurrent(haveDevice ? identity.Device : QString(), settings);
    if (dialog.exec() != QDialog::Accepted)
        return;
    Printer().SetPrinter(dialog.Identity(), dialog.Settings());
    SetCaption(LImpresora, GetPrinterName());
}

void TFrmPrincipal::CmbPosicionSelect()
{
    ImagenHoja->clear();
    ShowPreview(CmbPosicion->currentIndex());
}

void TFrmPrincipal::BtnCutClick()
{
    if (!IPLT)
        return;   // the window is closing
    ReadPlotText(*IPLT, Memo1->toPlainText().split(QLatin1Char('\n')));
    PrintPlot(*IPLT, PositionIndex());
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
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return;
    ReadPlotFile(*IPLT, dialog.selectedFiles().constFirst());
    PrintPlot(*IPLT, PositionIndex());
}

void TFrmPrincipal::TimerEstadoTimer()
{
    SetCaption(LStatus, GetQueueStatus());
}

void TFrmPrincipal::closeEvent(QCloseEvent* event)
{
    RunGuarded([this] { FormClose(); });
    event->accept();
}

void TFrmPrincipal::ShowPreview(int index)
{
    if (index < 0 || index >= TImageList::Count)
        return;
    ImagenHoja->setPixmap(ListaDeImagenes.Image(index));
}
