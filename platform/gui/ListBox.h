#pragma once
// The list box: a column of texts, one selected at a time, rows numbered
// from 0. Its heading is not drawn; it is what assistive tools announce as
// the column's heading (the heading property, set from a form).
#include <QListView>
#include <QString>
#include <vector>

class QStandardItemModel;

namespace platform::gui {

class ListBox : public QListView {
    Q_OBJECT
    Q_PROPERTY(QString heading READ Heading WRITE SetHeading)
public:
    explicit ListBox(QWidget* parent = nullptr);

    QString Heading() const;
    void SetHeading(const QString& heading);

    int GetCount() const;
    QString GetText(int row) const;
    // Returns the new row's index.
    int AddString(const QString& text);
    void DeleteString(int row);
    void ResetContent();
    // The first row that holds exactly text, -1 when none does.
    int FindStringExact(const QString& text) const;
    // The selected rows, in order.
    std::vector<int> GetSelItems() const;
    // Makes row current and selected; -1 leaves no row current or selected.
    void SetCurSel(int row);
    bool IsSelected(int row) const;

private:
    QStandardItemModel* m_model;
};

} // namespace platform::gui
