#pragma once
// The program's resources (res/*.qrc): the string table, menus, toolbars,
// bitmaps, icons and binary resources such as the animation clip, found by
// their numeric ids.
#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <string>
#include <vector>

namespace platform::gui {

// One entry of a menu: a command, a separator or a popup with its own items.
struct MenuItem {
    unsigned id = 0;
    std::string text;
    bool separator = false;
    bool popup = false;
    bool checked = false;
    bool enabled = true;
    std::vector<MenuItem> items; // a popup's entries

    static MenuItem Command(unsigned id, std::string text, bool checked = false)
    {
        MenuItem m;
        m.id = id;
        m.text = std::move(text);
        m.checked = checked;
        return m;
    }
    static MenuItem Separator()
    {
        MenuItem m;
        m.separator = true;
        return m;
    }
    static MenuItem Popup(std::string text, std::vector<MenuItem> items)
    {
        MenuItem m;
        m.popup = true;
        m.text = std::move(text);
        m.items = std::move(items);
        return m;
    }
};
// A menu bar or a popup's contents.
using Menu = std::vector<MenuItem>;

// Text of string id; "" when the table has none.
std::string LoadString(unsigned id);
// Menu resource id (its top-level popups); false when there is none.
bool LoadMenu(unsigned id, Menu& menu);
// Command ids of toolbar resource id, in button order; 0 marks a separator.
std::vector<unsigned> LoadToolBar(unsigned id);
// Bitmap resource id; a null pixmap when there is none.
QPixmap LoadBitmap(unsigned id);
// Icon resource id.
QIcon LoadIcon(unsigned id);
// Toolbar/menu picture of a command id.
QIcon LoadCommandIcon(unsigned commandId);
// The images of a horizontal strip bitmap, each size x size; pixels of the
// mask colour become transparent. Empty when the bitmap does not exist.
std::vector<QPixmap> LoadImageStrip(unsigned bitmapId, int size, QColor mask = QColor(255, 255, 255));
// Raw bytes of a resource of a type (such as "AVI"); empty when none.
QByteArray LoadResource(const std::string& type, unsigned id);

} // namespace platform::gui
