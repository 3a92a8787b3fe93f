// Draws the program's pictures and its busy animation into res/:
// icons/125.png, bitmaps/*.png (image strips), toolbar/<command>.png and
// avi/255.avi. Run through scripts/make-resources.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <cmath>
#include <cstdio>
#include <functional>

#include "AviFile.h"

namespace {

QString g_out;

using Drawer = std::function<void(QPainter&, double size)>;

QImage Draw(int size, const Drawer& draw, QColor background = Qt::white)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(background);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p, size);
    return image;
}

void Save(const QImage& image, const QString& name)
{
    QString path = g_out + "/" + name;
    QDir().mkpath(QFileInfo(path).path());
    if (!image.save(path, "PNG"))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

QImage Strip(int size, const std::vector<Drawer>& drawers)
{
    QImage strip(size * static_cast<int>(drawers.size()), size, QImage::Format_ARGB32);
    strip.fill(Qt::white);
    QPainter p(&strip);
    for (size_t i = 0; i < drawers.size(); ++i)
        p.drawImage(static_cast<int>(i) * size, 0, Draw(size, drawers[i]));
    return strip;
}

QLinearGradient Vertical(double top, double bottom, QColor a, QColor b)
{
    QLinearGradient g(0, top, 0, bottom);
    g.setColorAt(0, a);
    g.setColorAt(1, b);
    return g;
}

// --- shapes, drawn in a 32-unit box scaled to the size ----------------------

void Folder(QPainter& p, QColor light = QColor(0xFF, 0xD8, 0x6A), QColor dark = QColor(0xE0, 0xA0, 0x20))
{
    QPainterPath back;
    back.moveTo(3, 8);
    back.lineTo(12, 8);
    back.lineTo(14, 10.5);
    back.lineTo(29, 10.5);
    back.lineTo(29, 26);
    back.lineTo(3, 26);
    back.closeSubpath();
    p.setPen(QPen(dark.darker(130), 0.8));
    p.setBrush(dark);
    p.drawPath(back);
    QPainterPath front;
    front.moveTo(3, 26);
    front.lineTo(5.5, 13.5);
    front.lineTo(31, 13.5);
    front.lineTo(28.5, 26);
    front.closeSubpath();
    p.setBrush(Vertical(13, 26, light.lighter(115), light));
    p.drawPath(front);
}

void Nas(QPainter& p, double x = 7, double y = 3, double w = 18, double h = 26)
{
    p.setPen(QPen(QColor(0x2A, 0x30, 0x3C), 0.8));
    p.setBrush(Vertical(y, y + h, QColor(0x6C, 0x76, 0x88), QColor(0x37, 0x3E, 0x4C)));
    p.drawRoundedRect(QRectF(x, y, w, h), 2.5, 2.5);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 2; ++i) {
        p.setBrush(QColor(0x22, 0x27, 0x31));
        p.drawRoundedRect(QRectF(x + 2.5, y + 5 + i * 7, w - 5, 4.5), 1, 1);
        p.setBrush(QColor(0x9A, 0xA4, 0xB6));
        p.drawRect(QRectF(x + 3.5, y + 6.6 + i * 7, w - 9, 1.3));
    }
    p.setBrush(QColor(0x4C, 0xE0, 0x5A));
    p.drawEllipse(QPointF(x + w - 4, y + h - 4), 1.4, 1.4);
    p.setBrush(QColor(0x45, 0xA8, 0xFF));
    p.drawEllipse(QPointF(x + w - 8, y + h - 4), 1.4, 1.4);
}

void Badge(QPainter& p, QColor colour, double cx = 24, double cy = 24, double r = 6.5)
{
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(colour);
    p.drawEllipse(QPointF(cx, cy), r, r);
}

void Plus(QPainter& p, double cx, double cy)
{
    p.setPen(QPen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(cx - 3, cy), QPointF(cx + 3, cy));
    p.drawLine(QPointF(cx, cy - 3), QPointF(cx, cy + 3));
}

void InfoMark(QPainter& p, double cx, double cy, double r)
{
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(cx, cy - r * 0.5), r * 0.16, r * 0.16);
    p.drawRoundedRect(QRectF(cx - r * 0.14, cy - r * 0.2, r * 0.28, r * 0.75), 0.6, 0.6);
}

