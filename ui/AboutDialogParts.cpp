#include "AboutDialogParts.h"

#include <qdrawutil.h>

#include <QMouseEvent>
#include <QPainter>
#include <QStringList>

#include "MakerData.h"

ClickLabel::ClickLabel(QWidget* parent) : QLabel(parent) {}

void ClickLabel::mousePressEvent(QMouseEvent* event) {
    emit Pressed(event->button());
    event->accept();
}

void ClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked();
    emit Released(event->button());
    event->accept();
}

BevelPanel::BevelPanel(QWidget* parent) : QFrame(parent) {}

void BevelPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    qDrawShadePanel(&painter, rect(), palette(), /*sunken=*/true, 1);
    qDrawShadePanel(&painter, rect().adjusted(1, 1, -1, -1), palette(), /*sunken=*/false, 1);
}

QString MakerAdvertisingText() {
    const QString stars(27, '*');
    const QStringList lines = {maker::kCompanyName,
                               stars,
                               "Oferujemy:",
                               "- wagi sklepowe",
                               "- wagi magazynowe",
                               "- wagi pomostowe",
                               "- wagi samochodowe",
                               "- wagi laboratoryjne",
                               "- wagi inwentarzowe",
                               "- wagi zawieszkowe",
                               "- wagosuszarki",
                               "- wskaźniki wagowe",
                               "- drukarki etykiet",
                               stars,
                               "Na zamówienie budujemy",
                               "wagi o nietypowych",
                               "wymiarach i zakresach,",
                               "dopasowane do potrzeb",
                               "Twojej firmy.",
                               stars,
                               "Nasze wagi mają",
                               "zatwierdzenie typu",
                               "i są legalizowane",
                               "przez urząd miar.",
                               stars,
                               "Zapraszamy na naszą",
                               "stronę internetową:",
                               maker::kWebHost,
                               "oraz do kontaktu:",
                               maker::kEmail,
                               stars};
    return lines.join('\n');
}
