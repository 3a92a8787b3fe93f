#pragma once
// The accessibility walk: every interactive element under a window (buttons,
// edits, combo boxes, check boxes, lists, tables, links) must have a name
// without a line break, every item of a list or table can be selected by its
// Toggle action, a button or label is announced by the text it shows, and
// every Press is answered at once (what it opens opens afterwards). The
// layout walk: no shown label, button, field or column header is cut or
// covered. Header-only, for the window tests:
// QCOMPARE(AccessibilityFaults(&window), {}) or EXPECT_ALL_NAMED(&window) in
// a Qt Test function.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionHeader>
#include <QTextDocument>
#include <QTextLayout>
#include <QtMath>
#include <QToolButton>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>
#include <map>
#include <mutex>
#include <set>

#include "Dialog.h"
#include "ListCtrl.h"
#include "MessageBox.h"
#include "PopDlg.h"
#include "TaskPanel.h"

namespace testsupport {

inline bool IsInteractiveRole(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::SpinBox:
    case QAccessible::List:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::Link:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::Slider:
    case QAccessible::PageTab: return true;
    default: return false;
    }
}

namespace detail {
// What a header draws in a section: its style option as the header makes
// it (a header may draw other text than its model's heading).
struct HeaderPeek : QHeaderView {
    using QHeaderView::initStyleOptionForIndex;
};
inline void DrawnSection(const QHeaderView* header, int section, QStyleOptionHeader& option)
{
    (header->*&HeaderPeek::initStyleOptionForIndex)(&option, section);
}
} // namespace detail

namespace detail {
inline bool HasAction(QAccessibleInterface* iface, const QString& action)
{
    QAccessibleActionInterface* actions = iface->actionInterface();
    return actions != nullptr && actions->actionNames().contains(action);
}

inline void Walk(QAccessibleInterface* iface, const QString& path, QStringList& faults,
                 std::set<QAccessibleInterface*>& seen, int depth)
{
    if (iface == nullptr || !iface->isValid() || depth > 40 || !seen.insert(iface).second)
        return;
    const QAccessible::Role role = iface->role();
    QString here = path;
    if (QObject* object = iface->object())
        here +=
            "/" + (object->objectName().isEmpty() ? QString(object->metaObject()->className()) : object->objectName());
    const QString name = iface->text(QAccessible::Name);
    if (IsInteractiveRole(role) && name.trimmed().isEmpty())
        faults << QString("%1 (role %2) has no name").arg(here).arg(int(role));
    if (name.contains('\n'))
        faults << QString("%1 (role %2) is announced with a line break: \"%3\"").arg(here).arg(int(role)).arg(name);
    // Items of lists and tables are their own texts; the views are named.
    // Each item is selected by its Toggle, as a click selects it.
    if (role == QAccessible::List || role == QAccessible::Table || role == QAccessible::Tree) {
        for (int i = 0; i < iface->childCount(); ++i) {
            QAccessibleInterface* item = iface->child(i);
            if (item == nullptr)
                continue;
            const QAccessible::Role itemRole = item->role();
            const QString itemName = item->text(QAccessible::Name);
            if ((itemRole == QAccessible::ListItem || itemRole == QAccessible::Cell ||
                 itemRole == QAccessible::TreeItem) &&
                !HasAction(item, QAccessibleActionInterface::toggleAction()))
                faults << QString("%1: item \"%2\" cannot be selected").arg(here, itemName);
            if (itemName.contains('\n'))
                faults << QString("%1: item announced with a line break: \"%2\"").arg(here, itemName);
        }
        return;
    }
    if (role == QAccessible::ComboBox)
        return;
    for (int i = 0; i < iface->childCount(); ++i)
        Walk(iface->child(i), here, faults, seen, depth + 1);
}
} // namespace detail

// What the walk finds under root (root itself, every descendant widget,
// shown or not, and the interfaces below them): interactive elements with no
// name, names that hold a line break, list items that cannot be selected.
inline QStringList AccessibilityFaults(QWidget* root)
{
    QStringList faults;
    std::set<QAccessibleInterface*> seen;
    detail::Walk(QAccessible::queryAccessibleInterface(root), "", faults, seen, 0);
    // Hidden widgets (a dialog's other modes) are not in the tree: ask each.
    auto inCombo = [root](QWidget* widget) { // a combo box's own popup list
        for (QWidget* w = widget->parentWidget(); w != nullptr && w != root; w = w->parentWidget())
            if (qobject_cast<QComboBox*>(w) != nullptr)
                return true;
        return false;
    };
    for (QWidget* widget : root->findChildren<QWidget*>())
        if (!inCombo(widget))
            detail::Walk(QAccessible::queryAccessibleInterface(widget), "", faults, seen, 0);
    return faults;
}

