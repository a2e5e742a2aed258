#include "dialogs/nutzung.h"

#include <QPlainTextEdit>
#include <QVBoxLayout>

const char* const TFNutzung::Text =
    "Nutzungsbestimmungen für Tarvelweb\n"
    "\n"
    "1. Tarvelweb ist für Lehrkräfte und Administratoren eines Schulnetzes bestimmt. "
    "Es ändert Gruppenmitgliedschaften im Verzeichnis mit den Rechten der angemeldeten Person; "
    "benutzen Sie es nur für Benutzer, für die Sie zuständig sind.\n"
    "\n"
    "2. Das Sperren des Internetzugangs ist eine pädagogische oder organisatorische Maßnahme. "
    "Beachten Sie die Regeln Ihrer Schule und informieren Sie die Betroffenen, wo dies vorgesehen ist.\n"
    "\n"
    "3. Wenn eine Meldung auf Inkonsistenzen hinweist, benachrichtigen Sie den Administrator "
    "mit dem Wortlaut der Meldung.\n"
    "\n"
    "4. Das Programm ist freie Software (GPL-3.0-or-later) und wird ohne jede Gewährleistung "
    "bereitgestellt. Einzelheiten enthält die Datei LICENSE.\n";

TFNutzung::TFNutzung(QWidget* parent) : TModalBox("FNutzung", QStringLiteral("Nutzungsbestimmungen"), parent) {
    MText = new QPlainTextEdit(this);
    MText->setObjectName("MText");
    MText->setReadOnly(true);
    MText->setPlainText(QString::fromUtf8(Text));
    MText->setFixedSize(380, 220);

    content->addWidget(MText);
    finish();
}
