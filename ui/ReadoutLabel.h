#pragma once
// Ldisplay: the large read-out. A reading that fits the box is drawn at the read-out's own size;
// a wider one is drawn with a font just small enough for every character to show, never wrapped
// and never clipped. Below the smallest size the reading is cut on the left and the cut is marked
// with "…", so an operator can always tell that digits are missing.
// Readings from the scale are drawn at most once a frame (FramePacer): a reading after a quiet
// spell at once, a faster stream's last reading at the next frame, so nobody sees the difference
// but the window does not redraw for every chunk.

#include <QHash>
#include <QLabel>
#include <QPixmap>

#include "DisplaySinks.h"
#include "FramePacer.h"

class ReadoutLabel : public QLabel, public IReadoutDisplay {
    Q_OBJECT
  public:
    // The smallest pixel size a reading is drawn with before it is cut.
    static constexpr int kSmallestPixelSize = 14;

    explicit ReadoutLabel(QWidget* parent = nullptr);

    // The read-out's own font, used for every reading that fits.
    void SetBaseFont(const QFont& font);
    void SetReading(const QString& reading);
    // IReadoutDisplay: the read-out sink's text. Reading() is it at once; the picture follows
    // within a frame.
    void ShowReading(const Win1250Text& text) override;
    const QString& Reading() const { return reading_; }
    bool DrawPending() const { return frame_.Pending(); }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void Draw();
    const QPixmap& Picture(const QString& text);
    void Show(const QFont& font, const QString& text);
    int BaseAdvance(const QString& reading);

    static constexpr qsizetype kAdvancesKept = 1024;
    static constexpr qsizetype kPicturesKept = 32;

    QFont base_;
    QHash<QString, int> advances_;  // readings' advances at base_
    // Readings drawn once (text, font size) -> their glyphs on a transparent picture of the box.
    QHash<QPair<QString, int>, QPixmap> pictures_;
    qreal picturesRatio_ = 0;  // the device pixel ratio they were drawn at
    QString reading_;
    FramePacer frame_;
};
