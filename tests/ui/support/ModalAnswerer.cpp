#include "ModalAnswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>

ModalAnswerer::ModalAnswerer(int pollMs) {
    timer_.setInterval(pollMs);
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start();
}

ModalAnswerer::~ModalAnswerer() { timer_.stop(); }

void ModalAnswerer::Push(Action action, int delayMs) {
    actions_.push_back({std::move(action), delayMs});
}

SeenModal ModalAnswerer::Describe(QWidget* modal) {
    SeenModal seen;
    seen.className = QString::fromLatin1(modal->metaObject()->className());
    seen.title = modal->windowTitle();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        seen.text = box->text();
        seen.icon = box->icon();
        for (QAbstractButton* button : box->buttons()) seen.buttons << button->text();
    }
    return seen;
}

void ModalAnswerer::Poll() {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible() || modal == answered_) return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    if (modal != current_) {
        current_ = modal;
        openedAtMs_ = now;
    }
    if (actions_.empty()) {
        ++unexpected_;
        seen_.push_back(Describe(modal));
        answered_ = modal;
        modal->installEventFilter(this);
        modal->close();
        return;
    }
    if (now - openedAtMs_ < actions_.front().delayMs) return;
    Queued next = std::move(actions_.front());
    actions_.pop_front();
    seen_.push_back(Describe(modal));
    answered_ = modal;
    modal->installEventFilter(this);
    next.action(modal);
}

// A dialog that is hidden and shown again (a reused QFileDialog) is a new showing.
bool ModalAnswerer::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Hide && watched == answered_) {
        watched->removeEventFilter(this);
        answered_ = nullptr;
    }
    return false;
}

ModalAnswerer::Action ModalAnswerer::ClickButton(const QString& text) {
    return [text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return;
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == text) {
                button->click();
                return;
            }
        }
        box->close();  // no such button: free the test; the caller's checks will fail
    };
}

ModalAnswerer::Action ModalAnswerer::PressKey(int key) {
    return [key](QWidget* modal) {
        QWidget* target = modal->focusWidget() != nullptr ? modal->focusWidget() : modal;
        QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
        QCoreApplication::sendEvent(target, &press);
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        if (!target->isVisible()) return;
        QCoreApplication::sendEvent(target, &release);
    };
}

ModalAnswerer::Action ModalAnswerer::CloseWindow() {
    return [](QWidget* modal) { modal->close(); };
}

ModalAnswerer::Action ModalAnswerer::AcceptFileDialog(const QString& path) {
    return [path](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) {
            modal->close();
            return;
        }
        // Typed into the name field, as the operator does (selectFile leaves a focused field).
        auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (nameField != nullptr) {
            nameField->setText(path);
        } else {
            dialog->selectFile(path);
        }
        static_cast<QDialog*>(dialog)->accept();    // QFileDialog::accept, reached publicly
        if (dialog->isVisible()) dialog->reject();  // refused: free the test, its checks fail
    };
}

ModalAnswerer::Action ModalAnswerer::RejectDialog() {
    return [](QWidget* modal) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
    };
}
