// The yardstick: an empty Qt Widgets window of the same size, shown the same
// way, reporting on stdout once the event loop runs after show().
//   bench_bare_window          nothing in it
//   bench_bare_window --text   one label, so the font database is loaded as
//                              in any window that shows text
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QWidget>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(539, 305);
    window.setWindowTitle(QStringLiteral("bare"));
    if (argc > 1) {
        auto* label = new QLabel(QStringLiteral("Active Device:"), &window);
        label->adjustSize();
    }
    window.show();
    QTimer::singleShot(0, &window, [] {
        std::printf("shown\n");
        std::fflush(stdout);
        QApplication::quit();
    });
    return QApplication::exec();
}
