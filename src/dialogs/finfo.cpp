#include "dialogs/finfo.h"

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
    finish();
}
