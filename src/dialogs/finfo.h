// The about box: program name, version and licence. Created once at program start and shown
// modally from the "Datei" menu.
#pragma once

#include "dialogs/modal_box.h"

class QLabel;

class TFInfo : public TModalBox {
    Q_OBJECT
public:
    explicit TFInfo(QWidget* parent = nullptr);

    QLabel* LProgramm = nullptr;
    QLabel* LVersion = nullptr;
    QLabel* LLizenz = nullptr;
};

// The box created by the program entry; null until then (a caller then makes its own).
extern TFInfo* FInfo;
