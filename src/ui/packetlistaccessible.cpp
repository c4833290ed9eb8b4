#include "packetlistaccessible.h"

#include "packetcellaccessible.h"
#include "packetlistview.h"

#include <QHeaderView>

#include <limits>

namespace {

// Beyond this many cells asked for, the kept ones are let go and made anew when asked again,
// so that a reader walking millions of rows costs bounded memory.
constexpr int KeptCells = 4096;

// A cell's child number, counted wide: the column headers are row -1, the first children.
qint64 place(int row, int column, int columns)
{
    return (qint64(row) + 1) * columns + column;
}

QAccessibleInterface* packetListFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("PacketListView") && object && object->isWidgetType())
        return new PacketListAccessible(static_cast<PacketListView*>(object));
    return nullptr;
}

} // namespace

void PacketListAccessible::install()
{
    QAccessible::installFactory(packetListFactory); // Qt keeps each factory once
}

PacketListAccessible::PacketListAccessible(PacketListView* view)
    : QAccessibleWidget(view, QAccessible::Table)
{}

PacketListAccessible::~PacketListAccessible()
{
    // The list is being destroyed: its cells go with it, with nothing left to announce.
    forgetCells(false);
}

PacketListView* PacketListAccessible::view() const
{
    return static_cast<PacketListView*>(widget());
}

void PacketListAccessible::forgetCells(bool announce) const
{
    for (const QAccessible::Id id : std::as_const(m_cells)) {
        // A screen reader may hold the cell: it is told the cell is gone while the cell can
        // still say where it was, and asks the table again when it comes back.
        QAccessibleInterface* cell = announce ? QAccessible::accessibleInterface(id) : nullptr;
        if (cell && cell->isValid()) {
            QAccessibleEvent gone(cell, QAccessible::ObjectDestroyed);
            QAccessible::updateAccessibility(&gone);
        }
        QAccessible::deleteAccessibleInterface(id);
    }
    m_cells.clear();
}

QAccessibleInterface* PacketListAccessible::cell(int row, int column) const
{
    if (row < -1 || row >= rowCount() || column < 0 || column >= columnCount())
        return nullptr;
    const qint64 index = place(row, column, columnCount());
    const auto kept = m_cells.constFind(index);
    if (kept != m_cells.constEnd())
        return QAccessible::accessibleInterface(*kept);
    if (m_cells.size() >= KeptCells)
        forgetCells();
    auto* made = new PacketCellAccessible(view(), row, column);
    m_cells.insert(index, QAccessible::registerAccessibleInterface(made));
    return made;
}

int PacketListAccessible::rowCount() const
{
    const QAbstractItemModel* model = view()->model();
    return model ? model->rowCount() : 0;
}

int PacketListAccessible::columnCount() const
{
    const QAbstractItemModel* model = view()->model();
    return model ? model->columnCount() : 0;
}

int PacketListAccessible::childCount() const
{
    const qint64 count = place(rowCount(), 0, columnCount());
    return int(std::min<qint64>(count, std::numeric_limits<int>::max()));
}

QAccessibleInterface* PacketListAccessible::child(int index) const
{
    const int columns = columnCount();
    if (index < 0 || columns == 0)
        return nullptr;
    return cell(index / columns - 1, index % columns);
}

int PacketListAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    const auto* cell = dynamic_cast<const PacketCellAccessible*>(child);
    if (!cell || !cell->isValid())
        return -1;
    // Past what an int numbers (hundreds of millions of rows) a cell is reached through cellAt().
    const qint64 index = place(cell->rowIndex(), cell->columnIndex(), columnCount());
    return index <= std::numeric_limits<int>::max() ? int(index) : -1;
}

QAccessibleInterface* PacketListAccessible::childAt(int x, int y) const
{
    const QHeaderView* header = view()->header();
    const QPoint inHeader = header->viewport()->mapFromGlobal(QPoint(x, y));
    if (header->viewport()->rect().contains(inHeader))
        return cell(-1, header->logicalIndexAt(inHeader.x()));
    const QModelIndex index = view()->indexAt(view()->viewport()->mapFromGlobal(QPoint(x, y)));
    return index.isValid() ? cell(index.row(), index.column()) : nullptr;
}

QAccessibleInterface* PacketListAccessible::focusChild() const
{
    const QModelIndex current = view()->currentIndex();
    if (!view()->hasFocus() || !current.isValid())
        return nullptr;
    return cell(current.row(), current.column());
}

void* PacketListAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableInterface)
        return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessibleInterface* PacketListAccessible::cellAt(int row, int column) const
{
    return row >= 0 ? cell(row, column) : nullptr;
}

QList<int> PacketListAccessible::selectedRows() const
{
    QList<int> rows;
    if (const QItemSelectionModel* selection = view()->selectionModel()) {
        for (const QModelIndex& index : selection->selectedRows())
            rows.append(index.row());
    }
    return rows;
}

int PacketListAccessible::selectedRowCount() const
{
    return int(selectedRows().size());
}

int PacketListAccessible::selectedCellCount() const
{
    return selectedRowCount() * columnCount();
}

QList<QAccessibleInterface*> PacketListAccessible::selectedCells() const
{
    QList<QAccessibleInterface*> cells;
    for (const int row : selectedRows()) {
        for (int column = 0; column < columnCount(); ++column)
            cells.append(cell(row, column));
    }
    return cells;
}

QString PacketListAccessible::columnDescription(int column) const
{
    const QAbstractItemModel* model = view()->model();
    return model ? model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString()
                 : QString();
}

bool PacketListAccessible::isRowSelected(int row) const
{
    const QItemSelectionModel* selection = view()->selectionModel();
    return selection && selection->isRowSelected(row);
}

bool PacketListAccessible::selectRow(int row)
{
    if (row < 0 || row >= rowCount() || !view()->selectionModel())
        return false;
    view()->selectionModel()->setCurrentIndex(view()->model()->index(row, 0),
                                              QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    return true;
}

bool PacketListAccessible::unselectRow(int row)
{
    if (!isRowSelected(row))
        return false;
    view()->selectionModel()->select(view()->model()->index(row, 0),
                                     QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    return true;
}

void PacketListAccessible::modelChange(QAccessibleTableModelChangeEvent* event)
{
    // Rows appended at the end leave every cell's child number as it was; anything else
    // (Clear List resets the list) makes the kept cells stale.
    const bool appended =
        event->modelChangeType() == QAccessibleTableModelChangeEvent::RowsInserted &&
        event->lastRow() == rowCount() - 1;
    if (!appended)
        forgetCells();
}
