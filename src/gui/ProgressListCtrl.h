#pragma once
// A report list that can show a progress bar over one cell of a row. The bar
// follows its cell when the list scrolls or its columns change.
#include <QProgressBar>

#include "ListCtrl.h"

class CProgressListItem {
public:
    CProgressListItem(int column, QWidget* parent);
    virtual ~CProgressListItem();
    int m_column;
    QProgressBar* m_progress;
};

class CProgressListCtrl : public platform::gui::ListCtrl {
    Q_OBJECT
public:
    explicit CProgressListCtrl(QWidget* parent = nullptr);
    ~CProgressListCtrl() override;

    // Rows outside 0 .. count-1 are ignored.
    void SetItemProgress(int row, int column, int pos);
    void SetProgress(int row, int pos);
    bool DeleteItem(int row) override;
    bool DeleteAllItems() override;

    // The bar of a row, nullptr when it has none.
    QProgressBar* GetProgressBar(int row) const;
    int GetProgressColumn(int row) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    CProgressListItem* Holder(int row) const;
    void PlaceBars();
};
