#include "dialogs/finfo.h"

#include "dialogs/connection_failure.h"
#include "nwclient/client_setup.h"

#include <QLabel>
#include <QVBoxLayout>

TFInfo* FInfo = nullptr;

TFInfo::TFInfo(QWidget* parent) : TModalBox("FInfo", QStringLiteral("Info"), parent) {
    LProgramm = new QLabel(QStringLiteral("Tarvelweb"), this);
    LProgramm->setObjectName("LProgramm");
    QFont big = LProgramm->font();
    big.setPointSize(14);
    big.setBold(true);
    LProgramm->setFont(big);

    LVersion = new QLabel(QStringLiteral("Version " TARVEL_VERSION), this);
    LVersion->setObjectName("LVersion");

    auto* zweck = new QLabel(QString::fromUtf8("Sperrt und öffnet den Internetzugang von Benutzern\n"
                                               "über die Mitgliedschaft in einer NDS-Gruppe."),
                             this);

    LLizenz = new QLabel(QString::fromUtf8("Freie Software unter der GNU General Public License,\n"
                                           "Version 3 oder später (GPL-3.0-or-later).\n"
                                           "Den Lizenztext enthält die Datei LICENSE."),
                         this);
    LLizenz->setObjectName("LLizenz");

    content->addWidget(LProgramm);
    content->addWidget(LVersion);
    content->addSpacing(8);
    content->addWidget(zweck);
    content->addSpacing(8);
    content->addWidget(LLizenz);
    content->addSpacing(8);

    auto line = [this](const char* name) {
        auto* l = new QLabel(this);
        l->setObjectName(QString::fromLatin1(name));
        l->setTextFormat(Qt::PlainText);  // names and paths are never markup
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        content->addWidget(l);
        return l;
    };
    LVerzeichnis = line("LVerzeichnis");
    LOperator = line("LOperator");
    LRechte = line("LRechte");
    certificateLabel = line("certificateLabel");
    certificateLabel->setWordWrap(true);
    connectionLabel = line("connectionLabel");
    connectionLabel->setWordWrap(true);
    connectionLabel->setMinimumWidth(320);
    finish();
    showConnection();
}

void TFInfo::showConnection() {
    const nw::ConnectionIdentity id = nw::connectionIdentity();
    const QString none = QStringLiteral("(keines)");
    LVerzeichnis->setText(QStringLiteral("Verzeichnis: ") +
                          (id.tree.empty() ? none : QString::fromStdString(id.tree)));
    LOperator->setText(QStringLiteral("Angemeldet als: ") +
                       (id.operatorName.empty() ? none : QString::fromStdString(id.operatorName)));
    // The tree file's rights are a convention among its users, not a barrier.
    LRechte->setText(id.embedded ? QString::fromUtf8("Eingebettetes Verzeichnis: Die Rechte werden nicht erzwungen;\n"
                                                     "wer die Datei schreiben kann, kann alles ändern.")
                                 : QString());
    LRechte->setVisible(id.embedded);
    // Said here as on standard error: with TLSVerify=no any server could have taken the password.
    certificateLabel->setText(id.certificateUnchecked
                                  ? QString::fromUtf8("Das Zertifikat des Servers wurde nicht geprüft (TLSVerify=no in "
                                                      "nwclient.conf): ein fremder Server könnte das Kennwort erhalten haben.")
                                  : QString());
    certificateLabel->setVisible(id.certificateUnchecked);
    const ConnectionFailure failure = connectionFailure();
    connectionLabel->setText(failure.code == 0 ? QString()
                                           : QStringLiteral("Verbindung fehlgeschlagen: ") +
                                                 QString::fromStdString(failureLine(failure)));
    connectionLabel->setVisible(failure.code != 0);
}
