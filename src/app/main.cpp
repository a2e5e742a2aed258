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
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// "--help" and "--version" answer on the terminal: read before any window system is asked
// for, so they work without a display. Everything else on the command line is left as it was
// ("/ini=..." is found in the parameters by the window, Qt's own options by QApplication).
// Returns -1 when the program should go on, else its exit code.
int answerCommandLine(int argc, char** argv) {
    QCoreApplication probe(argc, argv);
    platform::qt::installGermanTranslations(probe);  // Qt's lines of --help in German too
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

// Without a display Qt would abort with a core dump; say what is missing instead. Only the
// window systems that need a variable are judged (offscreen, vnc and the rest need none), and
// "-platform" on the command line is left to Qt.
bool displayMissing(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0) return false;
    auto set = [](const char* name) {
        const char* value = std::getenv(name);
        return value && *value;
    };
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const std::string chosen = platform ? platform : "";
    if (chosen.empty()) return !set("DISPLAY") && !set("WAYLAND_DISPLAY");
    if (chosen.starts_with("xcb")) return !set("DISPLAY");
    if (chosen.starts_with("wayland")) return !set("WAYLAND_DISPLAY");
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (const int code = answerCommandLine(argc, argv); code >= 0) return code;
    if (displayMissing(argc, argv)) {
        std::fputs("tarvel: Das Programm braucht eine grafische Oberfläche, aber es ist keine Anzeige da\n"
                   "(weder DISPLAY noch WAYLAND_DISPLAY ist gesetzt).\n",
                   stderr);
        return 1;
    }

    QApplication app(argc, argv);
    platform::qt::installGermanTranslations(app);
    app.setApplicationName(QStringLiteral("Tarvelweb"));
    app.setApplicationVersion(QStringLiteral(TARVEL_VERSION));
    app.setQuitOnLastWindowClosed(true);
    platform::qt::QtPorts ports;
    pictures::installFontFallback();

    // "--nwclient FILE" or "--nwclient=FILE" names the directory client's configuration (the
    // launcher, ./run --ldap); without it the client searches.
    if (const std::string file = nw::configurationFileOption({argv, argv + argc}); !file.empty())
        nw::setConfigurationFile(file);

    TForm1 form;  // FormCreate runs here
    TFInfo info;
    FInfo = &info;
    form.show();
    const int code = app.exec();
    FInfo = nullptr;
    return code;
}
