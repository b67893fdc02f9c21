// Bankquill: starts the application on the JACK MIDI services and runs the event loop.
#include <QApplication>

#include "midi/JackMidiServices.h"
#include "shell/BankquillApp.h"

int main(int argc, char** argv) {
    QApplication qtApp(argc, argv);
    // Declared before the application object so that the windows (and the ports they hold)
    // go before the services.
    bq::midi::JackMidiServices services;
    CBankquillApp app(services);
    if (!app.InitInstance()) {
        return 1;
    }
    return QApplication::exec();
}
