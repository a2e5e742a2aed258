#include "main/deny_progress.h"

#include "deny/describe.h"

#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

DenyProgressDialog::DenyProgressDialog(deny::Direction direction, QWidget* parent)
    : QDialog(parent), direction_(direction) {
    setObjectName(QStringLiteral("DenyProgress"));
    setWindowTitle(QStringLiteral("Tarvel ") + QString::fromUtf8(deny::actionText(direction)));
    setWindowModality(Qt::ApplicationModal);
    auto* layout = new QVBoxLayout(this);
    textLabel = new QLabel(this);
    textLabel->setObjectName(QStringLiteral("textLabel"));
    textLabel->setMinimumWidth(260);
    progressBar = new QProgressBar(this);
    progressBar->setObjectName(QStringLiteral("DenyProgressBar"));
    progressBar->setTextVisible(false);  // the text beside it says the numbers
    progressBar->setRange(0, 1000);      // thousandths: an int holds that for any number of users
    progressBar->setMinimumWidth(120);
    auto* row = new QHBoxLayout;
    row->addWidget(textLabel);
    row->addWidget(progressBar);
    layout->addLayout(row);
    cancelButton = new QPushButton(QStringLiteral("Abbrechen"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    layout->addWidget(cancelButton, 0, Qt::AlignHCenter);
    connect(cancelButton, &QPushButton::clicked, this, [this] {
        cancelRequested_ = true;
        cancelButton->setEnabled(false);  // the change ends at the next user; one click is enough
    });
    running_.start();
}

DenyProgressDialog::~DenyProgressDialog() {
    if (arrow_) QGuiApplication::restoreOverrideCursor();
}

void DenyProgressDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (arrow_) return;
    QGuiApplication::setOverrideCursor(QCursor(Qt::ArrowCursor));
    arrow_ = true;
}

void DenyProgressDialog::hideEvent(QHideEvent* event) {
    if (arrow_) QGuiApplication::restoreOverrideCursor();
    arrow_ = false;
    QDialog::hideEvent(event);
}

void DenyProgressDialog::update(size_t done, size_t total) {
    const bool showNow = !isVisible();
    if (showNow && total < ShowFromUsers && running_.elapsed() < ShowAfterMs) return;
    textLabel->setText(QString::fromStdString(deny::progressText(direction_, done, total)));
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

void DenyProgressDialog::reject() {
    if (cancelButton->isEnabled()) cancelButton->click();
}
