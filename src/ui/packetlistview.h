#pragma once

#include <QAbstractItemView>

class QHeaderView;

// The packet list: a table of rows of one height under a header of columns, which keeps
// nothing per row. Qt's table keeps a hidden header section per row and recomputes all of
// their positions after each insertion, so a capture cost more the longer it ran; here a row's
// place is its number times the row height, and the vertical scroll bar counts rows.
//
// Selection, the current row, clicks, keys and the wheel are the item view's; this class
// answers its geometric questions and paints the visible rows through the item delegate.
class PacketListView : public QAbstractItemView
{
    Q_OBJECT

public:
    explicit PacketListView(QWidget* parent = nullptr);

    void setModel(QAbstractItemModel* model) override;
    QHeaderView* header() const { return m_header; }
    int firstVisibleRow() const;
    // Rows that fit the viewport whole.
    int pageRows() const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void keyboardSearch(const QString& search) override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;

    void rowsInserted(const QModelIndex& parent, int first, int last) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int rowAt(int y) const;
    int rowTop(int row) const;
    void updateRowHeight();
    void paintRow(QPainter& painter, QStyleOptionViewItem& option, int row, int top);

    QHeaderView* m_header = nullptr;
    int m_rowHeight = 1;
};
