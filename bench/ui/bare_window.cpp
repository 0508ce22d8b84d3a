// The yardstick: an empty Qt Widgets window of the same size, shown the same
// way, reporting on stdout once the event loop runs after show().
#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(539, 305);
    window.setWindowTitle(QStringLiteral("bare"));
    window.show();
    QTimer::singleShot(0, &window, [] {
        std::printf("shown\n");
        std::fflush(stdout);
        QApplication::quit();
    });
    return QApplication::exec();
}
