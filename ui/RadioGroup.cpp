#include "RadioGroup.h"

#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>

RadioGroup::RadioGroup(const QString& caption, const QStringList& items, int columns,
                       QWidget* parent)
    : QGroupBox(caption, parent) {
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 2, 4, 4);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(0);
    const int count = static_cast<int>(items.size());
    const int rows = (count + columns - 1) / std::max(columns, 1);
    for (int i = 0; i < count; ++i) {
        auto* button = new QRadioButton(items[i], this);
        grid->addWidget(button, i % rows, i / rows);
        group_.addButton(button, i);
        buttons_.push_back(button);
    }
    // The operator's choice (mouse or arrow keys) becomes the index.
    connect(&group_, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked) itemIndex_ = id;
    });
}

void RadioGroup::SetItemIndex(int index) {
    const int clamped = std::clamp(index, -1, ItemCount() - 1);
    if (clamped == itemIndex_) return;
    itemIndex_ = clamped;
    ShowIndex();
}

// An exclusive group cannot uncheck its checked button, so exclusivity is lifted meanwhile.
void RadioGroup::ShowIndex() {
    group_.setExclusive(false);
    for (int i = 0; i < ItemCount(); ++i) Button(i)->setChecked(i == itemIndex_);
    group_.setExclusive(true);
}
