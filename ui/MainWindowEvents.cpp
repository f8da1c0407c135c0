// MainWindow's event routing: the limit edit's leaving rules, the recording switch's press and
// space bar, and presses that would move the focus out of the limit edit.

#include <QCheckBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QWindow>

#include "MainWindow.h"

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Emaxlinie) return LimitEditEvent(event);
    if (watched == CBzapis) return RecordingSwitchEvent(event);
    if (event->type() == QEvent::MouseButtonPress && windowHandle() != nullptr &&
        watched == windowHandle()) {
        return PressLeavesLimitEdit(event);
    }
    return false;
}

bool MainWindow::LimitEditEvent(QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier)) return false;
        switch (key->key()) {
            case Qt::Key_Return:
            case Qt::Key_Enter: {
                char typed = '\r';
                EmaxlinieKeyPress(typed);
                return typed == 0;
            }
            case Qt::Key_Tab:
                MoveFocusFromLimitEdit(true);
                return true;
            case Qt::Key_Backtab:
                MoveFocusFromLimitEdit(false);
                return true;
            default:
                return false;
        }
    }
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // The window losing activation (a box, another program) or a menu opening is no move
        // between the window's controls; a move validated beforehand is not validated again.
        if (leavingLimitEdit_ || validatingLimit_ || reason == Qt::ActiveWindowFocusReason ||
            reason == Qt::PopupFocusReason || reason == Qt::MenuBarFocusReason) {
            return false;
        }
        EmaxlinieExit();
    }
    return false;
}

// A left press and the space bar go the same way (the space bar toggles the box on release).
bool MainWindow::RecordingSwitchEvent(QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        return CBzapisMouseDown(static_cast<QMouseEvent*>(event)->button());
    }
    if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Space && !key->isAutoRepeat() &&
            key->modifiers() == Qt::NoModifier) {
            return CBzapisMouseDown(Qt::LeftButton);
        }
    }
    return false;
}

// A press on another control of the window that would take the focus (or switch the page)
// while the limit edit has it: the edit's text is validated first, and a rejected text cancels
// the press, as a message box takes over the mouse.
bool MainWindow::PressLeavesLimitEdit(QEvent* event) {
    if (!(focusWidget() == Emaxlinie)) return false;
    const QPoint at = static_cast<QMouseEvent*>(event)->position().toPoint();
    QWidget* target = childAt(at);
    if (target == nullptr || target == Emaxlinie || !target->isEnabled()) return false;
    bool movesFocus = false;
    for (QWidget* w = target; w != nullptr && w != this; w = w->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabBar*>(w)) {
            movesFocus = tabs->tabAt(tabs->mapFrom(this, at)) != tabs->currentIndex();
            break;
        }
        if (w->focusPolicy() & Qt::ClickFocus) {
            movesFocus = true;
            break;
        }
    }
    if (!movesFocus) return false;
    if (!EmaxlinieExit()) return true;
    leavingLimitEdit_ = true;  // cleared once the focus has moved
    QMetaObject::invokeMethod(
        this, [this] { leavingLimitEdit_ = false; }, Qt::QueuedConnection);
    return false;
}