namespace detail {
// The shown elements under iface that offer Press, each by the path of names
// that leads to it.
// Shown, or a menu or menu item, which a tool opens to reach.
inline bool Reachable(QAccessibleInterface* iface)
{
    return !iface->state().invisible || iface->role() == QAccessible::PopupMenu ||
           iface->role() == QAccessible::MenuItem;
}

inline void Pressables(QAccessibleInterface* iface, const QString& path, QStringList& found, int depth)
{
    if (iface == nullptr || !iface->isValid() || depth > 40 || !Reachable(iface))
        return;
    QString name = iface->text(QAccessible::Name).simplified();
    if (name.isEmpty() && iface->object() != nullptr)
        name = iface->object()->objectName();
    const QString here = path + "/" + name;
    if (HasAction(iface, QAccessibleActionInterface::pressAction()))
        found << here;
    for (int i = 0; i < iface->childCount(); ++i)
        Pressables(iface->child(i), here, found, depth + 1);
}

inline QAccessibleInterface* AtPath(QAccessibleInterface* iface, const QString& path, const QString& want, int depth)
{
    if (iface == nullptr || !iface->isValid() || depth > 40 || !Reachable(iface))
        return nullptr;
    QString name = iface->text(QAccessible::Name).simplified();
    if (name.isEmpty() && iface->object() != nullptr)
        name = iface->object()->objectName();
    const QString here = path + "/" + name;
    if (here == want)
        return iface;
    if (!want.startsWith(here + "/"))
        return nullptr;
    for (int i = 0; i < iface->childCount(); ++i)
        if (QAccessibleInterface* found = AtPath(iface->child(i), here, want, depth + 1))
            return found;
    return nullptr;
}
} // namespace detail

// The first interface under root (depth first) named name; nullptr when none.
inline QAccessibleInterface* AccessibleNamed(QAccessibleInterface* iface, const QString& name, int depth = 0)
{
    if (iface == nullptr || !iface->isValid() || depth > 40)
        return nullptr;
    if (iface->text(QAccessible::Name).simplified() == name)
        return iface;
    for (int i = 0; i < iface->childCount(); ++i)
        if (QAccessibleInterface* found = AccessibleNamed(iface->child(i), name, depth + 1))
            return found;
    return nullptr;
}

// Runs an action (Toggle, Press) of the element named name under root, as an
// assistive tool does; false when there is none or it lacks that action.
inline bool DoAccessibleAction(QWidget* root, const QString& name, const QString& action)
{
    // A tool sees the tree as the event loop leaves it: without the controls
    // retired by the last change.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QAccessibleInterface* iface = AccessibleNamed(QAccessible::queryAccessibleInterface(root), name);
    if (iface == nullptr || !detail::HasAction(iface, action))
        return false;
    iface->actionInterface()->doAction(action);
    return true;
}

// Presses every shown element under root that offers Press (root's state
// taken once, before the first press), as an assistive tool does, except
// those skip names. A press must return within a second and open no window
// before it returns. The dialogs opened afterwards are cancelled (busy
// popups left to their work) and message boxes answered by their default.
// faults says which presses kept the tool waiting; opened what each press
// opened: dialog classes, "box: " and a box's text.
struct PressWalk {
    QStringList faults;
    std::map<QString, QStringList> opened; // by the pressed element's path
};
inline PressWalk PressEverything(QWidget* root, const std::function<bool(const QString& path)>& skip = {})
{
    PressWalk walk;
    QStringList paths;
    detail::Pressables(QAccessible::queryAccessibleInterface(root), "", paths, 0);
    QString pressing, current;
    std::mutex lock; // workers' boxes are recorded on their threads
    platform::MessageBoxRecorder boxes([&](const platform::RecordedBox& box) {
        const std::lock_guard<std::mutex> guard(lock);
        if (!pressing.isEmpty() && box.onGuiThread)
            walk.faults << QString("%1 showed \"%2\" before answering").arg(pressing, QString::fromStdString(box.text));
        walk.opened[current] << "box: " + QString::fromStdString(box.text);
        return platform::DefaultAnswer(box.style);
    });
    const platform::gui::Dialog::ModalHook oldHook = platform::gui::Dialog::SetModalHook([&](platform::gui::Dialog& d) {
        const std::lock_guard<std::mutex> guard(lock);
        if (!pressing.isEmpty())
            walk.faults << QString("%1 opened %2 before answering").arg(pressing, d.metaObject()->className());
        if (dynamic_cast<CPopDlg*>(&d) != nullptr)
            return;
        walk.opened[current] << d.metaObject()->className();
        d.EndDialog(platform::IDCANCEL);
    });
    for (const QString& path : paths) {
        if (skip && skip(path))
            continue;
        QAccessibleInterface* iface = detail::AtPath(QAccessible::queryAccessibleInterface(root), "", path, 0);
        if (iface == nullptr)
            continue; // gone with an earlier press (a page that was left)
        current = pressing = path;
        QElapsedTimer timer;
        timer.start();
        iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        pressing.clear();
        if (timer.elapsed() >= 1000)
            walk.faults << QString("%1 answered after %2 ms").arg(path).arg(timer.elapsed());
        // What the press asked for runs now, from the event loop (a pressed
        // push button clicks a tenth of a second later).
        QTest::qWait(150);
        if (!QTest::qWaitFor([] { return QApplication::activeModalWidget() == nullptr; }, 30000))
            walk.faults << QString("%1 left a window open").arg(path);
    }
    platform::gui::Dialog::SetModalHook(oldHook);
    const std::lock_guard<std::mutex> guard(lock);
    return walk;
}

