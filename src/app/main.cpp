// Program entry: the application, the desktop ports, the main window and the about box, then
// the message loop. The program ends when the main window closes.
#include "dialogs/finfo.h"
#include "main/pictures.h"
#include "main/tform1.h"
#include "nwclient/client_setup.h"
#include "platform/qt/qt_ports.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {

// "--help" and "--version" answer on the terminal: read before any window system is asked
// for, so they work without a display. Everything else on the command line is left as it was
// ("/ini=..." is found in the parameters by the window, Qt's own options by QApplication).
// Returns -1 when the program should go on, else its exit code.
int answerCommandLine(int argc, char** argv) {
    QCoreApplication probe(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvel"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARVEL_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Tarvelweb: sperrt und öffnet den Internetzugang von Benutzern über die Mitgliedschaft in einer NDS-Gruppe."));
    // "-platform" is one of Qt's words, not the letters p, l, a, ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOption(QCommandLineOption(QStringLiteral("nwclient"),
                                        QStringLiteral("Konfiguration des Verzeichnis-Clients (nwclient.conf)."),
                                        QStringLiteral("DATEI")));
    parser.addPositionalArgument(QStringLiteral("/ini=DATEI"),
                                 QStringLiteral("Die Einstellungsdatei (sonst tarvel.ini neben dem Programm); "
                                                "auch /ini:, ini= oder ini:."));
    parser.parse(probe.arguments());  // unknown words stay for QApplication and the window
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(parser.helpText().toLocal8Bit().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("Tarvelweb %s\n", TARVEL_VERSION);
        return 0;
    }
    return -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int code = answerCommandLine(argc, argv); code >= 0) return code;

    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Tarvelweb"));
    app.setApplicationVersion(QStringLiteral(TARVEL_VERSION));
    app.setQuitOnLastWindowClosed(true);
    platform::qt::QtPorts ports;
    pictures::installFontFallback();

    // "--nwclient=PATH" names the directory client's configuration (./run --ldap uses it).
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--nwclient=", 11) == 0) nw::setConfigurationFile(argv[i] + 11);

    TForm1 form;  // FormCreate runs here
    TFInfo info;
    FInfo = &info;
    form.show();
    const int code = app.exec();
    FInfo = nullptr;
    return code;
}
