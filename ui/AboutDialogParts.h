#pragma once
// Pieces of the about dialog: a label that reports mouse presses, releases and clicks, the
// double-bevelled panel and the advertising text.

#include <QFrame>
#include <QLabel>
#include <QString>

// A label that can be clicked. A press with any button emits Pressed; a left-button release over
// the label emits Clicked; every release then emits Released (the order of the mouse handlers).
class ClickLabel : public QLabel {
    Q_OBJECT
  public:
    explicit ClickLabel(QWidget* parent);

  signals:
    void Pressed(Qt::MouseButton button);
    void Clicked();
    void Released(Qt::MouseButton button);

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A panel with a lowered outer edge and a raised inner edge, in the dialog's colour.
class BevelPanel : public QFrame {
  public:
    explicit BevelPanel(QWidget* parent);

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// The 31 lines of the maker's advertising text.
QString MakerAdvertisingText();
