#include "main/deny_progress.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

TDenyProgress::TDenyProgress(const std::string& action, QWidget* parent)
    : QDialog(parent), action_(QString::fromStdString(action)) {
    setObjectName(QStringLiteral("DenyProgress"));
    setWindowTitle(QStringLiteral("Tarvel ") + action_);
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    LText = new QLabel(this);
    LText->setObjectName(QStringLiteral("LText"));
    LText->setMinimumWidth(260);
    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("DenyProgressBar"));
    progressBar->setTextVisible(false);  // the text beside it says the numbers
    progressBar->setRange(0, 1000);      // thousandths: an int holds that for any number of users
    progressBar->setMinimumWidth(120);
    auto* row = new QHBoxLayout;
    row->addWidget(LText);
    row->addWidget(progressBar);
    layout->addLayout(row);
    BAbbrechen = new QPushButton(QStringLiteral("Abbrechen"), this);
    BAbbrechen->setObjectName(QStringLiteral("BAbbrechen"));
    layout->addWidget(BAbbrechen, 0, Qt::AlignHCenter);
    connect(BAbbrechen, &QPushButton::clicked, this, [this] {
        cancelRequested_ = true;
        BAbbrechen->setEnabled(false);  // the change ends at the next user; one click is enough
    });
    running_.start();
}

TDenyProgress::~TDenyProgress() {
    if (arrow_) QGuiApplication::restoreOverrideCursor();
}

void TDenyProgress::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (arrow_) return;
    QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
    arrow_ = true;
}

void TDenyProgress::hideEvent(QHideEvent* event) {
    if (arrow_) QGuiApplication::restoreOverrideCursor();
    arrow_ = false;
    QDialog::hideEvent(event);
}

QString TDenyProgress::count(size_t n) {
    QString digits = QString::number(qulonglong(n));
    for (int pos = int(digits.size()) - 3; pos > 0; pos -= 3) digits.insert(pos, QLatin1Char('.'));
    return digits;
}

void TDenyProgress::update(size_t done, size_t total) {
    const bool showNow = !isVisible();
    if (showNow && total < ShowFromUsers && running_.elapsed() < ShowAfterMs) return;
    LText->setText(action_ + QStringLiteral(": ") + count(done) + QStringLiteral(" von ") + count(total) +
                   QStringLiteral(" Benutzern"));
    progressBar->setValue(total == 0 ? 1000 : int(done * 1000 / total));
    if (showNow) {
        show();
        sincePump_.invalidate();
    }
    // Pumping costs more than a user's change on a fast server: often enough to repaint and to
    // see "Abbrechen", not after every user.
    if (sincePump_.isValid() && sincePump_.elapsed() < 40 && done != 0 && done != total) return;
    sincePump_.start();
    QCoreApplication::processEvents();
}

void TDenyProgress::reject() {
    if (BAbbrechen->isEnabled()) BAbbrechen->click();
}
