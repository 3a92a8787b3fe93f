#include "BitmapButton.h"

#include "Resources.h"

namespace platform::gui {

BitmapButton::BitmapButton(QWidget* parent) : QPushButton(parent) {}

bool BitmapButton::SetBitmap(unsigned bitmapId, QColor mask)
{
    QPixmap bitmap = LoadBitmap(bitmapId);
    if (bitmap.isNull())
        return false;
    std::vector<QPixmap> one = LoadImageStrip(bitmapId, bitmap.height(), mask);
    SetBitmap(one.empty() ? bitmap : one.front());
    return true;
}

void BitmapButton::SetBitmap(const QPixmap& pixmap)
{
    setIcon(QIcon(pixmap));
    setIconSize(pixmap.size());
}

void BitmapButton::SetDescription(const QString& text)
{
    setToolTip(text);
    setAccessibleName(text);
}

} // namespace platform::gui
