#pragma once
// The part every childless accessible item of a widget has in common: a row,
// cell or line that assistive tools see as its own object, though no widget of
// its own stands behind it. It lives as long as the widget that draws it.

#include <QAccessible>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace platform::gui {

template <class Owner> class LeafAccessible : public QAccessibleInterface {
public:
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return m_owner ? m_owner->window()->windowHandle() : nullptr; }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_owner.data()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    void setText(QAccessible::Text, const QString&) override {}

protected:
    explicit LeafAccessible(Owner* owner) : m_owner(owner) {}
    QPointer<Owner> m_owner; // the widget that draws the item
};

} // namespace platform::gui
