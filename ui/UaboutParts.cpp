#include "UaboutParts.h"

#include <qdrawutil.h>

#include <QMouseEvent>
#include <QPainter>
#include <QStringList>

#include "MakerData.h"

TClickLabel::TClickLabel(QWidget* parent) : QLabel(parent) {}

void TClickLabel::mousePressEvent(QMouseEvent* event) {
    emit Pressed(event->button());
    event->accept();
}

void TClickLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit Clicked();
    emit Released(event->button());
    event->accept();
}

TBevelPanel::TBevelPanel(QWidget* parent) : QFrame(parent) {}

void TBevelPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    qDrawShadePanel(&painter, rect(), palette(), /*sunken=*/true, 1);
    qDrawShadePanel(&painter, rect().adjusted(1, 1, -1, -1), palette(), /*sunken=*/false, 1);
}

QPixmap DrawMakerLogo() {
    // Colours of the standard 16-colour palette only.
    const QColor navy(0, 0, 128), white(255, 255, 255), red(255, 0, 0), yellow(255, 255, 0);
    QImage image(60, 20, QImage::Format_RGB32);
    image.fill(navy);
    QPainter painter(&image);
    painter.setPen(yellow);
    painter.drawRect(0, 0, 59, 19);
    painter.fillRect(4, 15, 52, 2, red);
    QFont font;
    font.setFamilies({"Liberation Sans", "DejaVu Sans"});
    font.setPixelSize(14);
    font.setBold(true);
    font.setStyleStrategy(QFont::NoAntialias);
    painter.setFont(font);
    painter.setPen(white);
    painter.drawText(QRect(0, 0, 60, 16), Qt::AlignCenter, maker::kBrand);
    painter.end();
    return QPixmap::fromImage(image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither));
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