// The object names of the widgets under top that a user reaches or reads
// (buttons, combo boxes, spin boxes, edits, list controls, progress bars,
// labels, group boxes) with no accessible name; the inner views of combo
// boxes, spin boxes and list controls are theirs.
inline QStringList UnnamedWidgets(QWidget* top)
{
    QStringList missing;
    for (QWidget* w : top->findChildren<QWidget*>()) {
        bool inner = false;
        for (QWidget* p = w->parentWidget(); p && p != top; p = p->parentWidget())
            inner = inner || qobject_cast<platform::gui::ListCtrl*>(p) || qobject_cast<QAbstractSpinBox*>(p) ||
                    qobject_cast<QComboBox*>(p);
        const bool control = qobject_cast<QAbstractButton*>(w) || qobject_cast<QComboBox*>(w) ||
                             qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<platform::gui::ListCtrl*>(w) ||
                             qobject_cast<QProgressBar*>(w) || qobject_cast<QGroupBox*>(w) ||
                             qobject_cast<QLineEdit*>(w);
        // A label is read by its text; one that shows nothing has nothing to say.
        auto* label = qobject_cast<QLabel*>(w);
        const bool saysSomething = control || (label != nullptr && !label->text().isEmpty());
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        if (!inner && saysSomething && (iface == nullptr || iface->text(QAccessible::Name).trimmed().isEmpty()))
            missing << w->objectName();
    }
    return missing;
}

namespace detail {
// What a control shows as text, the mnemonic marks taken out; "" for none.
inline QString ShownText(QWidget* w)
{
    QString text;
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        text = b->text();
    else if (auto* l = qobject_cast<QLabel*>(w))
        text = Qt::mightBeRichText(l->text()) ? QString() : l->text();
    // A caption wrapped after a slash or hyphen reads as one word.
    return text.remove(QRegularExpression("&(?!&)")).remove(QRegularExpression("(?<=[/-])\\n")).simplified();
}

// The width a word-wrapped label needs: its widest line as it wraps at the
// label's width (a word with no break in it runs past the edge).
inline int WidestWrappedLine(QLabel* label)
{
    const int width = label->contentsRect().width() - 2 * label->margin() - 2 * label->indent();
    QTextLayout layout(label->text(), label->font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    qreal widest = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        widest = std::max(widest, line.naturalTextWidth());
    }
    layout.endLayout();
    return label->width() - width + qCeil(widest);
}

inline QString Where(QWidget* w)
{
    return QString("%1 \"%2\"")
        .arg(w->objectName().isEmpty() ? w->metaObject()->className() : w->objectName(), ShownText(w));
}
} // namespace detail

// The buttons and labels under root (shown or not) whose accessible name
// does not carry the text they show. A name may say more than the text
// ("Quota Setting Enable" for "Enable") and symbols (">>") may be named in
// words, but a screen reader never announces other words than are shown.
inline QStringList NamesNotMatchingText(QWidget* root)
{
    QStringList wrong;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        const QString text = detail::ShownText(w);
        if (text.isEmpty())
            continue;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        const QString name = iface ? iface->text(QAccessible::Name).simplified() : QString();
        QString words = text;
        if (words.endsWith(':'))
            words.chop(1);
        const bool symbols = !words.contains(QRegularExpression("\\w"));
        if (symbols ? name.isEmpty() : !name.contains(words.trimmed(), Qt::CaseInsensitive))
            wrong << QString("%1 announced \"%2\"").arg(detail::Where(w), name);
    }
    return wrong;
}

