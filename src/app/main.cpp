// Program entry: the application, the desktop ports, the main window and the about box, then
// the message loop. The program ends when the main window closes.
#include "dialogs/finfo.h"
#include "main/pictures.h"
#include "main/tform1.h"
#include "nwclient/client_setup.h"
#include "platform/qt/qt_ports.h"

#include <QApplication>

#include <cstring>

int main(int argc, char** argv) {
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
