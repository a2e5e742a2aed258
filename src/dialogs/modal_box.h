// The common frame of the two informational boxes: modal, an "OK" button at the bottom right,
// shown with its top-left corner at a given point (the main window's).
#pragma once

#include <QDialog>

class QPushButton;
class QVBoxLayout;

class TModalBox : public QDialog {
    Q_OBJECT
public:
    TModalBox(const char* objectName, const QString& title, QWidget* parent);

    void showAt(const QPoint& topLeft);

    QPushButton* BOk = nullptr;

protected:
    // Adds the OK row below the content and fixes the box to its content's size.
    void finish();
    QVBoxLayout* content = nullptr;
};
