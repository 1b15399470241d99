#include "TTaskListView.h"

#include <algorithm>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>
#include <QStandardItemModel>
#include <QStyle>
#include <QTreeView>

namespace {
constexpr int DataRole = Qt::UserRole + 1;
}

TTaskListView::TTaskListView(QWidget* AParent)
    : QStackedWidget(AParent), FModel(new QStandardItemModel(this)), FReport(new QTreeView(this)),
      FIcons(new QListView(this))
{
    FReport->setObjectName(QStringLiteral("ListViewReport"));
    FIcons->setObjectName(QStringLiteral("ListViewIcons"));
    FReport->setModel(FModel);
    FIcons->setModel(FModel);
    FSelection = FReport->selectionModel();
    FIcons->setSelectionModel(FSelection);
    FReport->setRootIsDecorated(false);
    FReport->setUniformRowHeights(true);
    FReport->setAllColumnsShowFocus(true);
    FReport->header()->setSectionsMovable(false);
    for (QAbstractItemView* view : {static_cast<QAbstractItemView*>(FReport), static_cast<QAbstractItemView*>(FIcons)}) {
        view->setSelectionMode(QAbstractItemView::ExtendedSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(view, &QWidget::customContextMenuRequested, this,
                [this, view](const QPoint& pos) { emit RightClicked(view->viewport()->mapToGlobal(pos)); });
        connect(view, &QAbstractItemView::doubleClicked, this, [this] { emit DoubleClicked(); });
    }
    FIcons->setResizeMode(QListView::Adjust);
    FIcons->setWrapping(true);
    FIcons->setUniformItemSizes(true);
    // Names that differ only at their end ("New task 1", "New task 2") stay apart when shortened.
    FIcons->setTextElideMode(Qt::ElideMiddle);
    connect(FSelection, &QItemSelectionModel::selectionChanged, this, [this] { emit SelectionChanged(); });
    addWidget(FReport);
    addWidget(FIcons);
    SetViewStyle(vsReport);
}

void TTaskListView::SetColumns(const QStringList& ACaptions, const QList<int>& AWidths)
{
    FModel->setColumnCount(static_cast<int>(ACaptions.size()));
    FModel->setHorizontalHeaderLabels(ACaptions);
    for (int i = 0; i < AWidths.size(); ++i) FReport->setColumnWidth(i, AWidths.at(i));
}

void TTaskListView::FitColumnWidths(const QList<QStringList>& ASamples)
{
    const QFontMetrics metrics(FReport->font());
    // A cell's text sits between the focus frame's margins on both sides.
    const int padding = 2 * (FReport->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, FReport) + 1) + 4;
    for (int column = 0; column < FModel->columnCount(); ++column) {
        int width = FReport->header()->sectionSizeHint(column);
        const int icon = column == 0 ? FSmall.width() + padding : 0;
        for (const QString& text : ASamples.value(column)) width = std::max(width, metrics.horizontalAdvance(text) + padding + icon);
        FReport->setColumnWidth(column, width);
    }
}

QStringList TTaskListView::ColumnCaptions() const
{
    QStringList captions;
    for (int i = 0; i < FModel->columnCount(); ++i) captions << FModel->headerData(i, Qt::Horizontal).toString();
    return captions;
}

int TTaskListView::ColumnWidth(int AColumn) const
{
    return FReport->columnWidth(AColumn);
}

void TTaskListView::SetViewStyle(TViewStyle Value)
{
    FViewStyle = Value;
    switch (Value) {
    case vsIcon:
        FIcons->setViewMode(QListView::IconMode);
        FIcons->setFlow(QListView::LeftToRight);
        FIcons->setGridSize(QSize(FLarge.width() * 3, FLarge.height() + 2 * fontMetrics().height() + 8));
        break;
    case vsSmallIcon:
        FIcons->setViewMode(QListView::ListMode);
        FIcons->setFlow(QListView::LeftToRight);
        FIcons->setGridSize(QSize());
        break;
    case vsList:
        FIcons->setViewMode(QListView::ListMode);
        FIcons->setFlow(QListView::TopToBottom);
        FIcons->setGridSize(QSize());
        break;
    case vsReport:
        break;
    }
    FIcons->setMovement(QListView::Static);
    FIcons->setWrapping(true);
    setCurrentWidget(Value == vsReport ? static_cast<QWidget*>(FReport) : FIcons);
    ApplyImageSize();
}

