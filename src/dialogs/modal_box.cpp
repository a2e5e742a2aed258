#include "dialogs/modal_box.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

TModalBox::TModalBox(const char* objectName, const QString& title, QWidget* parent) : QDialog(parent) {
    setObjectName(QString::fromLatin1(objectName));
    setWindowTitle(title);
    setModal(true);
    content = new QVBoxLayout(this);
}

void TModalBox::finish() {
    BOk = new QPushButton(QStringLiteral("OK"), this);
    BOk->setObjectName("BOk");
    BOk->setDefault(true);
    connect(BOk, &QPushButton::clicked, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(BOk);
    content->addLayout(row);
    content->setSizeConstraint(QLayout::SetFixedSize);
}

void TModalBox::showAt(const QPoint& topLeft) {
    move(topLeft);
    exec();
}
