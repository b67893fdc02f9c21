// The desktop program's start-up as app/main.cpp does it, ending at the main window's first
// paint.
#include <QApplication>

#include "FirstPaintExit.h"
#include "midi/JackMidiServices.h"
#include "shell/BankquillApp.h"
#include "shell/MainFrame.h"

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    bq::midi::JackMidiServices services;
    CBankquillApp app(services);
    if (!app.InitInstance()) {
        return 1;
    }
    bench::FirstPaintExit exitAtPaint(app.MainFrame());
    return QApplication::exec();
}