// The shown texts under root that cannot be read whole: a label, button,
// check box or field narrower or lower than its text needs, a column header
// narrower than its title (elided text counts as cut), a list showing fewer
// than two of its rows, a task-panel caption or text that does not fit, a
// control reaching past a parent that clips it, or one covered by a later
// sibling.
inline QStringList CutTexts(QWidget* root)
{
    QStringList cut;
    auto shown = [root](QWidget* w) { return w->isVisibleTo(root) && w->window() == root->window(); };
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!shown(w) || w->width() <= 0)
            continue;
        const QFontMetrics fm(w->font());
        const QString text = detail::ShownText(w);
        QSize need;
        if (auto* label = qobject_cast<QLabel*>(w); label != nullptr && !text.isEmpty()) {
            need = label->wordWrap() ? QSize(detail::WidestWrappedLine(label), label->heightForWidth(label->width()))
                                     : label->sizeHint();
        } else if (auto* push = qobject_cast<QPushButton*>(w); push != nullptr && !text.isEmpty()) {
            QStyleOptionButton option;
            option.initFrom(push);
            const QRect inside = push->style()->subElementRect(QStyle::SE_PushButtonContents, &option, push);
            const int icon = push->icon().isNull() ? 0 : push->iconSize().width() + 4;
            if (inside.width() < fm.horizontalAdvance(text) + icon || inside.height() < fm.height())
                need = push->size() + QSize(1, 0);
        } else if ((qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w) || qobject_cast<QToolButton*>(w)) &&
                   !text.isEmpty()) {
            need = w->sizeHint();
        } else if (qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w)) {
            need = w->minimumSizeHint();
        }
        if (need.width() > w->width() || need.height() > w->height())
            cut << QString("%1 is %2x%3, needs %4x%5")
                       .arg(detail::Where(w))
                       .arg(w->width())
                       .arg(w->height())
                       .arg(need.width())
                       .arg(need.height());
        if (auto* header = qobject_cast<QHeaderView*>(w);
            header != nullptr && header->orientation() == Qt::Horizontal) {
            // The style draws a title into the section's label area, elided.
            for (int i = 0; i < header->count(); ++i) {
                QStyleOptionHeader option;
                detail::DrawnSection(header, i, option);
                option.rect = QRect(0, 0, header->sectionSize(i), header->height());
                const QRect label = header->style()->subElementRect(QStyle::SE_HeaderLabel, &option, header);
                if (!header->isSectionHidden(i) && !option.text.trimmed().isEmpty() &&
                    label.width() < QFontMetrics(header->font()).horizontalAdvance(option.text))
                    cut << QString("column \"%1\" of %2 is %3 wide")
                               .arg(option.text.trimmed(), detail::Where(header->parentWidget()))
                               .arg(header->sectionSize(i));
            }
        }
        if (auto* view = qobject_cast<QAbstractItemView*>(w); view != nullptr && view->model() != nullptr) {
            const int rows = view->model()->rowCount(view->rootIndex());
            const int row = view->sizeHintForRow(0);
            if (rows >= 2 && row > 0 && view->viewport()->height() < 2 * row)
                cut << QString("%1 shows less than two of its %2 rows").arg(detail::Where(w)).arg(rows);
        }
        if (auto* panel = qobject_cast<platform::gui::TaskPanel*>(w)) {
            QFont bold = panel->font();
            bold.setBold(true);
            for (int g = 0; g < panel->GetGroupCount(); ++g) {
                platform::gui::TaskPanelGroup* group = panel->GetGroup(g);
                const QString caption = QString::fromStdString(group->GetCaption());
                if (QFontMetrics(bold).horizontalAdvance(caption) > panel->CaptionTextRect(group->GetID()).width())
                    cut << QString("task-panel caption \"%1\"").arg(caption);
                // Items scroll with the panel: one is cut when it reaches
                // under the scroll bar or lies where the bar cannot bring it.
                const QScrollBar* bar = panel->VerticalScrollBar();
                const bool scrolls = bar->isVisibleTo(panel);
                const int right = scrolls ? bar->geometry().left() : panel->width();
                const int below = scrolls ? bar->maximum() - bar->value() : 0;
                for (int i = 0; i < group->GetItemCount(); ++i) {
                    const QRect r = group->GetItem(i)->GetRect();
                    if (!r.isEmpty() && (r.bottom() - below >= panel->height() || r.right() >= right))
                        cut << QString("task-panel item \"%1\" runs off the panel")
                                   .arg(QString::fromStdString(group->GetItem(i)->GetCaption()).simplified());
                }
            }
        }
        // Clipped by a parent (scrolled contents excepted) or covered by a sibling.
        const bool textual = !text.isEmpty() || qobject_cast<QAbstractSpinBox*>(w) || qobject_cast<QComboBox*>(w);
        if (!textual)
            continue;
        QRect r = w->rect();
        for (QWidget* child = w; child != root && child->parentWidget() != nullptr; child = child->parentWidget()) {
            QWidget* parent = child->parentWidget();
            r.translate(child->pos());
            if (qobject_cast<QAbstractScrollArea*>(parent->parentWidget()) ||
                qobject_cast<platform::gui::TaskPanel*>(parent))
                break;
            if (!parent->rect().contains(r)) {
                cut << QString("%1 reaches past %2").arg(detail::Where(w), detail::Where(parent));
                break;
            }
            r = r.intersected(parent->rect());
        }
        const QObjectList& siblings = w->parentWidget()->children();
        for (qsizetype i = siblings.indexOf(w) + 1; i < siblings.size(); ++i) {
            auto* above = qobject_cast<QWidget*>(siblings[i]);
            const bool solid = above != nullptr && shown(above) &&
                               (qobject_cast<QAbstractScrollArea*>(above) || qobject_cast<QAbstractButton*>(above) ||
                                qobject_cast<QLineEdit*>(above) || qobject_cast<QComboBox*>(above) ||
                                qobject_cast<QAbstractSpinBox*>(above) || !detail::ShownText(above).isEmpty());
            if (solid && above->geometry().intersects(w->geometry()))
                cut << QString("%1 is covered by %2").arg(detail::Where(w), detail::Where(above));
        }
    }
    return cut;
}

