#include "main/deny_progress.h"

#include <QCoreApplication>
#include <QLabel>
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
    layout->addWidget(LText);
    BAbbrechen = new QPushButton(QStringLiteral("Abbrechen"), this);
    BAbbrechen->setObjectName(QStringLiteral("BAbbrechen"));
    layout->addWidget(BAbbrechen, 0, Qt::AlignHCenter);
    connect(BAbbrechen, &QPushButton::clicked, this, [this] {
        cancelRequested_ = true;
        BAbbrechen->setEnabled(false);  // the change ends at the next user; one click is enough
    });
    running_.start();
}

QString TDenyProgress::count(size_t n) {
    QString digits = QString::number(qulonglong(n));
    for (int pos = int(digits.size()) - 3; pos > 0; pos -= 3) digits.insert(pos, QLatin1Char('.'));
    return digits;
}

void TDenyProgress::update(size_t done, size_t total) {
    if (!isVisible()) {
        if (total < ShowFromUsers && running_.elapsed() < ShowAfterMs) return;
        LText->setText(action_ + QStringLiteral(": ") + count(done) + QStringLiteral(" von ") + count(total) +
                       QStringLiteral(" Benutzern"));
        show();
        sincePump_.invalidate();
    } else {
        LText->setText(action_ + QStringLiteral(": ") + count(done) + QStringLiteral(" von ") + count(total) +
                       QStringLiteral(" Benutzern"));
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
