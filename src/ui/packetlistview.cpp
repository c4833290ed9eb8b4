#include "packetlistview.h"

#include "packetlistaccessible.h"
#include "rowscrollbar.h"

#include <QAccessible>
#include <QHeaderView>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <limits>

PacketListView::PacketListView(QWidget* parent) : QAbstractItemView(parent)
{
    PacketListAccessible::install();
    m_header = new QHeaderView(Qt::Horizontal, this);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_header->setHighlightSections(false);
    m_header->setSectionsClickable(false);
    m_header->setStretchLastSection(false); // "Data" keeps its width; the user may widen it
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    connect(m_header, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(m_header, &QHeaderView::sectionCountChanged, this, &PacketListView::updateGeometries);

    setSelectionBehavior(SelectRows);
    setSelectionMode(SingleSelection);
    setEditTriggers(NoEditTriggers);
    setTabKeyNavigation(false); // Tab moves on to the next control, not to the next cell
    setVerticalScrollBar(new RowScrollBar(this));
    verticalScrollBar()->setSingleStep(1); // the vertical bar counts rows
    horizontalScrollBar()->setSingleStep(20);
    updateRowHeight();
}

void PacketListView::setModel(QAbstractItemModel* model)
{
    QAbstractItemView::setModel(model);
    m_header->setModel(model);
    updateGeometries();
}

int PacketListView::firstVisibleRow() const
{
    return verticalScrollBar()->value();
}

int PacketListView::pageRows() const
{
    return std::max(1, viewport()->height() / m_rowHeight);
}

int PacketListView::rowAt(int y) const
{
    if (y < 0 || !model())
        return -1;
    const qint64 row = qint64(firstVisibleRow()) + y / m_rowHeight;
    return row < model()->rowCount(rootIndex()) ? int(row) : -1;
}

int PacketListView::rowTop(int row) const
{
    // Far rows get a place far outside the viewport that still fits an int.
    const qint64 top = (qint64(row) - firstVisibleRow()) * m_rowHeight;
    constexpr qint64 Far = std::numeric_limits<int>::max() / 4;
    return int(std::clamp(top, -Far, Far));
}

QRect PacketListView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != model() || m_header->isSectionHidden(index.column()))
        return {};
    return QRect(m_header->sectionViewportPosition(index.column()), rowTop(index.row()),
                 m_header->sectionSize(index.column()), m_rowHeight);
}

void PacketListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    if (!index.isValid() || index.model() != model())
        return;
    const qint64 row = index.row();
    const qint64 page = pageRows();
    qint64 top = firstVisibleRow();
    switch (hint) {
    case EnsureVisible:
        if (row < top)
            top = row;
        else if (row - top >= page)
            top = row - page + 1;
        break;
    case PositionAtTop:
        top = row;
        break;
    case PositionAtBottom:
        top = row - page + 1;
        break;
    case PositionAtCenter:
        top = row - page / 2;
        break;
    }
    verticalScrollBar()->setValue(int(std::clamp<qint64>(top, 0, std::numeric_limits<int>::max())));

    QScrollBar* bar = horizontalScrollBar();
    const int left = m_header->sectionPosition(index.column());
    const int right = left + m_header->sectionSize(index.column());
    if (left < bar->value())
        bar->setValue(left);
    else if (right > bar->value() + viewport()->width())
        bar->setValue(std::min(left, right - viewport()->width()));
}

QModelIndex PacketListView::indexAt(const QPoint& point) const
{
    const int row = rowAt(point.y());
    const int column = m_header->logicalIndexAt(point.x());
    if (row < 0 || column < 0)
        return {};
    return model()->index(row, column, rootIndex());
}

void PacketListView::keyboardSearch(const QString&)
{
    // Searching the texts of millions of rows for typed letters would stop the window for
    // seconds; typing in the list does nothing.
}

QModelIndex PacketListView::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    if (rows == 0)
        return {};
    const QModelIndex current = currentIndex();
    // Wide enough that a page down from the last rows of the longest list cannot overflow.
    qint64 row = current.isValid() ? current.row() : std::min(firstVisibleRow(), rows - 1);
    int column = current.isValid() ? current.column() : 0;
    switch (action) {
    case MoveUp:
        row -= current.isValid();
        break;
    case MoveDown:
        row += current.isValid();
        break;
    case MovePageUp:
        row -= pageRows();
        break;
    case MovePageDown:
        row += pageRows();
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MovePrevious:
        column -= current.isValid();
        break;
    case MoveRight:
    case MoveNext:
        column += current.isValid();
        break;
    }
    row = std::clamp<qint64>(row, 0, rows - 1);
    column = std::clamp(column, 0, model()->columnCount(rootIndex()) - 1);
    return model()->index(int(row), column, rootIndex());
}

int PacketListView::horizontalOffset() const
{
    return horizontalScrollBar()->value();
}

int PacketListView::verticalOffset() const
{
    const qint64 offset = qint64(firstVisibleRow()) * m_rowHeight;
    return int(std::min<qint64>(offset, std::numeric_limits<int>::max()));
}

bool PacketListView::isIndexHidden(const QModelIndex&) const
{
    return false;
}

