#pragma once
// Answers real modal windows (message boxes, file dialogs) in offscreen tests.
// It watches QApplication::activeModalWidget() on a short timer; each modal window that
// appears is recorded and handed the next queued action, so a test can drive code that
// runs its own nested event loop (QMessageBox::exec, QDialog::exec) without blocking.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <vector>

// What the helper saw of one modal window, at the moment it answered it.
struct SeenModal {
    QString className;    // e.g. "QMessageBox", "QFileDialog"
    QString title;        // window title
    QString text;         // QMessageBox text (empty for other windows)
    QStringList buttons;  // QMessageBox button texts, in layout order
    int icon = 0;         // QMessageBox::Icon value
};

class ModalAnswerer : public QObject {
  public:
    using Action = std::function<void(QWidget* modal)>;

    explicit ModalAnswerer(int pollMs = 5);
    ~ModalAnswerer() override;

    // Queues an action for the next modal window; it runs once the window has been open for
    // at least `delayMs` (the event loop keeps running meanwhile).
    void Push(Action action, int delayMs = 0);

    // Ready-made actions.
    static Action ClickButton(const QString& text);       // QMessageBox button by its text
    static Action PressKey(int key);                      // key press and release on the window
    static Action CloseWindow();                          // as the title bar's close button
    static Action AcceptFileDialog(const QString& path);  // select the file, then accept
    static Action RejectDialog();                         // cancel

    const std::vector<SeenModal>& Seen() const { return seen_; }
    // Modal windows that appeared with no action queued (each was closed to free the test).
    int Unexpected() const { return unexpected_; }
    std::size_t PendingActions() const { return actions_.size(); }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Queued {
        Action action;
        int delayMs;
    };
    void Poll();
    static SeenModal Describe(QWidget* modal);

    QTimer timer_;
    std::deque<Queued> actions_;
    std::vector<SeenModal> seen_;
    QPointer<QWidget> current_;  // modal window being answered (or waited on)
    QPointer<QWidget> answered_;
    qint64 openedAtMs_ = 0;
    int unexpected_ = 0;
};
