#include "Skin.h"

#include <QApplication>
#include <QFile>

#include "Paths.h"

namespace platform::gui {

std::string SkinPath() { return platform::ProgramFolder() + "Styles/" + "WinXP.Royale.cjstyles"; }

bool LoadSkin(const std::string& path)
{
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (app == nullptr)
        return false;
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray sheet = file.readAll();
    if (sheet.isEmpty())
        return false;
    app->setStyleSheet(QString::fromUtf8(sheet));
    return true;
}

} // namespace platform::gui
