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
};

} // namespace platform::gui