void PacketListView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command)
{
    if (!model() || !selectionModel())
        return;
    const QRect area = rect.normalized();
    const int rows = model()->rowCount(rootIndex());
    const qint64 first = firstVisibleRow();
    const qint64 top = first + std::max(0, area.top()) / m_rowHeight;
    const qint64 bottom =
        std::min<qint64>(first + std::max(0, area.bottom()) / m_rowHeight, rows - 1);
    QItemSelection selection;
    if (area.bottom() >= 0 && top <= bottom) {
        const int lastColumn = model()->columnCount(rootIndex()) - 1;
        selection.select(model()->index(int(top), 0, rootIndex()),
                         model()->index(int(bottom), lastColumn, rootIndex()));
    }
    selectionModel()->select(selection, command);
}

QRegion PacketListView::visualRegionForSelection(const QItemSelection& selection) const
{
    const qint64 first = firstVisibleRow();
    const qint64 last = first + pageRows(); // with the row cut by the bottom edge
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        const int top = int(std::max<qint64>(range.top(), first));
        const int bottom = int(std::min<qint64>(range.bottom(), last));
        if (!range.isValid() || top > bottom)
            continue;
        const int left = m_header->sectionViewportPosition(range.left());
        const int right =
            m_header->sectionViewportPosition(range.right()) + m_header->sectionSize(range.right());
        region += QRect(left, rowTop(top), right - left, (bottom - top + 1) * m_rowHeight);
    }
    return region;
}

void PacketListView::rowsInserted(const QModelIndex& parent, int first, int last)
{
    QAbstractItemView::rowsInserted(parent, first, last);
    // Only the scroll bar's range depends on the number of rows; rows that arrive below the
    // viewport need no paint.
    updateGeometries();
    if (first <= qint64(firstVisibleRow()) + pageRows())
        viewport()->update();
}

void PacketListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QAbstractItemView::currentChanged(current, previous);
    if (QAccessible::isActive() && current.isValid() && hasFocus()) {
        // Named by its cell rather than a child number, which an int cannot hold for every row.
        QAccessibleInterface* list = QAccessible::queryAccessibleInterface(this);
        QAccessibleTableInterface* table = list ? list->tableInterface() : nullptr;
        if (QAccessibleInterface* cell =
                table ? table->cellAt(current.row(), current.column()) : nullptr) {
            QAccessibleEvent event(cell, QAccessible::Focus);
            QAccessible::updateAccessibility(&event);
        }
    }
}

void PacketListView::updateGeometries()
{
    const int headerHeight = m_header->sizeHint().height();
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect area = viewport()->geometry();
    m_header->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);

    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    QScrollBar* rowsBar = verticalScrollBar();
    rowsBar->setPageStep(pageRows());
    rowsBar->setRange(0, std::max(0, rows - pageRows()));
    QScrollBar* pixelsBar = horizontalScrollBar();
    pixelsBar->setPageStep(area.width());
    pixelsBar->setRange(0, std::max(0, m_header->length() - area.width()));
    m_header->setOffset(pixelsBar->value());
    QAbstractItemView::updateGeometries();
}

void PacketListView::scrollContentsBy(int dx, int)
{
    // The vertical bar counts rows, not pixels: every row moves, so the viewport is drawn anew.
    if (dx != 0)
        m_header->setOffset(horizontalScrollBar()->value());
    viewport()->update();
}

void PacketListView::paintEvent(QPaintEvent* event)
{
    if (!model())
        return;
    QPainter painter(viewport());
    const QRect area = event->rect();
    const int rows = model()->rowCount(rootIndex());
    const qint64 first = firstVisibleRow();
    const qint64 from = first + std::max(0, area.top()) / m_rowHeight;
    const qint64 to = std::min<qint64>(first + std::max(0, area.bottom()) / m_rowHeight, rows - 1);
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    for (qint64 row = from; row <= to; ++row)
        paintRow(painter, option, int(row), rowTop(int(row)));
}

void PacketListView::paintRow(QPainter& painter, QStyleOptionViewItem& option, int row, int top)
{
    const bool selected = selectionModel() && selectionModel()->isRowSelected(row, rootIndex());
    const QModelIndex current = currentIndex();
    const int width = viewport()->width();
    for (int column = 0; column < m_header->count(); ++column) {
        const int left = m_header->sectionViewportPosition(column);
        const int size = m_header->sectionSize(column);
        if (m_header->isSectionHidden(column) || left + size <= 0 || left >= width)
            continue;
        QStyleOptionViewItem cell = option;
        cell.rect = QRect(left, top, size, m_rowHeight);
        if (selected)
            cell.state |= QStyle::State_Selected;
        const QModelIndex index = model()->index(row, column, rootIndex());
        if (index == current && hasFocus())
            cell.state |= QStyle::State_HasFocus;
        itemDelegate()->paint(&painter, cell, index);
    }
}

void PacketListView::changeEvent(QEvent* event)
{
    QAbstractItemView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        updateRowHeight();
        updateGeometries();
    }
}

void PacketListView::updateRowHeight()
{
    // One height for every row, from the list's font: no row is ever measured.
    m_rowHeight = std::max(1, fontMetrics().height() + 4);
}
