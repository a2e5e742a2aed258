#include "main/widgets.h"

#include <QCoreApplication>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QStyle>
#include <QStyleOptionButton>

namespace dragdrop {

QMimeData* makeData(const QString& sourceName) {
    auto* data = new QMimeData;
    QByteArray payload = sourceName.toUtf8() + '\n' + QByteArray::number(QCoreApplication::applicationPid());
    data->setData(QString::fromLatin1(MimeType), payload);
    return data;
}

QString sourceOf(const QMimeData* data) {
    if (!data || !data->hasFormat(QString::fromLatin1(MimeType))) return {};
    const QList<QByteArray> parts = data->data(QString::fromLatin1(MimeType)).split('\n');
    if (parts.size() != 2 || parts[1] != QByteArray::number(QCoreApplication::applicationPid())) return {};
    return QString::fromUtf8(parts[0]);
}

namespace {

// Drag-over: accept as a copy when the target's handler says yes, refuse otherwise.
void judge(const Target& target, QDropEvent* event) {
    const QString source = sourceOf(event->mimeData());
    if (!source.isEmpty() && target.accepts && target.accepts(source)) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void drop(const Target& target, QDropEvent* event) {
    const QString source = sourceOf(event->mimeData());
    if (source.isEmpty() || !target.accepts || !target.accepts(source)) {
        event->ignore();
        return;
    }
    // A copy: the source list never loses rows to a drop.
    event->setDropAction(Qt::CopyAction);
    event->accept();
    if (target.dropped) target.dropped(source);
}

}  // namespace
}  // namespace dragdrop

void fitToWidth(QLabel* label) {
    QFont font = label->font();
    for (int stretch = 100; stretch >= 70; stretch -= 5) {
        font.setStretch(stretch);
        if (QFontMetrics(font).horizontalAdvance(label->text()) <= label->width()) break;
    }
    label->setFont(font);
}

int labelOverflow(const QPushButton* button) {
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    if (button->autoDefault() || button->isDefault()) option.features |= QStyleOptionButton::AutoDefaultButton;
    const int room = button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button).width();
    // As the style lays the label out: picture, 4 pixels, caption (mnemonic "&" not counted).
    int needed = QFontMetrics(button->font())
                     .boundingRect(option.rect, Qt::AlignVCenter | Qt::TextShowMnemonic, option.text)
                     .width();
    if (!option.icon.isNull()) needed += option.iconSize.width() + 4;
    return needed - room;
}

void fitToWidth(QPushButton* button) {
    QFont font = button->font();
    for (int stretch = 100; stretch >= 70; stretch -= 5) {
        font.setStretch(stretch);
        button->setFont(font);
        if (labelOverflow(button) <= 0) break;
    }
}

void repaintWindows() { QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents); }

FocusEnterFilter::FocusEnterFilter(QWidget* watched, std::function<void()> entered)
    : QObject(watched), entered_(std::move(entered)) {
    watched->installEventFilter(this);
}

bool FocusEnterFilter::eventFilter(QObject* object, QEvent* event) {
    if (event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            reason != Qt::MenuBarFocusReason && entered_)
            entered_();
    }
    return QObject::eventFilter(object, event);
}

TListView::TListView(const QString& name, QWidget* parent) : QListWidget(parent) {
    setObjectName(name);
    setViewMode(QListView::ListMode);
    setIconSize(QSize(16, 16));
    // Every row is one small icon and one line: measuring each of tens of thousands of rows
    // on its own made filling a big container several times slower than listing it.
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::CopyAction);
    setDropIndicatorShown(false);
    setAcceptsDrops(true);
}

void TListView::setAcceptsDrops(bool on) {
    setAcceptDrops(on);
    viewport()->setAcceptDrops(on);
}

QList<int> TListView::selectedRows() const {
    QList<int> result;
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected()) result << i;
    return result;
}

bool TListView::hasSelection() const {
    for (int i = 0; i < count(); ++i)
        if (item(i)->isSelected()) return true;
    return false;
}

QMimeData* TListView::mimeData(const QList<QListWidgetItem*>&) const { return dragdrop::makeData(objectName()); }

void TListView::startDrag(Qt::DropActions) {
    if (!hasSelection()) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(dragdrop::makeData(objectName()));
    if (QListWidgetItem* current = currentItem(); current && current->isSelected())
        drag->setPixmap(current->icon().pixmap(16, 16));
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void TListView::dragEnterEvent(QDragEnterEvent* event) { dragdrop::judge(dropTarget, event); }
void TListView::dragMoveEvent(QDragMoveEvent* event) { dragdrop::judge(dropTarget, event); }
void TListView::dropEvent(QDropEvent* event) { dragdrop::drop(dropTarget, event); }

void TListView::mouseDoubleClickEvent(QMouseEvent* event) {
    QListWidget::mouseDoubleClickEvent(event);
    if (onDblClick) onDblClick();
}

TDropButton::TDropButton(const QString& name, const QString& caption, QWidget* parent)
    : QPushButton(caption, parent) {
    setObjectName(name);
    setAcceptDrops(true);
}

void TDropButton::dragEnterEvent(QDragEnterEvent* event) { dragdrop::judge(dropTarget, event); }
void TDropButton::dragMoveEvent(QDragMoveEvent* event) { dragdrop::judge(dropTarget, event); }
void TDropButton::dropEvent(QDropEvent* event) { dragdrop::drop(dropTarget, event); }

void TDropButton::keyPressEvent(QKeyEvent* event) {
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        event->accept();
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}
