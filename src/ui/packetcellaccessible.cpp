#include "packetcellaccessible.h"

#include "packetlistview.h"

#include <QHeaderView>

PacketCellAccessible::PacketCellAccessible(PacketListView* view, int row, int column)
    : m_view(view), m_row(row), m_column(column)
{}

bool PacketCellAccessible::isValid() const
{
    const QAbstractItemModel* model = m_view ? m_view->model() : nullptr;
    return model && m_row < model->rowCount() && m_column >= 0 && m_column < model->columnCount();
}

QWindow* PacketCellAccessible::window() const
{
    return m_view ? m_view->window()->windowHandle() : nullptr;
}

QAccessibleInterface* PacketCellAccessible::parent() const
{
    return m_view ? QAccessible::queryAccessibleInterface(m_view.data()) : nullptr;
}

QString PacketCellAccessible::text(QAccessible::Text t) const
{
    if (!isValid() || (t != QAccessible::Name && t != QAccessible::Value))
        return {};
    const QAbstractItemModel* model = m_view->model();
    if (isHeader())
        return model->headerData(m_column, Qt::Horizontal, Qt::DisplayRole).toString();
    const QModelIndex index = model->index(m_row, m_column);
    const QVariant text = model->data(index, Qt::AccessibleTextRole);
    return text.isValid() ? text.toString() : model->data(index, Qt::DisplayRole).toString();
}

QRect PacketCellAccessible::rect() const
{
    if (!isValid())
        return {};
    if (isHeader()) {
        const QHeaderView* header = m_view->header();
        const QRect section(header->sectionViewportPosition(m_column), 0,
                            header->sectionSize(m_column), header->height());
        return section.translated(header->viewport()->mapToGlobal(QPoint(0, 0)));
    }
    const QRect cell = m_view->visualRect(m_view->model()->index(m_row, m_column));
    return cell.translated(m_view->viewport()->mapToGlobal(QPoint(0, 0)));
}

QAccessible::Role PacketCellAccessible::role() const
{
    return isHeader() ? QAccessible::ColumnHeader : QAccessible::Cell;
}

QAccessible::State PacketCellAccessible::state() const
{
    QAccessible::State state;
    if (!isValid()) {
        state.invalid = true;
        return state;
    }
    const QRect cell = rect();
    const QRect shown(m_view->viewport()->mapToGlobal(QPoint(0, 0)), m_view->viewport()->size());
    state.invisible = !isHeader() && !shown.intersects(cell);
    state.offscreen = state.invisible;
    if (!isHeader()) {
        state.selectable = true;
        state.focusable = true;
        state.selected = isSelected();
        const QModelIndex current = m_view->currentIndex();
        state.focused =
            m_view->hasFocus() && current.row() == m_row && current.column() == m_column;
    }
    return state;
}

void* PacketCellAccessible::interface_cast(QAccessible::InterfaceType type)
{
    if (type == QAccessible::TableCellInterface && !isHeader())
        return static_cast<QAccessibleTableCellInterface*>(this);
    return nullptr;
}

bool PacketCellAccessible::isSelected() const
{
    return isValid() && !isHeader() && m_view->selectionModel() &&
           m_view->selectionModel()->isRowSelected(m_row);
}

QList<QAccessibleInterface*> PacketCellAccessible::columnHeaderCells() const
{
    QAccessibleInterface* table = parent();
    QAccessibleTableInterface* cells = table ? table->tableInterface() : nullptr;
    if (!cells || !isValid())
        return {};
    // The headers are row -1 of the table: the first children.
    QAccessibleInterface* header = table->child(m_column);
    return header ? QList<QAccessibleInterface*>{header} : QList<QAccessibleInterface*>{};
}
