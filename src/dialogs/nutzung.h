// The usage terms: a short German text on who may use the program and how, shown modally from
// the "Datei" menu.
#pragma once

#include "dialogs/modal_box.h"

class QPlainTextEdit;

class TFNutzung : public TModalBox {
    Q_OBJECT
public:
    explicit TFNutzung(QWidget* parent = nullptr);

    QPlainTextEdit* MText = nullptr;

    static const char* const Text;
};