void Lock(QPainter& p, double x, double y)
{
    p.setPen(QPen(QColor(0x70, 0x58, 0x10), 1.6));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(x + 1.5, y, 7, 8), 0, 180 * 16);
    p.setPen(QPen(QColor(0x70, 0x58, 0x10), 0.8));
    p.setBrush(Vertical(y + 4, y + 12, QColor(0xFF, 0xE4, 0x80), QColor(0xD8, 0xA8, 0x20)));
    p.drawRoundedRect(QRectF(x, y + 4, 10, 8), 1.2, 1.2);
}

void Person(QPainter& p, double cx, double top, QColor shirt)
{
    p.setPen(QPen(shirt.darker(150), 0.8));
    p.setBrush(shirt);
    QPainterPath body;
    body.moveTo(cx - 7, top + 18);
    body.cubicTo(cx - 7, top + 10, cx + 7, top + 10, cx + 7, top + 18);
    body.closeSubpath();
    p.drawPath(body);
    p.setBrush(QColor(0xF6, 0xC8, 0x9A));
    p.setPen(QPen(QColor(0xB0, 0x80, 0x50), 0.8));
    p.drawEllipse(QPointF(cx, top + 5), 4.2, 4.6);
}

void Document(QPainter& p, double x, double y, double w, double h)
{
    p.setPen(QPen(QColor(0x6A, 0x7A, 0x9A), 0.8));
    p.setBrush(Vertical(y, y + h, Qt::white, QColor(0xE4, 0xEA, 0xF6)));
    QPainterPath page;
    page.moveTo(x, y);
    page.lineTo(x + w - 5, y);
    page.lineTo(x + w, y + 5);
    page.lineTo(x + w, y + h);
    page.lineTo(x, y + h);
    page.closeSubpath();
    p.drawPath(page);
    p.setPen(QPen(QColor(0x5A, 0x80, 0xC8), 1.1));
    for (double ly = y + 8; ly < y + h - 3; ly += 3.5)
        p.drawLine(QPointF(x + 3, ly), QPointF(x + w - 3, ly));
}

