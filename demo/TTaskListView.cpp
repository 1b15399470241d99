#include "TTaskListView.h"

#include <algorithm>
#include <QAbstractTableModel>
#include <QFontMetrics>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QListView>
#include <QStyle>
#include <QTreeView>
#include <vector>

/// The list's rows, read-only, in the order they were added. The list fills a thousand rows
/// at a time; a model of plain rows takes them in one insertion and answers the views from
/// the rows themselves, where a model of one item object per cell changes cell by cell.
class TTaskListModel : public QAbstractTableModel {
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& AParent = {}) const override
    {
        return AParent.isValid() ? 0 : static_cast<int>(FRows.size());
    }
    int columnCount(const QModelIndex& AParent = {}) const override
    {
        return AParent.isValid() ? 0 : static_cast<int>(FCaptions.size());
    }
    QVariant data(const QModelIndex& AIndex, int ARole) const override
    {
        if (!checkIndex(AIndex, CheckIndexOption::IndexIsValid)) return {};
        const TTaskListView::TRow& row = FRows[size_t(AIndex.row())];
        const int column = AIndex.column();
        switch (ARole) {
        case Qt::DisplayRole:
        case Qt::EditRole:
            if (column == 0) return row.Caption;
            if (column - 1 < row.SubItems.size()) return row.SubItems.at(column - 1);
            return {};
        case Qt::DecorationRole:
            if (column == 0 && !row.Image.isNull()) return row.Image;
            return {};
        case Qt::ToolTipRole:
            // Icon views shorten long names; the whole name stays one hover away.
            if (column == 0) return row.Caption;
            return {};
        default:
            return {};
        }
    }
    Qt::ItemFlags flags(const QModelIndex& AIndex) const override
    {
        if (!AIndex.isValid()) return Qt::NoItemFlags;
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
    }
    QVariant headerData(int ASection, Qt::Orientation AOrientation, int ARole) const override
    {
        if (AOrientation == Qt::Horizontal && ARole == Qt::DisplayRole && ASection >= 0 && ASection < FCaptions.size())
            return FCaptions.at(ASection);
        return QAbstractTableModel::headerData(ASection, AOrientation, ARole);
    }

    void SetCaptions(const QStringList& ACaptions)
    {
        const int had = columnCount();
        const int wanted = static_cast<int>(ACaptions.size());
        if (wanted > had) {
            beginInsertColumns({}, had, wanted - 1);
            FCaptions = ACaptions;
            endInsertColumns();
        } else if (wanted < had) {
            beginRemoveColumns({}, wanted, had - 1);
            FCaptions = ACaptions;
            endRemoveColumns();
        } else {
            FCaptions = ACaptions;
        }
        if (wanted > 0) emit headerDataChanged(Qt::Horizontal, 0, wanted - 1);
    }
    QString Caption(int AColumn) const { return FCaptions.value(AColumn); }

    void Insert(int ARow, const QList<TTaskListView::TRow>& ARows)
    {
        if (ARows.isEmpty()) return;
        beginInsertRows({}, ARow, ARow + static_cast<int>(ARows.size()) - 1);
        FRows.insert(FRows.begin() + ARow, ARows.cbegin(), ARows.cend());
        for (auto it = FRows.begin() + ARow; it != FRows.begin() + ARow + ARows.size(); ++it) Trim(*it);
        endInsertRows();
    }
    void Remove(int AFirst, int ACount)
    {
        if (ACount <= 0) return;
        beginRemoveRows({}, AFirst, AFirst + ACount - 1);
        FRows.erase(FRows.begin() + AFirst, FRows.begin() + AFirst + ACount);
        endRemoveRows();
    }
    const TTaskListView::TRow& Row(int ARow) const { return FRows.at(size_t(ARow)); }
    void SetSubItems(int ARow, const QStringList& AItems)
    {
        TTaskListView::TRow& row = FRows.at(size_t(ARow));
        row.SubItems = AItems;
        Trim(row);
        if (columnCount() > 1) emit dataChanged(index(ARow, 1), index(ARow, columnCount() - 1), {Qt::DisplayRole, Qt::EditRole});
    }
    void SetImage(int ARow, const QIcon& AIcon)
    {
        FRows.at(size_t(ARow)).Image = AIcon;
        emit dataChanged(index(ARow, 0), index(ARow, 0), {Qt::DecorationRole});
    }

private:
    // A row has a sub-item per column after the first, and no more.
    void Trim(TTaskListView::TRow& ARow) const
    {
        const qsizetype cells = std::max(0, columnCount() - 1);
        if (ARow.SubItems.size() > cells) ARow.SubItems.resize(cells);
    }

    QStringList FCaptions;
    std::vector<TTaskListView::TRow> FRows;
};

TTaskListView::TTaskListView(QWidget* AParent)
    : QStackedWidget(AParent), FModel(new TTaskListModel(this)), FReport(new QTreeView(this)),
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
    FModel->SetCaptions(ACaptions);
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
    for (int i = 0; i < FModel->columnCount(); ++i) captions << FModel->Caption(i);
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
    FModel->Remove(0, FModel->rowCount());
}

int TTaskListView::AddRow(const QString& ACaption, void* AData)
{
    return InsertRow(FModel->rowCount(), ACaption, AData);
}

void TTaskListView::AddRows(const QList<TRow>& ARows)
{
    FModel->Insert(FModel->rowCount(), ARows);
}

int TTaskListView::InsertRow(int ARow, const QString& ACaption, void* AData)
{
    ARow = std::clamp(ARow, 0, FModel->rowCount());
    FModel->Insert(ARow, {TRow{ACaption, AData, {}, {}}});
    return ARow;
}

void TTaskListView::RemoveRow(int ARow)
{
    if (ARow >= 0 && ARow < FModel->rowCount()) FModel->Remove(ARow, 1);
}

QString TTaskListView::Caption(int ARow) const
{
    return FModel->Row(ARow).Caption;
}

void* TTaskListView::Data(int ARow) const
{
    return FModel->Row(ARow).Data;
}

void TTaskListView::SetSubItems(int ARow, const QStringList& AItems)
{
    FModel->SetSubItems(ARow, AItems);
}

QStringList TTaskListView::SubItems(int ARow) const
{
    const TRow& row = FModel->Row(ARow);
    QStringList items;
    for (int column = 1; column < FModel->columnCount(); ++column) items << row.SubItems.value(column - 1);
    return items;
}

void TTaskListView::SetImage(int ARow, const QIcon& AIcon)
{
    FModel->SetImage(ARow, AIcon);
}

QIcon TTaskListView::Image(int ARow) const
{
    return FModel->Row(ARow).Image;
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
