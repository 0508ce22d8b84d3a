#include "ui/Startup.h"

#include "ui/ErrorReport.h"
#include "ui/TFrmPrincipal.h"

#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QIcon>
#include <QTimer>

namespace {

// The window is laid out for Tahoma 8 pt. Debian's fonts-wine carries a
// metric-compatible Tahoma outside fontconfig's search path; use it when the
// system has no Tahoma of its own, so captions fit as designed.
void UseTahomaWhereInstalled()
{
    if (QFontDatabase::hasFamily(QStringLiteral("Tahoma")))
        return;
    for (const char* path : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
        if (QFile::exists(QString::fromLatin1(path)))
            QFontDatabase::addApplicationFont(QString::fromLatin1(path));
    }
}

} // namespace

int RunOutputTest(int& argc, char** argv, const std::function<void(TFrmPrincipal&)>& shown)
{
    QApplication application(argc, argv);
    // Every top-level Qt window owns its taskbar entry; the main window's is
    // the only one, so there is no hidden application window to suppress.
    QApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
    QApplication::setDesktopFileName(QStringLiteral("vellico-output-test"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/vellico-output-test.png")));
    UseTahomaWhereInstalled();

    TFrmPrincipal FrmPrincipal;
    FrmPrincipal.show();
    if (shown)
        QTimer::singleShot(0, &FrmPrincipal, [&FrmPrincipal, &shown] { shown(FrmPrincipal); });
    return QApplication::exec();
}
