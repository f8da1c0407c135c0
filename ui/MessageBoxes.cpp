#include "MessageBoxes.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QPushButton>

namespace {

// A QMessageBox that tells a title-bar close apart from its escape button.
class ProgramBox : public QMessageBox {
  public:
    bool ClosedByTitleBar() const { return closedByTitleBar_; }

  protected:
    void closeEvent(QCloseEvent* event) override {
        closedByTitleBar_ = true;
        QMessageBox::closeEvent(event);
    }

  private:
    bool closedByTitleBar_ = false;
};

QString ShownText(const QString& text) {
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

// Parentless and application-modal: Qt centres a parentless dialog on the screen.
void Prepare(ProgramBox& box, const QString& title, QMessageBox::Icon icon, const QString& text) {
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(title);
    box.setIcon(icon);
    box.setTextFormat(Qt::PlainText);
    box.setText(ShownText(text));
}

void ShowOkBox(const QString& title, QMessageBox::Icon icon, const QString& text) {
    ProgramBox box;
    Prepare(box, title, icon, text);
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
}

}  // namespace

void ShowErrorBox(const QString& text) {
    ShowOkBox(QStringLiteral("Błąd"), QMessageBox::Critical, text);
}

void ShowWarningBox(const QString& text) {
    ShowOkBox(QStringLiteral("Ostrzeżenie"), QMessageBox::Warning, text);
}

ConfirmAnswer AskConfirmationBox(const QString& text) {
    ProgramBox box;
    Prepare(box, QStringLiteral("Potwierdzenie"), QMessageBox::Question, text);
    QPushButton* yes = box.addButton(QStringLiteral("&Tak"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&Nie"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(no);
    box.exec();
    if (box.ClosedByTitleBar()) return ConfirmAnswer::Closed;
    return box.clickedButton() == yes ? ConfirmAnswer::Yes : ConfirmAnswer::No;
}

QString ApplicationTitle(const QString& programPath) {
    QString name = QFileInfo(programPath).fileName();
    const qsizetype dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0) name.truncate(dot);
    if (name.isEmpty()) return name;
    return name.left(1) + name.mid(1).toLower();
}

QString EscapedErrorText(const QString& message) {
    if (!message.isEmpty() && message.back() > QLatin1Char('.')) return message + QLatin1Char('.');
    return message;
}

void ShowEscapedErrorBox(const QString& message) {
    ShowOkBox(ApplicationTitle(QCoreApplication::applicationFilePath()), QMessageBox::Critical,
              EscapedErrorText(message));
}