void Arrows(QPainter& p, double cx, double cy, double r, QColor colour)
{
    p.setPen(QPen(colour, 2.6, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    QRectF box(cx - r, cy - r, 2 * r, 2 * r);
    p.drawArc(box, 30 * 16, 120 * 16);
    p.drawArc(box, 210 * 16, 120 * 16);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    for (double a : {30.0, 210.0}) {
        double rad = a * M_PI / 180;
        QPointF tip(cx + r * std::cos(rad), cy - r * std::sin(rad));
        QPointF dir(-std::sin(rad), -std::cos(rad)); // clockwise tangent
        QPointF n(std::cos(rad), -std::sin(rad));
        QPolygonF head({tip + dir * 3.5, tip + n * 3.2 - dir * 1.2, tip - n * 3.2 - dir * 1.2});
        p.drawPolygon(head);
    }
}

void Gear(QPainter& p, double cx, double cy, double r)
{
    QPainterPath gear;
    for (int i = 0; i < 16; ++i) {
        double a = i * M_PI / 8;
        double rr = (i % 2 == 0) ? r : r * 0.74;
        QPointF pt(cx + rr * std::cos(a), cy + rr * std::sin(a));
        if (i == 0)
            gear.moveTo(pt);
        else
            gear.lineTo(pt);
    }
    gear.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(QPointF(cx, cy), r * 0.32, r * 0.32);
    p.setPen(QPen(QColor(0x3A, 0x46, 0x5C), 0.8));
    p.setBrush(Vertical(cy - r, cy + r, QColor(0xB8, 0xC4, 0xD8), QColor(0x70, 0x80, 0x9C)));
    p.drawPath(gear.subtracted(hole));
}

void Clock(QPainter& p, double cx, double cy, double r)
{
    p.setPen(QPen(Qt::white, 1.2));
    p.setBrush(QColor(0xF0, 0x9A, 0x1C));
    p.drawEllipse(QPointF(cx, cy), r, r);
    p.setPen(QPen(Qt::white, 1.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(cx, cy), QPointF(cx, cy - r * 0.6));
    p.drawLine(QPointF(cx, cy), QPointF(cx + r * 0.45, cy));
}

void Play(QPainter& p, double cx, double cy, double r)
{
    Badge(p, QColor(0x2E, 0xA8, 0x3C), cx, cy, r);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawPolygon(QPolygonF(
        {QPointF(cx - r * 0.3, cy - r * 0.45), QPointF(cx + r * 0.5, cy), QPointF(cx - r * 0.3, cy + r * 0.45)}));
}

void BackupBox(QPainter& p)
{
    Nas(p, 3, 5, 16, 23);
    Arrows(p, 22, 14, 7, QColor(0x2A, 0x7A, 0xE0));
}

Drawer Scaled(std::function<void(QPainter&)> draw)
{
    return [draw](QPainter& p, double size) {
        p.save();
        p.scale(size / 32.0, size / 32.0);
        draw(p);
        p.restore();
    };
}

// --- the busy animation -------------------------------------------------------

std::vector<uint32_t> MakePalette()
{
    std::vector<uint32_t> palette;
    palette.push_back(0x00FF00); // 0: the transparent green
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                palette.push_back(static_cast<uint32_t>((r * 51) << 16 | (g * 51) << 8 | (b * 51)));
    // Blends of the spinner blue into white, and greys.
    const int br = 0x31, bg = 0x6A, bb = 0xC5;
    for (int i = 0; i < 24; ++i) {
        double t = i / 23.0;
        int r = static_cast<int>(br + (255 - br) * t), g = static_cast<int>(bg + (255 - bg) * t),
            b = static_cast<int>(bb + (255 - bb) * t);
        palette.push_back(static_cast<uint32_t>(r << 16 | g << 8 | b));
    }
    while (palette.size() < 256) {
        int v = static_cast<int>((palette.size() - 241) * 17);
        palette.push_back(static_cast<uint32_t>(v << 16 | v << 8 | v));
    }
    return palette;
}

int Nearest(const std::vector<uint32_t>& palette, QRgb c)
{
    int best = 1;
    long bestDistance = -1;
    for (size_t i = 1; i < palette.size(); ++i) {
        long dr = qRed(c) - static_cast<long>((palette[i] >> 16) & 0xFF);
        long dg = qGreen(c) - static_cast<long>((palette[i] >> 8) & 0xFF);
        long db = qBlue(c) - static_cast<long>(palette[i] & 0xFF);
        long d = dr * dr * 3 + dg * dg * 4 + db * db * 2;
        if (bestDistance < 0 || d < bestDistance) {
            bestDistance = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

void WriteAnimation()
{
    const int size = 48, frames = 12;
    AviSpec spec;
    spec.width = size;
    spec.height = size;
    spec.bitCount = 8;
    spec.palette = MakePalette();
    spec.msPerFrame = 80;
    for (int f = 0; f < frames; ++f) {
        QImage image = Draw(size, [f, frames](QPainter& p, double s) {
            // Twelve dots on a ring; the bright one runs round, the others fade.
            const double cx = s / 2, cy = s / 2, ring = s * 0.34;
            for (int i = 0; i < frames; ++i) {
                int age = (f - i + frames) % frames;
                double t = age / static_cast<double>(frames - 1);
                double a = -M_PI / 2 + i * 2 * M_PI / frames;
                QColor c(static_cast<int>(0x31 + (0xE6 - 0x31) * t), static_cast<int>(0x6A + (0xEE - 0x6A) * t),
                         static_cast<int>(0xC5 + (0xFA - 0xC5) * t));
                p.setPen(Qt::NoPen);
                p.setBrush(c);
                double r = s * (0.085 - 0.035 * t);
                p.drawEllipse(QPointF(cx + ring * std::cos(a), cy + ring * std::sin(a)), r, r);
            }
        });
        std::vector<uint32_t> indices(static_cast<size_t>(size * size));
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                QRgb c = image.pixel(x, y);
                // Pure white is the background: it becomes the transparent green.
                indices[static_cast<size_t>(y * size + x)] = (qRed(c) == 255 && qGreen(c) == 255 && qBlue(c) == 255)
                                                                 ? 0
                                                                 : static_cast<uint32_t>(Nearest(spec.palette, c));
            }
        spec.frames.push_back(indices);
    }
    std::string bytes = AviWriteUncompressed(spec);
    QString path = g_out + "/avi/255.avi";
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) != static_cast<qint64>(bytes.size()))
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    g_out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QString("res");

    // Program icon.
    QImage icon = Draw(48, Scaled([](QPainter& p) { Nas(p, 6, 2, 20, 28); }), Qt::transparent);
    Save(icon, "icons/125.png");

    // Share folder list: 0 public folder, 1 folder with an allow-list, 2 mapped
    // folder, 3 spare folder, 4 public NFS folder, 5 USB disk / restricted NFS.
    std::vector<Drawer> folders = {
        Scaled([](QPainter& p) { Folder(p); }),
        Scaled([](QPainter& p) {
            Folder(p);
            Lock(p, 19, 15);
        }),
        Scaled([](QPainter& p) {
            Folder(p);
            p.setPen(QPen(QColor(0x2A, 0x7A, 0xE0), 2));
            p.drawLine(QPointF(16, 26), QPointF(16, 30.5));
            p.drawLine(QPointF(9, 30.5), QPointF(23, 30.5));
        }),
        Scaled([](QPainter& p) { Folder(p, QColor(0xE8, 0xEC, 0xF4), QColor(0xA8, 0xB2, 0xC4)); }),
        Scaled([](QPainter& p) { Folder(p, QColor(0x9C, 0xD4, 0x8C), QColor(0x5C, 0x9C, 0x4C)); }),
        Scaled([](QPainter& p) {
            p.setPen(QPen(QColor(0x30, 0x38, 0x48), 0.8));
            p.setBrush(Vertical(9, 25, QColor(0xD8, 0xDE, 0xEA), QColor(0x88, 0x94, 0xAA)));
            p.drawRoundedRect(QRectF(4, 9, 20, 16), 2, 2);
            p.setBrush(QColor(0xB8, 0xC0, 0xCC));
            p.drawRect(QRectF(24, 12.5, 6, 9));
            p.setBrush(QColor(0x40, 0x48, 0x58));
            p.drawRect(QRectF(25.5, 14.5, 1.5, 1.5));
            p.drawRect(QRectF(25.5, 18, 1.5, 1.5));
            p.setBrush(QColor(0x4C, 0xE0, 0x5A));
            p.setPen(Qt::NoPen);
            p.drawEllipse(QPointF(8, 21), 1.3, 1.3);
        }),
    };
    Save(Strip(64, folders), "bitmaps/253.png");
    Save(Strip(32, folders), "bitmaps/263.png");

    // Backup tasks: 0 a task, 1 a task with a schedule, 2 the running task.
    Save(Strip(64, {Scaled([](QPainter& p) { BackupBox(p); }), Scaled([](QPainter& p) {
                        BackupBox(p);
                        Clock(p, 24, 24, 6.5);
                    }),
                    Scaled([](QPainter& p) {
                        BackupBox(p);
                        Play(p, 24, 24, 6.5);
                    })}),
         "bitmaps/247.png");

    // Task panel pictures: 0 tasks, 1 tips, 2 information, 3 log.
    Save(Strip(32, {Scaled([](QPainter& p) { BackupBox(p); }), Scaled([](QPainter& p) {
                        p.setPen(QPen(QColor(0xB0, 0x80, 0x10), 0.8));
                        p.setBrush(Vertical(3, 22, QColor(0xFF, 0xF6, 0xA0), QColor(0xFF, 0xC8, 0x30)));
                        p.drawEllipse(QRectF(8, 3, 16, 17));
                        p.setBrush(QColor(0x90, 0x98, 0xA8));
                        p.drawRoundedRect(QRectF(12, 20, 8, 7), 1.5, 1.5);
                    }),
                    Scaled([](QPainter& p) {
                        Badge(p, QColor(0x2A, 0x6E, 0xD0), 16, 16, 13);
                        InfoMark(p, 16, 16, 13);
                    }),
                    Scaled([](QPainter& p) { Document(p, 7, 3, 18, 26); })}),
         "bitmaps/267.png");
    Save(Strip(32, {Scaled([](QPainter& p) { Folder(p); }), Scaled([](QPainter& p) {
                        Badge(p, QColor(0x2A, 0x6E, 0xD0), 16, 16, 13);
                        InfoMark(p, 16, 16, 13);
                    })}),
         "bitmaps/271.png");

    // Discovered devices (the mask colour is white, so marks use near-white):
    // 0 answering in the PC's subnet, 1 no longer answering, 2 answering from
    // another subnet.
    const QColor nearWhite(0xFE, 0xFE, 0xFE);
    auto badge = [nearWhite](QPainter& p, QColor colour) {
        p.setPen(QPen(nearWhite, 1.2));
        p.setBrush(colour);
        p.drawEllipse(QPointF(24, 24), 6.5, 6.5);
        p.setPen(QPen(nearWhite, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
    };
    Save(Strip(32, {Scaled([badge](QPainter& p) {
                        Nas(p, 4, 3, 17, 25);
                        badge(p, QColor(0x2E, 0xA8, 0x3C));
                        p.drawPolyline(QPolygonF({QPointF(21, 24), QPointF(23.3, 26.5), QPointF(27.2, 21.5)}));
                    }),
                    Scaled([badge](QPainter& p) {
                        Nas(p, 4, 3, 17, 25);
                        p.setPen(Qt::NoPen);
                        p.setBrush(QColor(0xF4, 0xF4, 0xF4, 0xB0));
                        p.drawRoundedRect(QRectF(3.5, 2.5, 18, 26), 2.5, 2.5);
                        badge(p, QColor(0xC8, 0x2A, 0x2A));
                        p.drawLine(QPointF(21.5, 21.5), QPointF(26.5, 26.5));
                        p.drawLine(QPointF(26.5, 21.5), QPointF(21.5, 26.5));
                    }),
                    Scaled([badge](QPainter& p) {
                        Nas(p, 4, 3, 17, 25);
                        badge(p, QColor(0xE8, 0x8A, 0x1A));
                        p.drawLine(QPointF(20.8, 24), QPointF(27, 24));
                        p.drawPolyline(QPolygonF({QPointF(24.5, 21.3), QPointF(27.2, 24), QPointF(24.5, 26.7)}));
                    })}),
         "bitmaps/246.png");

    // Toolbar buttons.
    struct Button {
        unsigned id;
        Drawer draw;
    };
    std::vector<Button> buttons = {
        {40006, Scaled([](QPainter& p) {
             Nas(p, 4, 3, 17, 25);
             Badge(p, QColor(0x2E, 0xA8, 0x3C), 24, 23, 6.5);
             Plus(p, 24, 23);
         })},
        {40007, Scaled([](QPainter& p) {
             Person(p, 20, 6, QColor(0x5A, 0x8A, 0xD8));
             Person(p, 12, 10, QColor(0x3C, 0xA0, 0x50));
         })},
        {40008, Scaled([](QPainter& p) { Folder(p); })},
        {40010, Scaled([](QPainter& p) {
             Nas(p, 4, 3, 17, 25);
             Badge(p, QColor(0x2A, 0x6E, 0xD0), 24, 23, 7);
             InfoMark(p, 24, 23, 7);
         })},
        {40012, Scaled([](QPainter& p) { Gear(p, 16, 16, 13); })},
        {40021, Scaled([](QPainter& p) { Arrows(p, 16, 16, 10, QColor(0x2A, 0x7A, 0xE0)); })},
        {40027, Scaled([](QPainter& p) { Document(p, 7, 3, 18, 26); })},
        {40030, Scaled([](QPainter& p) {
             Person(p, 13, 6, QColor(0x5A, 0x8A, 0xD8));
             Arrows(p, 23, 22, 5.5, QColor(0xE0, 0x7A, 0x20));
         })},
    };
    for (const Button& b : buttons)
        Save(Draw(32, b.draw, Qt::transparent), QString("toolbar/%1.png").arg(b.id));

    WriteAnimation();
    return 0;
}