void TTaskListView::SetImageSizes(QSize ASmall, QSize ALarge)
{
    FSmall = ASmall;
    FLarge = ALarge;
    ApplyImageSize();
}

void TTaskListView::ApplyImageSize()
{
    FReport->setIconSize(FSmall);
    FIcons->setIconSize(FViewStyle == vsIcon ? FLarge : FSmall);
}

int TTaskListView::RowCount() const
{
    return FModel->rowCount();
}

void TTaskListView::Clear()
{
    FModel->removeRows(0, FModel->rowCount());
}

int TTaskListView::AddRow(const QString& ACaption, void* AData)
{
    return InsertRow(FModel->rowCount(), ACaption, AData);
}

int TTaskListView::InsertRow(int ARow, const QString& ACaption, void* AData)
{
    ARow = std::clamp(ARow, 0, FModel->rowCount());
    QList<QStandardItem*> cells;
    auto* caption = new QStandardItem(ACaption);
    // Icon views shorten long names; the whole name stays one hover away.
    caption->setToolTip(ACaption);
    caption->setData(QVariant::fromValue(reinterpret_cast<quintptr>(AData)), DataRole);
    cells << caption;
    for (int i = 1; i < FModel->columnCount(); ++i) cells << new QStandardItem;
    for (QStandardItem* cell : cells) cell->setEditable(false);
    FModel->insertRow(ARow, cells);
    return ARow;
}

void TTaskListView::RemoveRow(int ARow)
{
    FModel->removeRow(ARow);
}

QString TTaskListView::Caption(int ARow) const
{
    return FModel->item(ARow, 0)->text();
}

void* TTaskListView::Data(int ARow) const
{
    return reinterpret_cast<void*>(FModel->item(ARow, 0)->data(DataRole).value<quintptr>());
}

void TTaskListView::SetSubItems(int ARow, const QStringList& AItems)
{
    for (int column = 1; column < FModel->columnCount(); ++column) {
        const qsizetype index = column - 1;
        FModel->item(ARow, column)->setText(index < AItems.size() ? AItems.at(index) : QString());
    }
}

QStringList TTaskListView::SubItems(int ARow) const
{
    QStringList items;
    for (int column = 1; column < FModel->columnCount(); ++column) items << FModel->item(ARow, column)->text();
    return items;
}

void TTaskListView::SetImage(int ARow, const QIcon& AIcon)
{
    FModel->item(ARow, 0)->setIcon(AIcon);
}

QIcon TTaskListView::Image(int ARow) const
{
    return FModel->item(ARow, 0)->icon();
}

int TTaskListView::IndexOfData(const void* AData) const
{
    for (int row = 0; row < RowCount(); ++row) {
        if (Data(row) == AData) return row;
    }
    return -1;
}

QList<int> TTaskListView::SelectedRows() const
{
    QList<int> rows;
    for (const QModelIndex& index : FSelection->selectedRows()) rows << index.row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TTaskListView::SetSelected(int ARow, bool ASelected)
{
    FSelection->select(FModel->index(ARow, 0),
                       (ASelected ? QItemSelectionModel::Select : QItemSelectionModel::Deselect)
                           | QItemSelectionModel::Rows);
}

void TTaskListView::ClearSelection()
{
    FSelection->clearSelection();
}

QAbstractItemView* TTaskListView::CurrentView() const
{
    return static_cast<QAbstractItemView*>(currentWidget());
}
