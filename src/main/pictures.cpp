#include "main/pictures.h"

#include <QFont>
#include <QFontDatabase>
#include <QString>

#include <array>

// The resources live in a static library; without this call the linker may drop them.
static void initResources() { Q_INIT_RESOURCE(tarvel); }

namespace pictures {
namespace {

void ensureResources() {
    static const bool done = (initResources(), true);
    (void)done;
}

QIcon withDisabled(const QString& normal, const QString& disabled) {
    ensureResources();
    QIcon icon;
    icon.addPixmap(QPixmap(normal), QIcon::Normal);
    icon.addPixmap(QPixmap(disabled), QIcon::Disabled);
    return icon;
}

}  // namespace

const QIcon& symbol(int index) {
    static const std::array<QIcon, SymbolCount> icons = [] {
        ensureResources();
        std::array<QIcon, SymbolCount> all;
        for (int i = 0; i < SymbolCount; ++i)
            all[size_t(i)] = QIcon(QPixmap(QStringLiteral(":/tarvel/symbole/%1.xpm").arg(i, 2, 10, QChar('0'))));
        return all;
    }();
    if (index < 0 || index >= SymbolCount) index = 1;
    return icons[size_t(index)];
}

QIcon benutzer() {
    ensureResources();
    return QIcon(QPixmap(QStringLiteral(":/tarvel/benutzer.xpm")));
}

QIcon computer() {
    ensureResources();
    return QIcon(QPixmap(QStringLiteral(":/tarvel/computer.xpm")));
}

QIcon stop() { return withDisabled(QStringLiteral(":/tarvel/stop.xpm"), QStringLiteral(":/tarvel/stop-disabled.xpm")); }

QIcon go() { return withDisabled(QStringLiteral(":/tarvel/go.xpm"), QStringLiteral(":/tarvel/go-disabled.xpm")); }

void installFontFallback() {
    const QStringList families = QFontDatabase::families();
    QStringList fallbacks;
    for (const char* name : {"DejaVu Sans", "Liberation Sans", "Arial", "Helvetica"})
        if (families.contains(QString::fromLatin1(name))) fallbacks << QString::fromLatin1(name);
    if (!fallbacks.isEmpty()) QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), fallbacks);
}

QFont formFont() {
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    return font;
}

}  // namespace pictures
