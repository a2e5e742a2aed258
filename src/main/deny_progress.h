// The progress of a long stop or go: "Internet-Stop: 1.234 von 3.200 Benutzern" with
// "Abbrechen". It appears once a change covers more than 50 users or has run 500 ms, keeps the
// window painted while the change runs, and is asked between users whether to stop.
#pragma once

#include "deny/job.h"

#include <QDialog>
#include <QElapsedTimer>

#include <cstddef>
#include <string>

class QLabel;
class QProgressBar;
class QPushButton;

class DenyProgressDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr size_t ShowFromUsers = 51;   // more than 50
    static constexpr int ShowAfterMs = 500;

    DenyProgressDialog(deny::Direction direction, QWidget* parent);
    ~DenyProgressDialog() override;

    // done of total users answered; shows the dialog when due and pumps window messages.
    void update(size_t done, size_t total);
    bool cancelRequested() const { return cancelRequested_; }

    QLabel* textLabel = nullptr;
    QPushButton* cancelButton = nullptr;
    QProgressBar* progressBar = nullptr;  // beside the text: done of total

protected:
    void reject() override;  // Escape and the window's close button cancel as "Abbrechen" does
    // The job's hourglass stays up for the main window; over this dialog the operator needs the
    // arrow to hit "Abbrechen".
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    deny::Direction direction_;
    QElapsedTimer running_;
    QElapsedTimer sincePump_;
    bool cancelRequested_ = false;
    bool arrow_ = false;
};
