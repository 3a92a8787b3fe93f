#pragma once
// A push button that shows a bitmap (beside its text, when it has one).
#include <QPushButton>

namespace platform::gui {

class BitmapButton : public QPushButton {
    Q_OBJECT
public:
    explicit BitmapButton(QWidget* parent = nullptr);
    // Bitmap resource id; pixels of the mask colour are transparent. False
    // when the bitmap does not exist.
    bool SetBitmap(unsigned bitmapId, QColor mask = QColor(255, 255, 255));
    void SetBitmap(const QPixmap& pixmap);
    // What the button does, in words: its tooltip and, for a button without
    // text, its accessible name.
    void SetDescription(const QString& text);
};

} // namespace platform::gui
