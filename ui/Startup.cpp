#include "ui/Startup.h"

#include "platform/StopSignals.h"
#include "ui/ErrorReport.h"
#include "ui/Pictures.h"
#include "ui/TFrmPrincipal.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr const char* NoDisplay =
    "The window needs a display, and none could be opened%s. Start the program in a desktop session, or cut "
    "without the window: vellico-output-test --cut\n";

QtMessageHandler QtHandler = nullptr;

// The toolkit ends the program (SIGABRT) when it finds no display; the user
// gets a sentence and exit code 1 instead. Other messages go on as before.
void StartupMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type != QtFatalMsg) {
        if (QtHandler)
            QtHandler(type, context, message);
        return;
    }
    // The toolkit's own words ("could not connect to display") came before.
    (void)message;
    std::fprintf(stderr, NoDisplay, "");
    std::fflush(stderr);
    std::_Exit(1);
}

// Whether a platform is named at all: on a Linux desktop the toolkit
// finds one through these.
bool DisplayNamed(int argc, char** argv)
{
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        if (const char* value = std::getenv(name); value && *value)
            return true;
    for (int i = 1; i < argc && argv[i]; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            return true;
    return false;
}

} // namespace

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
    if (!DisplayNamed(*argc, argv)) {
        std::fprintf(stderr, NoDisplay, " (DISPLAY is not set)");
        return 1;
    }
    // Interrupted, the window closes as if the user closed it: a job being
    // sent ends as Stop ends it.
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0)
        wake[0] = wake[1] = -1;
    CatchStopSignals(wake[1]);
    QtHandler = qInstallMessageHandler(StartupMessage);
    const int code = RunOutputTest(*argc, argv, [&wake](TFrmPrincipal& form) {
        qInstallMessageHandler(QtHandler);
        if (wake[0] < 0)
            return;
        auto* signalled = new QSocketNotifier(wake[0], QSocketNotifier::Read, &form);
        QObject::connect(signalled, &QSocketNotifier::activated, &form, [&form] {
            form.close();
            QCoreApplication::exit(1);
        });
    });
    return CaughtStopSignal() != 0 ? 1 : code;
}
