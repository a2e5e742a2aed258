// The main window's list views and buttons: rows are dragged as a copy with data naming the
// source list; drops and "enter" (focus moving in from another control of the window) are
// handed to the form's handlers.
#pragma once

#include <QListWidget>
#include <QObject>
#include <QPushButton>

#include <functional>

class QLabel;
class QMimeData;

namespace dragdrop {

// Our own MIME type; the data is the source list's object name and this process's id, so
// rows dragged from another running copy of the program are not taken for ours.
inline constexpr const char* MimeType = "application/x-tarvel-rows";

QMimeData* makeData(const QString& sourceName);
// The source list's object name, or empty when the data is not ours or not from this process.
QString sourceOf(const QMimeData* data);

// What a drop target asks of the form.
struct Target {
    std::function<bool(const QString& source)> accepts;  // drag-over
    std::function<void(const QString& source)> dropped;  // the drop (after accepts said yes)
};

}  // namespace dragdrop

// Narrows a label's font (horizontal stretch) until its text fits the label's width: the
// fallback for "MS Sans Serif" is wider than the original, and the layout is fixed.
void fitToWidth(QLabel* label);

// How many pixels a button's picture and caption together are wider than the room the style
// gives them (0 or less: they fit). The style centres both and clips what overflows, so the
// picture's left edge and the caption's end would be cut.
int labelOverflow(const QPushButton* button);
// Narrows a button's font like fitToWidth until its picture and caption fit.
void fitToWidth(QPushButton* button);

// Lets the windows repaint (and timers run) in the middle of a long command. Clicks and keys wait
// until the command has ended, so none acts on a half-refilled window.
void repaintWindows();

// Calls `entered` when the focus moves into the watched widget from another control — not when
// the window gets the focus back after a message box or a menu closes.
class FocusEnterFilter : public QObject {
    Q_OBJECT
public:
    FocusEnterFilter(QWidget* watched, std::function<void()> entered);

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    std::function<void()> entered_;
};

// A list view in small-icon view: read-only, multi-selection, automatic drag (copy only).
class TListView : public QListWidget {
    Q_OBJECT
public:
    explicit TListView(const QString& name, QWidget* parent);

    dragdrop::Target dropTarget;             // unset: the list accepts no drops
    std::function<void()> onDblClick;

    // Drops arrive at the viewport; both take the same setting.
    void setAcceptsDrops(bool on);

    // Index of every selected row, ascending.
    QList<int> selectedRows() const;
    bool hasSelection() const;

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    QMimeData* mimeData(const QList<QListWidgetItem*>& items) const override;
    Qt::DropActions supportedDropActions() const override { return Qt::CopyAction; }
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
};

// A button that rows can be dropped on.
class TDropButton : public QPushButton {
    Q_OBJECT
public:
    TDropButton(const QString& name, const QString& caption, QWidget* parent);
    dragdrop::Target dropTarget;

protected:
    // Enter presses a focused button as Space does (a main window has no default button).
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
};
