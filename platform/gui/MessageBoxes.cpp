#include "MessageBoxes.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <map>
#include <vector>

#include "Application.h"
#include "MessageTarget.h"
#include "Worker.h"

namespace platform::gui {
namespace {

struct ButtonSpec {
    QMessageBox::StandardButton button;
    int answer;
};

std::vector<ButtonSpec> ButtonsOf(unsigned style)
{
    switch (style & platform::MB_TYPEMASK) {
    case platform::MB_OKCANCEL: return {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
    case platform::MB_ABORTRETRYIGNORE:
        return {{QMessageBox::Abort, IDABORT}, {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}};
    case platform::MB_YESNOCANCEL:
        return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
    case platform::MB_YESNO: return {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
    case platform::MB_RETRYCANCEL: return {{QMessageBox::Retry, IDRETRY}, {QMessageBox::Cancel, IDCANCEL}};
    default: return {{QMessageBox::Ok, IDOK}};
    }
}

QMessageBox::Icon IconOf(unsigned style)
{
    switch (style & platform::MB_ICONMASK) {
    case platform::MB_ICONERROR: return QMessageBox::Critical;
    case platform::MB_ICONQUESTION: return QMessageBox::Question;
    case platform::MB_ICONWARNING: return QMessageBox::Warning;
    case platform::MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
    }
}

bool HasDisplay()
{
    const QString name = QGuiApplication::platformName();
    return name != "offscreen" && name != "minimal";
}

int ShowOnGuiThread(QWidget* owner, const std::string& text, unsigned style, const std::string& caption)
{
    int recorded = 0;
    if (platform::RecordMessageBox({text, caption, style, IsGuiThread()}, &recorded))
        return recorded;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr || !HasDisplay()) {
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return platform::DefaultAnswer(style);
    }
    QMessageBox box(IconOf(style), QString::fromStdString(caption), QString::fromStdString(text), QMessageBox::NoButton,
                    owner);
    std::vector<ButtonSpec> buttons = ButtonsOf(style);
    int defaultAnswer = platform::DefaultAnswer(style);
    int escapeAnswer = IDCANCEL;
    bool hasCancel = false;
    for (const ButtonSpec& spec : buttons) {
        QPushButton* b = box.addButton(spec.button);
        if (spec.answer == defaultAnswer)
            box.setDefaultButton(b);
        if (spec.answer == IDCANCEL)
            hasCancel = true;
    }
    if (!hasCancel)
        escapeAnswer = buttons.size() == 1 ? buttons[0].answer : -1;
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    for (const ButtonSpec& spec : buttons)
        if (clicked == box.button(spec.button))
            return spec.answer;
    return escapeAnswer >= 0 ? escapeAnswer : defaultAnswer;
}

// The notices open, by key (GUI thread only). A notice leaves it when it
// closes.
std::map<std::string, QMessageBox*>& OpenNotices()
{
    static std::map<std::string, QMessageBox*> open;
    return open;
}

// A box nobody waits for, one per key: a later text replaces the text of
// the box still open for the key. Not being modal, it is shown offscreen too.
// It belongs to the main window, not to whatever window is active: a wizard
// open at the time does not take it along when it closes.
void ShowNotice(const std::string& key, const std::string& text)
{
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
        std::fprintf(stderr, "Tolvane: %s\n", text.c_str());
        return;
    }
    std::map<std::string, QMessageBox*>& open = OpenNotices();
    // A box closed but not yet deleted takes no new text: a new one shows.
    if (auto it = open.find(key); it != open.end() && it->second->isVisible()) {
        it->second->setText(QString::fromStdString(text));
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Warning, "Tolvane", QString::fromStdString(text), QMessageBox::Ok,
                                dynamic_cast<QWidget*>(GetMainWindow()));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    open[key] = box;
    QObject::connect(box, &QObject::destroyed, [key, box] {
        auto it = OpenNotices().find(key);
        if (it != OpenNotices().end() && it->second == box)
            OpenNotices().erase(it);
    });
    box->show();
}

} // namespace

void InstallMessageBoxHandler()
{
    platform::SetMessageBoxHandler([](const std::string& text, const std::string& caption, unsigned style) {
        return ShowMessageBox(nullptr, text, style, caption);
    });
    platform::SetNoticeHandler([](const std::string& key, const std::string& text) {
        RunOnGuiThread([key, text] { ShowNotice(key, text); });
    });
}

size_t OpenNoticeCount()
{
    RequireGuiThread("OpenNoticeCount");
    return OpenNotices().size();
}

int ShowMessageBox(QWidget* owner, const std::string& text, unsigned style, const std::string& caption)
{
    std::string title = caption.empty() ? std::string("Tolvane") : caption;
    int answer = 0;
    CallOnGuiThread([&] {
        // A busy popup never stays beside a box: the job it stood for is
        // either over or now waits for this answer.
        DismissBusyIndicators();
        QWidget* parent = owner;
        if (parent == nullptr && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr)
            parent = QApplication::activeWindow();
        // Over a window that is on screen (not the popup just dismissed).
        while (parent != nullptr && !parent->window()->isVisible())
            parent = parent->window()->parentWidget();
        answer = ShowOnGuiThread(parent, text, style, title);
    });
    return answer;
}

} // namespace platform::gui
