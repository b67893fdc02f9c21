// Bankquill: starts the application on the JACK MIDI services, opens the PCG files named on the
// command line (`bankquill FILE...`, as a file manager starts it) and runs the event loop.
#include <QApplication>

#include <cstdio>
#include <cstring>

#include "messages/Messages.h"
#include "messages/StringTable.h"
#include "midi/JackMidiServices.h"
#include "shell/BankquillApp.h"

namespace {

bool AsksForHelp(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            return true;
        }
    }
    return false;
}

// The files of the arguments that Qt has left. An argument that starts with '-' before "--"
// is a mistyped option rather than a file; false names it in *wrong.
bool FilesOf(const QStringList& arguments, QStringList* files, QString* wrong) {
    bool optionsEnded = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!optionsEnded && argument == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && argument.size() > 1 && argument.startsWith(QLatin1Char('-'))) {
            *wrong = argument;
            return false;
        } else {
            files->append(argument);
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const QByteArray help = bq::LoadString(bq::StringId::CommandLineHelp).toLocal8Bit();
    // Before the application object, which needs a display: the help does not.
    if (AsksForHelp(argc, argv)) {
        std::fputs(help.constData(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    QApplication qtApp(argc, argv);  // takes Qt's own options (-platform, -style ...) out
    QStringList files;
    QString wrong;
    if (!FilesOf(QApplication::arguments(), &files, &wrong)) {
        std::fprintf(stderr, "%s\n%s",
                     bq::FormatText(bq::LoadString(bq::StringId::UnknownOption), {wrong})
                         .toLocal8Bit()
                         .constData(),
                     help.constData());
        return 2;
    }
    // Declared before the application object so that the windows (and the ports they hold)
    // go before the services.
    bq::midi::JackMidiServices services;
    CBankquillApp app(services);
    if (!app.InitInstance()) {
        return 1;
    }
    app.OpenFiles(files);
    return QApplication::exec();
}
