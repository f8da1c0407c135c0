#pragma once
// RadioGroup: a captioned group of radio buttons whose selection is one integer index
// (-1 for none). Items fill the columns top to bottom.

#include <QButtonGroup>
#include <QGroupBox>
#include <QStringList>
#include <vector>

class QRadioButton;

class RadioGroup : public QGroupBox {
    Q_OBJECT
  public:
    RadioGroup(const QString& caption, const QStringList& items, int columns, QWidget* parent);

    int ItemIndex() const { return itemIndex_; }
    // Clamps: below -1 gives -1, at or beyond the item count gives the last item.
    void SetItemIndex(int index);
    int ItemCount() const { return static_cast<int>(buttons_.size()); }
    QRadioButton* Button(int index) const { return buttons_.at(static_cast<std::size_t>(index)); }

  private:
    void ShowIndex();

    std::vector<QRadioButton*> buttons_;
    QButtonGroup group_;
    int itemIndex_ = -1;
};
