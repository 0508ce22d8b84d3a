#include "ui/Startup.h"

#include "ui/ErrorReport.h"
#include "ui/Pictures.h"
#include "ui/TFrmPrincipal.h"

#include <QApplication>
#include <QTimer>

int RunOutputTest(int& argc, char** argv, const std::function<void(TFrmPrincipal&)>& shown)
{
    QApplication application(argc, argv);
    // Every top-level Qt window owns its taskbar entry; the main window's is
    // the only one, so there is no hidden application window to suppress.
    QApplication::setApplicationName(QString::fromLatin1(ApplicationTitle));
    QApplication::setDesktopFileName(QStringLiteral("vellico-output-test"));
    QApplication::setWindowIcon(ApplicationIcon());

    TFrmPrincipal FrmPrincipal;
    FrmPrincipal.show();
    if (shown)
        QTimer::singleShot(0, &FrmPrincipal, [&FrmPrincipal, &shown] { shown(FrmPrincipal); });
    return QApplication::exec();
}

int RunOutputTestWindow(int* argc, char** argv)
{
    return RunOutputTest(*argc, argv);
}