// ---------------------------------------------------------------------------
// One window at a time, and the keys where the focus is.

namespace detail {
inline QString WindowName(const QWidget* w)
{
    if (w == nullptr)
        return "no window";
    return w->objectName().isEmpty() ? QString(w->metaObject()->className()) : w->objectName();
}

// The shown elements under iface that offer action (list items too), each
// by the path of names that leads to it.
inline void WithAction(QAccessibleInterface* iface, const QString& action, const QString& path, QStringList& found,
                       int depth)
{
    if (iface == nullptr || !iface->isValid() || depth > 40 || iface->state().invisible)
        return;
    QString name = iface->text(QAccessible::Name).simplified();
    if (name.isEmpty() && iface->object() != nullptr)
        name = iface->object()->objectName();
    const QString here = path + "/" + name;
    if (HasAction(iface, action))
        found << here;
    for (int i = 0; i < iface->childCount(); ++i)
        WithAction(iface->child(i), action, here, found, depth + 1);
}

// What a window shows that an action could change: its title, each list's
// rows and selection, each task panel's links and texts, what is shown.
inline QString WindowState(QWidget* root)
{
    QStringList state{root->windowTitle()};
    for (auto* list : root->findChildren<platform::gui::ListCtrl*>())
        state << QString("list %1 shown %2 rows %3 selected %4")
                     .arg(list->accessibleName())
                     .arg(list->isVisibleTo(root))
                     .arg(list->GetItemCount())
                     .arg(list->GetSelectedItem());
    for (auto* panel : root->findChildren<platform::gui::TaskPanel*>()) {
        state << QString("panel %1 shown %2").arg(panel->accessibleName()).arg(panel->isVisibleTo(root));
        for (const auto& line : panel->TextLines())
            state << line.text;
        for (QAbstractButton* link : panel->LinkButtons())
            state << "link " + link->text();
    }
    return state.join("\n");
}
} // namespace detail

// Where the keys go in window: faults when window is not the active window,
// when the focus is elsewhere or on a list control rather than on its view,
// when a focused list has rows but no current one, or holds one row that is
// not selected (Enter would open nothing). when says at what moment.
inline QStringList FocusFaults(QWidget* window, const QString& when)
{
    QStringList faults;
    QWidget* focus = QApplication::focusWidget();
    if (QApplication::activeWindow() != window)
        faults << QString("%1: %2 is not the active window (%3 is)")
                      .arg(when, detail::WindowName(window), detail::WindowName(QApplication::activeWindow()));
    if (focus == nullptr || focus->window() != window) {
        faults << QString("%1: nothing in %2 has the focus").arg(when, detail::WindowName(window));
        return faults;
    }
    if (qobject_cast<platform::gui::ListCtrl*>(focus) != nullptr)
        faults
            << QString("%1: the focus is on the list control %2, not on its view").arg(when, focus->accessibleName());
    auto* view = qobject_cast<QAbstractItemView*>(focus);
    auto* list = view != nullptr ? qobject_cast<platform::gui::ListCtrl*>(view->parentWidget()) : nullptr;
    if (list != nullptr && list->GetItemCount() > 0 && !view->currentIndex().isValid())
        faults << QString("%1: the focused list %2 has no current row").arg(when, list->accessibleName());
    if (list != nullptr && list->GetItemCount() == 1 && list->GetSelectedItem() < 0)
        faults << QString("%1: the focused list %2 holds one row, not selected").arg(when, list->accessibleName());
    return faults;
}

