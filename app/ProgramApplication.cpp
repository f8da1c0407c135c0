#include "ProgramApplication.h"

#include <exception>

#include "MessageBoxes.h"

bool ProgramApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowEscapedErrorBox(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowEscapedErrorBox(QString());
    }
    return false;
}
