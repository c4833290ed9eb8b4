#pragma once

#include <QAccessibleWidget>
#include <QHash>

class PacketListView;

// What assistive technology sees of the packet list: a table with its rows, its columns, the
// column headers and the cell texts. Qt offers this only to its own item views, so the list
// brings its own. Cells are made when they are asked for and only those are kept, so a list of
// millions of rows costs nothing here until someone reads it.
class PacketListAccessible : public QAccessibleWidget, public QAccessibleTableInterface
{
public:
    // Makes Qt answer with this interface for every PacketListView; once is enough.
    static void install();

    explicit PacketListAccessible(PacketListView* view);
    ~PacketListAccessible() override;

    PacketListView* view() const;
    // The cell at row and column, row -1 for a column's header; nullptr outside the table.
    QAccessibleInterface* cell(int row, int column) const;

    // QAccessibleInterface
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override;
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

private:
    void forgetCells(bool announce = true) const;

    // By place (child number, counted wide), only those asked for.
    mutable QHash<qint64, QAccessible::Id> m_cells;
};