// Run while a modal window stands in front of root: every shown element of
// root that offers Press is pressed and every item that offers Toggle is
// toggled, as an assistive tool does. Nothing may act: no window opens, no
// message box shows, no command runs, no list or panel changes.
inline QStringList ActionsBehindModal(QWidget* root)
{
    QStringList faults;
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || modal == root->window())
        return {QString("no modal window stands in front of %1").arg(detail::WindowName(root))};
    std::mutex lock;
    QString acting;
    platform::MessageBoxRecorder boxes([&](const platform::RecordedBox& box) {
        const std::lock_guard<std::mutex> guard(lock);
        faults << QString("%1 behind %2 showed \"%3\"")
                      .arg(acting, detail::WindowName(modal), QString::fromStdString(box.text));
        return platform::DefaultAnswer(box.style);
    });
    const platform::gui::Dialog::ModalHook oldHook = platform::gui::Dialog::SetModalHook([&](platform::gui::Dialog& d) {
        {
            const std::lock_guard<std::mutex> guard(lock);
            faults << QString("%1 behind %2 opened %3")
                          .arg(acting, detail::WindowName(modal), d.metaObject()->className());
        }
        if (dynamic_cast<CPopDlg*>(&d) == nullptr)
            d.EndDialog(platform::IDCANCEL);
    });
    const QString before = detail::WindowState(root);
    int acted = 0;
    for (const QString& action :
         {QAccessibleActionInterface::pressAction(), QAccessibleActionInterface::toggleAction()}) {
        QStringList paths;
        detail::WithAction(QAccessible::queryAccessibleInterface(root), action, "", paths, 0);
        for (const QString& path : paths) {
            QAccessibleInterface* iface = nullptr;
            std::function<void(QAccessibleInterface*, const QString&, int)> find = [&](QAccessibleInterface* i,
                                                                                       const QString& at, int depth) {
                if (iface != nullptr || i == nullptr || !i->isValid() || depth > 40 || i->state().invisible)
                    return;
                QString name = i->text(QAccessible::Name).simplified();
                if (name.isEmpty() && i->object() != nullptr)
                    name = i->object()->objectName();
                const QString here = at + "/" + name;
                if (here == path && detail::HasAction(i, action))
                    iface = i;
                else if (path.startsWith(here + "/"))
                    for (int c = 0; c < i->childCount(); ++c)
                        find(i->child(c), here, depth + 1);
            };
            find(QAccessible::queryAccessibleInterface(root), "", 0);
            if (iface == nullptr)
                continue;
            acting = action + " " + path;
            iface->actionInterface()->doAction(action);
            ++acted;
            QTest::qWait(150); // a pressed button clicks a tenth of a second later
            // A menu that opened (popups are never blocked) is closed again;
            // its commands are what must not run.
            while (QWidget* popup = QApplication::activePopupWidget())
                popup->close();
            QCoreApplication::processEvents();
            const QString after = detail::WindowState(root);
            if (after != before)
                faults << QString("%1 behind %2 changed the window").arg(acting, detail::WindowName(modal));
            if (QApplication::activeModalWidget() != modal)
                faults << QString("%1 behind %2 left another modal window").arg(acting, detail::WindowName(modal));
        }
    }
    if (acted == 0)
        faults << QString("nothing to act on in %1").arg(detail::WindowName(root));
    platform::gui::Dialog::SetModalHook(oldHook);
    const std::lock_guard<std::mutex> guard(lock);
    return faults;
}

