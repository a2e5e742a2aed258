#include "settings/ui/form_support.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>
#include <QRadioButton>
#include <QToolTip>
#include <QWidget>

#include <algorithm>

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

// Texts of the settings dialog with their widths in "MS Sans Serif" 8 pt: the labels there
// size themselves to their text, so these are the face's own widths.
struct LaidOutText {
    const char* text;
    int width;
};
constexpr LaidOutText LaidOutTexts[] = {
    {"Basis-Benutzer-Container:", 121},
    {"Basis-Workstation-Container", 133},
    {"Internet-Verbotsgruppe (User):", 142},
    {"Internet-Verbotsgruppe (Workstations):", 182},
    {"Folgende Einstellungen beziehen sich auf die Benutzer/WS-Anzeige:", 325},
    {"Zeige nur Container, die beginnen mit (zB: Schu, Kla):", 252},
    {"Zeige KEINE Container, die enthalten (zB:Verwalter, min):", 270},
    {"Zeige nur Blattobjekte(User/WS), die beginnen mit:", 241},
    {"Zeige KEINE Blattobjekte(User/WS), die enthalten:", 242},
};

// The widest stretch (percent) at which every laid-out text fits in the installed face.
int fittingStretch(QFont font) {
    constexpr int narrowest = 65;
    for (int stretch = 100; stretch > narrowest; --stretch) {
        font.setStretch(stretch);
        const QFontMetrics metrics(font);
        if (std::all_of(std::begin(LaidOutTexts), std::end(LaidOutTexts), [&](const LaidOutText& t) {
                return metrics.horizontalAdvance(QString::fromUtf8(t.text)) <= t.width;
            }))
            return stretch;
    }
    return narrowest;
}

}  // namespace

QFont msSansSerif() {
    QFont font = withFallbacks("MS Sans Serif",
                               {"Microsoft Sans Serif", "Liberation Sans", "DejaVu Sans", "Arial", "Helvetica"});
    font.setPixelSize(11);
    // Measured once: the installed faces do not change while the program runs.
    static const int stretch = fittingStretch(font);
    if (stretch != 100) font.setStretch(stretch);
    return font;
}

void fitToText(QWidget* form) {
    for (QWidget* w : form->findChildren<QWidget*>()) {
        int needed = 0;
        if (auto* label = qobject_cast<QLabel*>(w))
            needed = label->sizeHint().width();
        else if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w))
            needed = w->sizeHint().width();
        if (needed > w->width()) w->resize(needed, w->height());
    }
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
