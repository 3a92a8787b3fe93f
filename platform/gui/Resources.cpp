#include "Resources.h"

#include <QFile>
#include <QImage>
#include <QPainter>
#include <map>
#include <mutex>
#include <sstream>

// The resources live in a static library: make sure they are registered.
static void InitTolvaneResources() { Q_INIT_RESOURCE(tolvane); }

namespace platform::gui {
namespace {

QByteArray ReadResourceFile(const QString& path)
{
    static std::once_flag once;
    std::call_once(once, InitTolvaneResources);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

std::string Unescape(const std::string& text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            char c = text[++i];
            out += c == 'n' ? '\n' : c == 't' ? '\t' : c;
        } else {
            out += text[i];
        }
    }
    return out;
}

// "id<TAB>text" lines; "#" starts a comment line.
const std::map<unsigned, std::string>& StringTable()
{
    static const std::map<unsigned, std::string> table = [] {
        std::map<unsigned, std::string> t;
        std::istringstream in(ReadResourceFile(":/strings.txt").toStdString());
        std::string line;
        while (std::getline(in, line)) {
            if (line.empty() || line[0] == '#')
                continue;
            size_t tab = line.find('\t');
            if (tab == std::string::npos)
                continue;
            t[static_cast<unsigned>(std::stoul(line.substr(0, tab)))] = Unescape(line.substr(tab + 1));
        }
        return t;
    }();
    return table;
}

// Reads a quoted text starting at pos.
std::string Quoted(const std::string& line, size_t pos)
{
    size_t open = line.find('"', pos);
    size_t close = line.rfind('"');
    if (open == std::string::npos || close <= open)
        return {};
    return Unescape(line.substr(open + 1, close - open - 1));
}

// Menus in the resource script form:
//   MENU 127
//   POPUP "&File"
//     MENUITEM 40006 "&Attach Other NAS"
//     SEPARATOR
//   END
//   ENDMENU
const std::map<unsigned, Menu>& MenuTable()
{
    static const std::map<unsigned, Menu> table = [] {
        std::map<unsigned, Menu> t;
        std::istringstream in(ReadResourceFile(":/menus.txt").toStdString());
        std::string line;
        std::vector<Menu*> stack;
        Menu current;
        unsigned currentId = 0;
        bool inMenu = false;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string word;
            if (!(words >> word) || word[0] == '#')
                continue;
            if (word == "MENU") {
                words >> currentId;
                current.clear();
                stack = {&current};
                inMenu = true;
            } else if (!inMenu) {
                continue;
            } else if (word == "POPUP") {
                Menu& parent = *stack.back();
                parent.push_back(MenuItem::Popup(Quoted(line, 0), {}));
                stack.push_back(&parent.back().items);
            } else if (word == "MENUITEM") {
                unsigned id = 0;
                words >> id;
                stack.back()->push_back(MenuItem::Command(id, Quoted(line, 0)));
            } else if (word == "SEPARATOR") {
                stack.back()->push_back(MenuItem::Separator());
            } else if (word == "END") {
                if (stack.size() > 1)
                    stack.pop_back();
            } else if (word == "ENDMENU") {
                t[currentId] = current;
                inMenu = false;
            }
        }
        return t;
    }();
    return table;
}

// "TOOLBAR id cmd cmd 0 cmd ..." lines.
const std::map<unsigned, std::vector<unsigned>>& ToolBarTable()
{
    static const std::map<unsigned, std::vector<unsigned>> table = [] {
        std::map<unsigned, std::vector<unsigned>> t;
        std::istringstream in(ReadResourceFile(":/toolbars.txt").toStdString());
        std::string line;
        while (std::getline(in, line)) {
            std::istringstream words(line);
            std::string word;
            unsigned id = 0;
            if (!(words >> word) || word != "TOOLBAR" || !(words >> id))
                continue;
            std::vector<unsigned>& buttons = t[id];
            unsigned cmd;
            while (words >> cmd)
                buttons.push_back(cmd);
        }
        return t;
    }();
    return table;
}

QPixmap PixmapOf(const QString& path)
{
    QByteArray bytes = ReadResourceFile(path);
    QPixmap pixmap;
    if (!bytes.isEmpty())
        pixmap.loadFromData(bytes, "PNG");
    return pixmap;
}

} // namespace

std::string LoadString(unsigned id)
{
    const auto& table = StringTable();
    auto it = table.find(id);
    return it == table.end() ? std::string() : it->second;
}

bool LoadMenu(unsigned id, Menu& menu)
{
    const auto& table = MenuTable();
    auto it = table.find(id);
    if (it == table.end())
        return false;
    menu = it->second;
    return true;
}

std::vector<unsigned> LoadToolBar(unsigned id)
{
    const auto& table = ToolBarTable();
    auto it = table.find(id);
    return it == table.end() ? std::vector<unsigned>() : it->second;
}

QPixmap LoadBitmap(unsigned id) { return PixmapOf(QString(":/bitmaps/%1.png").arg(id)); }

QIcon LoadIcon(unsigned id)
{
    QPixmap pixmap = PixmapOf(QString(":/icons/%1.png").arg(id));
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

QIcon LoadCommandIcon(unsigned commandId)
{
    QPixmap pixmap = PixmapOf(QString(":/toolbar/%1.png").arg(commandId));
    return pixmap.isNull() ? QIcon() : QIcon(pixmap);
}

std::vector<QPixmap> LoadImageStrip(unsigned bitmapId, int size, QColor mask)
{
    std::vector<QPixmap> images;
    QPixmap strip = LoadBitmap(bitmapId);
    if (strip.isNull() || size <= 0)
        return images;
    QImage image = strip.toImage().convertToFormat(QImage::Format_ARGB32);
    const QRgb key = mask.rgb() & 0xFFFFFF;
    for (int y = 0; y < image.height(); ++y) {
        QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            if ((line[x] & 0xFFFFFF) == key)
                line[x] = 0;
    }
    const int count = image.width() / size;
    for (int i = 0; i < count; ++i) {
        QImage cell = image.copy(i * size, 0, size, size);
        if (image.height() != size)
            cell = image.copy(i * size, 0, size, image.height())
                       .scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        images.push_back(QPixmap::fromImage(cell));
    }
    return images;
}

QByteArray LoadResource(const std::string& type, unsigned id)
{
    QString folder = QString::fromStdString(type).toLower();
    return ReadResourceFile(QString(":/%1/%2.%1").arg(folder).arg(id));
}

} // namespace platform::gui
