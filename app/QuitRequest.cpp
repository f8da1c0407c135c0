#include "QuitRequest.h"

#include <QCoreApplication>

void QuitRequest::Post() {
    if (posted_) return;
    posted_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            taken_ = true;
            QCoreApplication::exit(0);
        },
        Qt::QueuedConnection);
}
