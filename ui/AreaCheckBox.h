#pragma once
// A check box that toggles on a click anywhere inside its box, not only on the mark and the
// caption, so that a press the window handles always belongs to a click that toggles it.

#include <QCheckBox>

class AreaCheckBox : public QCheckBox {
  public:
    using QCheckBox::QCheckBox;

  protected:
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};
