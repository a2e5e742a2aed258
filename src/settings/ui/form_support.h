// Small pieces shared by the settings dialog and the directory picker: their fonts, the class
// icons, and the application-wide hint timing.
#pragma once

#include <QFont>
#include <QIcon>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QWidget;

namespace formsupport {

// "MS Sans Serif" with a character height of 11 pixels; where that face is missing (any Linux
// desktop) the nearest installed sans serif is taken instead, narrowed until the forms' texts
// take no more room than in the face they were laid out for.
QFont msSansSerif();
// Arial, bold, 16 pixels high, with the same kind of fallback (the "..." buttons).
QFont arialBold16();

// Widens every label, check box and radio button of the form whose text does not fit its
// width, as a label that sizes itself to its text would (the stand-in face may still run wider
// than the original in places). Never narrows anything.
void fitToText(QWidget* form);

inline constexpr int SymbolImageCount = 62;
// The 16x16 class icons, one per position of the class-symbol table (the program's resources).
QList<QIcon> loadSymbolImages();
// The picker's own window icon.
QIcon pickerIcon();

// Line breaks inside a hint.
inline constexpr const char* HintLineBreak = "\n";

}  // namespace formsupport

// Application-wide hint timing: a hint appears when the mouse has rested on a control for
// wakeUpMs and stays for showMs. Qt's own timing (about 700 ms, then 10 s) cannot be set by
// the program, so this filter takes the hints of every widget that has one over.
class HintTiming : public QObject {
    Q_OBJECT
public:
    // Installs the filter on the application once; later calls only change the two times.
    static void install(int wakeUpMs, int showMs);
    // The installed filter, or null.
    static HintTiming* instance();

    int wakeUpDelay() const { return wakeUpMs_; }
    int showDuration() const { return showMs_; }

protected:
    bool eventFilter(QObject* object, QEvent* event) override;

private:
    HintTiming();
    void showHint();

    int wakeUpMs_ = 1000;
    int showMs_ = 25000;
    QTimer wakeUp_;
    QPointer<QWidget> target_;
};
