#include "settings/ui/form_support.h"

#include <QApplication>
#include <QCursor>
#include <QEvent>
#include <QPixmap>
#include <QToolTip>
#include <QWidget>

// The pictures live in a static library; without this call the linker may drop them.
static void initTarvelResources() { Q_INIT_RESOURCE(tarvel); }

namespace formsupport {
namespace {

QFont withFallbacks(const char* family, std::initializer_list<const char*> fallbacks) {
    QStringList families{QString::fromLatin1(family)};
    for (const char* f : fallbacks) families << QString::fromLatin1(f);
    QFont font(families.front());
    font.setFamilies(families);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace

QFont msSansSerif() {
    QFont font = withFallbacks("MS Sans Serif",
                               {"Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans", "Arial", "Helvetica"});
    font.setPixelSize(11);
    return font;
}

QFont arialBold16() {
    QFont font = withFallbacks("Arial", {"Liberation Sans", "DejaVu Sans", "Helvetica"});
    font.setPixelSize(16);
    font.setBold(true);
    return font;
}

QList<QIcon> loadSymbolImages() {
    static const bool resources = (initTarvelResources(), true);
    (void)resources;
    QList<QIcon> images;
    images.reserve(SymbolImageCount);
    for (int i = 0; i < SymbolImageCount; ++i)
        images << QIcon(QPixmap(QStringLiteral(":/tarvel/symbole/%1.xpm").arg(i, 2, 10, QChar('0'))));
    return images;
}

QIcon pickerIcon() {
    static const bool resources = (initTarvelResources(), true);
    (void)resources;
    // The organisation chart: what the picker is about.
    return QIcon(QPixmap(QStringLiteral(":/tarvel/symbole/29.xpm")));
}

}  // namespace formsupport

// ---------------------------------------------------------------- HintTiming

namespace {
HintTiming* installedHintTiming = nullptr;

// The control whose hint applies at this widget: the widget itself or the nearest parent in
// the same window that has a hint.
QWidget* hintOwner(QWidget* w) {
    for (; w; w = w->parentWidget()) {
        if (!w->toolTip().isEmpty()) return w;
        if (w->isWindow()) break;
    }
    return nullptr;
}
}  // namespace

HintTiming::HintTiming() : QObject(qApp) {
    wakeUp_.setSingleShot(true);
    connect(&wakeUp_, &QTimer::timeout, this, &HintTiming::showHint);
}

void HintTiming::install(int wakeUpMs, int showMs) {
    if (!installedHintTiming) {
        installedHintTiming = new HintTiming;
        qApp->installEventFilter(installedHintTiming);
        connect(installedHintTiming, &QObject::destroyed, [] { installedHintTiming = nullptr; });
    }
    installedHintTiming->wakeUpMs_ = wakeUpMs;
    installedHintTiming->showMs_ = showMs;
}

HintTiming* HintTiming::instance() { return installedHintTiming; }

bool HintTiming::eventFilter(QObject* object, QEvent* event) {
    if (!object->isWidgetType()) return false;
    auto* widget = static_cast<QWidget*>(object);
    switch (event->type()) {
    case QEvent::ToolTip:
        // Qt's own timing would show the hint too early and hide it too soon.
        return !widget->toolTip().isEmpty();
    case QEvent::Enter: {
        QWidget* owner = hintOwner(widget);
        if (owner != target_) {
            wakeUp_.stop();
            target_ = owner;
            if (owner) wakeUp_.start(wakeUpMs_);
        }
        break;
    }
    case QEvent::Leave:
        if (widget == target_) {
            wakeUp_.stop();
            target_ = nullptr;
        }
        break;
    case QEvent::MouseButtonPress:
    case QEvent::KeyPress:
    case QEvent::Wheel:
        wakeUp_.stop();
        break;
    default:
        break;
    }
    return false;
}

void HintTiming::showHint() {
    if (!target_ || !target_->isVisible() || target_->toolTip().isEmpty()) return;
    QToolTip::showText(QCursor::pos(), target_->toolTip(), target_, QRect(), showMs_);
}
