#pragma once
// The accessibility walk: every interactive element under a window (buttons,
// edits, combo boxes, check boxes, lists, tables, links) must have a name.
// Header-only, for the window tests: QCOMPARE(UnnamedControls(&window), {})
// or EXPECT_ALL_NAMED(&window) in a Qt Test function.
#include <QAbstractButton>
#include <QAbstractSpinBox>
#include <QAccessible>
#include <QAccessibleInterface>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <set>

#include "ListCtrl.h"

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
inline void Walk(QAccessibleInterface* iface, const QString& path, QStringList& unnamed,
                 std::set<QAccessibleInterface*>& seen, int depth)
{
    if (iface == nullptr || !iface->isValid() || depth > 40 || !seen.insert(iface).second)
        return;
    const QAccessible::Role role = iface->role();
    QString here = path;
    if (QObject* object = iface->object())
        here +=
            "/" + (object->objectName().isEmpty() ? QString(object->metaObject()->className()) : object->objectName());
    if (IsInteractiveRole(role) && iface->text(QAccessible::Name).trimmed().isEmpty())
        unnamed << QString("%1 (role %2)").arg(here).arg(int(role));
    // Items of lists and tables are their own texts; the views are named.
    if (role == QAccessible::List || role == QAccessible::Table || role == QAccessible::Tree ||
        role == QAccessible::ComboBox)
        return;
    for (int i = 0; i < iface->childCount(); ++i)
        Walk(iface->child(i), here, unnamed, seen, depth + 1);
}
} // namespace detail

// The interactive elements under root (root itself, every descendant widget,
// shown or not, and the interfaces below them) that have no accessible name.
inline QStringList UnnamedControls(QWidget* root)
{
    QStringList unnamed;
    std::set<QAccessibleInterface*> seen;
    detail::Walk(QAccessible::queryAccessibleInterface(root), "", unnamed, seen, 0);
    // Hidden widgets (a dialog's other modes) are not in the tree: ask each.
    auto inCombo = [root](QWidget* widget) { // a combo box's own popup list
        for (QWidget* w = widget->parentWidget(); w != nullptr && w != root; w = w->parentWidget())
            if (qobject_cast<QComboBox*>(w) != nullptr)
                return true;
        return false;
    };
    for (QWidget* widget : root->findChildren<QWidget*>())
        if (!inCombo(widget))
            detail::Walk(QAccessible::queryAccessibleInterface(widget), "", unnamed, seen, 0);
    return unnamed;
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
                             qobject_cast<QProgressBar*>(w) || qobject_cast<QLabel*>(w) ||
                             qobject_cast<QGroupBox*>(w) || qobject_cast<QLineEdit*>(w);
        if (!inner && control && w->accessibleName().isEmpty())
            missing << w->objectName();
    }
    return missing;
}

} // namespace testsupport

// In a Qt Test function: fails with the list of unnamed elements.
#define EXPECT_ALL_NAMED(widget)                                                                                       \
    do {                                                                                                               \
        const QStringList unnamed_ = testsupport::UnnamedControls(widget);                                             \
        QVERIFY2(unnamed_.isEmpty(), qPrintable("without a name: " + unnamed_.join("; ")));                            \
    } while (false)