// Runs open(), which opens a dialog from owner while opener has the focus
// (through a command, a press or a direct call), and checks the round trip:
// the dialog shows active with the focus in it; a dialog opened over it
// gives it both back when it closes; when it closes, owner is the active
// window again with the focus on opener. inside, when given, runs in the
// dialog before it is closed (more checks). The dialog is cancelled.
inline QStringList FocusRoundTrip(QWidget* owner, QWidget* opener, const QString& what,
                                  const std::function<void()>& open,
                                  const std::function<void(platform::gui::Dialog&)>& inside = {})
{
    QStringList faults;
    opener->setFocus(Qt::OtherFocusReason);
    if (QApplication::focusWidget() != opener)
        return {QString("%1: the focus could not be put on %2").arg(what, detail::WindowName(opener))};
    bool ran = false;
    platform::gui::Dialog* over = nullptr; // the dialog opened over it
    const platform::gui::Dialog::ModalHook oldHook = platform::gui::Dialog::SetModalHook([&](platform::gui::Dialog& d) {
        if (&d == over) {
            (void)QTest::qWaitFor([&d] { return QApplication::activeWindow() == &d; }, 2000);
            if (QApplication::focusWidget() == nullptr || QApplication::focusWidget()->window() != over)
                faults << QString("%1: a dialog over it has no focus").arg(what);
            d.EndDialog(platform::IDOK);
            return;
        }
        if (dynamic_cast<CPopDlg*>(&d) != nullptr || ran)
            return;
        ran = true;
        (void)QTest::qWaitFor([&d] { return QApplication::activeWindow() == &d; }, 2000);
        faults << FocusFaults(&d, what + " open");
        QWidget* had = QApplication::focusWidget();
        // A dialog over this one gives the keys back to this one.
        platform::gui::Dialog probe(&d);
        auto* button = new QPushButton("OK", &probe);
        button->setAccessibleName("OK");
        over = &probe;
        probe.DoModal();
        over = nullptr;
        (void)QTest::qWaitFor([&] { return QApplication::focusWidget() == had; }, 2000);
        if (QApplication::focusWidget() != had || QApplication::activeWindow() != &d)
            faults << QString("%1: after a dialog over it closed, the focus is on %2 in %3, not on %4")
                          .arg(what, detail::WindowName(QApplication::focusWidget()),
                               detail::WindowName(QApplication::activeWindow()), detail::WindowName(had));
        if (inside)
            inside(d);
        d.EndDialog(platform::IDCANCEL);
    });
    open();
    (void)QTest::qWaitFor([&] { return ran && QApplication::activeModalWidget() == nullptr; }, 30000);
    platform::gui::Dialog::SetModalHook(oldHook);
    if (!ran)
        return {QString("%1 opened no dialog").arg(what)};
    (void)QTest::qWaitFor([opener] { return QApplication::focusWidget() == opener; }, 2000);
    if (QApplication::activeWindow() != owner)
        faults << QString("%1: closed, %2 is active, not %3")
                      .arg(what, detail::WindowName(QApplication::activeWindow()), detail::WindowName(owner));
    if (QApplication::focusWidget() != opener)
        faults << QString("%1: closed, the focus is on %2, not on %3 that opened it")
                      .arg(what, detail::WindowName(QApplication::focusWidget()), detail::WindowName(opener));
    return faults;
}

// ---------------------------------------------------------------------------
// What a screen reader reads.

namespace detail {
inline void HeadingFaults(const QString& name, const QString& here, QStringList& faults)
{
    if (name.trimmed().isEmpty())
        faults << QString("%1: a heading has no words").arg(here);
    else if (name != name.simplified())
        faults << QString("%1: heading \"%2\" is read with blanks").arg(here, name);
    else if (name.contains(QRegularExpression("^\\d+$")))
        faults << QString("%1: heading read as the number \"%2\"").arg(here, name);
}

// A table's or list's children as a reader reads them: every heading its
// words (not blank, not padded, not the number a view makes up for a column
// with no heading); every cell that shows an icon reads words; a cell with a
// box to tick is a check box, whose state readers read ticked or not (a
// "checkable" cell's unticked state never reaches them).
inline void ReadTableChildren(QAccessibleInterface* table, const QString& here, QStringList& faults)
{
    auto* view = qobject_cast<QAbstractItemView*>(table->object());
    // What a reader's table interface gives as each column's heading.
    if (QAccessibleTableInterface* columns = table->tableInterface())
        for (int c = 0; c < columns->columnCount(); ++c)
            HeadingFaults(columns->columnDescription(c), here + QString(" column %1").arg(c), faults);
    for (int i = 0; i < table->childCount(); ++i) {
        QAccessibleInterface* item = table->child(i);
        if (item == nullptr)
            continue;
        const QString name = item->text(QAccessible::Name);
        const QAccessible::Role role = item->role();
        if (role == QAccessible::ColumnHeader || role == QAccessible::RowHeader) {
            HeadingFaults(name, here, faults);
            continue;
        }
        if (item->state().checkable && role != QAccessible::CheckBox)
            faults << QString("%1: cell \"%2\" with a box is not a check box").arg(here, name);
        if (role == QAccessible::CheckBox && name.trimmed().isEmpty())
            faults << QString("%1: a box has no name").arg(here);
        QAccessibleTableCellInterface* cell = item->tableCellInterface();
        if (view == nullptr || view->model() == nullptr || cell == nullptr || !name.trimmed().isEmpty())
            continue;
        const QModelIndex index = view->model()->index(cell->rowIndex(), cell->columnIndex(), view->rootIndex());
        if (!index.data(Qt::DecorationRole).isNull())
            faults << QString("%1: row %2 shows an icon in column %3 that reads blank")
                          .arg(here)
                          .arg(cell->rowIndex())
                          .arg(cell->columnIndex());
    }
}

inline void ReadWalk(QAccessibleInterface* iface, const QString& path, QStringList& faults,
                     std::set<QAccessibleInterface*>& seen, int depth)
{
    if (iface == nullptr || !iface->isValid() || depth > 40 || !seen.insert(iface).second)
        return;
    QString here = path;
    if (QObject* object = iface->object())
        here +=
            "/" + (object->objectName().isEmpty() ? QString(object->metaObject()->className()) : object->objectName());
    const QAccessible::Role role = iface->role();
    if (role == QAccessible::Table || role == QAccessible::Tree || role == QAccessible::List) {
        ReadTableChildren(iface, here, faults);
        return;
    }
    if (role == QAccessible::ComboBox)
        return;
    for (int i = 0; i < iface->childCount(); ++i)
        ReadWalk(iface->child(i), here, faults, seen, depth + 1);
}
} // namespace detail

