// The least a Qt Widgets program with a main window does: a bare QMainWindow of the desktop
// program's size, shown, ending at its first paint.
#include <QApplication>
#include <QMainWindow>

#include "FirstPaintExit.h"

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    QMainWindow window;
    window.resize(1000, 700);
    window.show();
    bench::FirstPaintExit exitAtPaint(&window);
    return QApplication::exec();
}
