// The about box: program name, version, licence, and which directory and operator are in use
// (so nobody mistakes whose rights apply). Created once at program start and shown modally from
// the "Datei" menu; the directory lines are filled each time it is shown.
#pragma once

#include "dialogs/modal_box.h"

class QLabel;

class TFInfo : public TModalBox {
    Q_OBJECT
public:
    explicit TFInfo(QWidget* parent = nullptr);

    // Fills the directory lines from the client's current set-up.
    void showConnection();

    QLabel* LProgramm = nullptr;
    QLabel* LVersion = nullptr;
    QLabel* LLizenz = nullptr;
    QLabel* LVerzeichnis = nullptr;
    QLabel* LOperator = nullptr;
    QLabel* LRechte = nullptr;
    QLabel* certificateLabel = nullptr;  // TLSVerify=no: shown while it applies
    QLabel* connectionLabel = nullptr;  // why the connection failed; hidden when it opened
};

// The box created by the program entry; null until then (a caller then makes its own).
extern TFInfo* FInfo;