// What a screen reader would read wrong under root (shown or not): the
// window's title (it names the window when it opens, and its title bar
// shows it whole); table and list
// headings and cells (above); radio buttons announced as anything else;
// captions read apart from their values (a label of several captions, the
// values in another).
inline QStringList ReadingFaults(QWidget* root)
{
    QStringList faults;
    if (QAccessibleInterface* window = QAccessible::queryAccessibleInterface(root->window());
        window == nullptr || window->text(QAccessible::Name).trimmed().isEmpty())
        faults << QString("%1 has no title").arg(root->window()->metaObject()->className());
    else if (QWidget* window = root->window();
             !window->windowFlags().testFlag(Qt::FramelessWindowHint) &&
             window->width() < platform::gui::Dialog::TitleBarWidth(window->windowTitle()))
        faults << QString("%1 is too narrow for its title \"%2\"")
                      .arg(window->metaObject()->className(), window->windowTitle());
    std::set<QAccessibleInterface*> seen;
    detail::ReadWalk(QAccessible::queryAccessibleInterface(root), "", faults, seen, 0);
    for (QWidget* w : root->findChildren<QWidget*>()) {
        bool inCombo = false;
        for (QWidget* p = w->parentWidget(); p != nullptr && p != root; p = p->parentWidget())
            inCombo = inCombo || qobject_cast<QComboBox*>(p) != nullptr;
        if (!inCombo)
            detail::ReadWalk(QAccessible::queryAccessibleInterface(w), "", faults, seen, 0);
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        if (qobject_cast<QRadioButton*>(w) != nullptr && iface->role() != QAccessible::RadioButton)
            faults
                << QString("%1 is announced as role %2, not a radio button").arg(detail::Where(w)).arg(iface->role());
        auto* label = qobject_cast<QLabel*>(w);
        if (label == nullptr || Qt::mightBeRichText(label->text()))
            continue;
        const QString text = label->text();
        if (text.split('\n').filter(QRegularExpression(":\\s*$")).size() >= 2)
            faults << QString("%1 shows captions apart from their values").arg(detail::Where(w));
    }
    return faults;
}

// What an assistive tool is told is showing under root though it lies
// outside what root's window shows (scrolled away or clipped by a parent).
inline QStringList ShownOutOfView(QWidget* root)
{
    QStringList faults;
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (!w->isVisible() || w->size().isEmpty())
            continue;
        QRect r = w->rect();
        for (QWidget* c = w; !c->isWindow() && !r.isEmpty(); c = c->parentWidget())
            r = r.translated(c->pos()).intersected(c->parentWidget()->rect());
        if (!r.isEmpty())
            continue;
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
        if (iface != nullptr && !iface->state().invisible && !iface->state().offscreen)
            faults << QString("%1 is reported showing").arg(detail::Where(w));
    }
    return faults;
}

} // namespace testsupport

// In a Qt Test function: fails with what the accessibility walk finds.
#define EXPECT_ALL_NAMED(widget)                                                                                       \
    do {                                                                                                               \
        const QStringList faults_ = testsupport::AccessibilityFaults(widget);                                          \
        QVERIFY2(faults_.isEmpty(), qPrintable(faults_.join("; ")));                                                   \
    } while (false)

// In a Qt Test function: fails with the list of cut or covered texts.
#define EXPECT_NOTHING_CUT(widget)                                                                                     \
    do {                                                                                                               \
        const QStringList cut_ = testsupport::CutTexts(widget);                                                        \
        QVERIFY2(cut_.isEmpty(), qPrintable("cut: " + cut_.join("; ")));                                               \
    } while (false)
