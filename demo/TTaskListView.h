#pragma once
// A list of rows with a caption, an icon, sub-items and a data pointer each, shown in one of
// four view styles: large icons, small icons, list, or report with columns.

#include <QIcon>
#include <QStackedWidget>
#include <QStringList>

class QAbstractItemView;
class QItemSelectionModel;
class QListView;
class QTreeView;
class TTaskListModel;

/// The list's view styles.
enum TViewStyle : quint8 { vsIcon, vsSmallIcon, vsList, vsReport };

/// The rows live in one model; a report view and an icon view share it and its selection,
/// and the view style chooses which of them is shown. Several rows can be selected; the
/// rows are read-only and keep the order they were added in.
class TTaskListView : public QStackedWidget {
    Q_OBJECT

public:
    /// A row's contents, for `AddRows`.
    struct TRow {
        QString Caption;
        void* Data = nullptr;
        QStringList SubItems;
        QIcon Image;
    };

    explicit TTaskListView(QWidget* AParent = nullptr);

    /// Sets the report columns: captions and widths in pixels.
    void SetColumns(const QStringList& ACaptions, const QList<int>& AWidths);
    /// Makes each report column as wide as its caption and as the widest of `ASamples[i]`,
    /// texts typical of its cells, in the list's fonts (the first column leaves room for a
    /// small icon).
    void FitColumnWidths(const QList<QStringList>& ASamples);
    /// The report column captions.
    QStringList ColumnCaptions() const;
    /// The width of report column `AColumn`.
    int ColumnWidth(int AColumn) const;

    TViewStyle GetViewStyle() const { return FViewStyle; }
    void SetViewStyle(TViewStyle Value);
    /// The icon sizes of the small-icon styles (small icons, list, report) and of large icons.
    void SetImageSizes(QSize ASmall, QSize ALarge);
    QSize SmallImageSize() const { return FSmall; }
    QSize LargeImageSize() const { return FLarge; }

    int RowCount() const;
    /// Removes every row.
    void Clear();
    /// Appends a row; its index.
    int AddRow(const QString& ACaption, void* AData);
    /// Appends rows with their contents, all at once: the views take them in one go, not
    /// row by row and cell by cell.
    void AddRows(const QList<TRow>& ARows);
    /// Inserts a row before row `ARow` (at the end when it is past the last); its index.
    int InsertRow(int ARow, const QString& ACaption, void* AData);
    /// Removes row `ARow`.
    void RemoveRow(int ARow);
    QString Caption(int ARow) const;
    void* Data(int ARow) const;
    /// Replaces the row's sub-items (the cells after the caption).
    void SetSubItems(int ARow, const QStringList& AItems);
    QStringList SubItems(int ARow) const;
    /// The row's image; a null icon for none.
    void SetImage(int ARow, const QIcon& AIcon);
    QIcon Image(int ARow) const;
    /// The row that holds `AData`, or -1.
    int IndexOfData(const void* AData) const;

    /// The selected rows, in ascending order.
    QList<int> SelectedRows() const;
    int SelCount() const { return static_cast<int>(SelectedRows().size()); }
    /// Selects or deselects row `ARow`, leaving the others as they are.
    void SetSelected(int ARow, bool ASelected);
    /// Deselects every row.
    void ClearSelection();

    /// The view showing the rows in the current style.
    QAbstractItemView* CurrentView() const;

signals:
    /// The selection changed.
    void SelectionChanged();
    /// A row was double-clicked.
    void DoubleClicked();
    /// The right mouse button was released over the list at `AGlobalPos`.
    void RightClicked(QPoint AGlobalPos);

private:
    void ApplyImageSize();

    TTaskListModel* FModel;
    QTreeView* FReport;
    QListView* FIcons;
    QItemSelectionModel* FSelection;
    TViewStyle FViewStyle = vsReport;
    QSize FSmall{16, 16};
    QSize FLarge{32, 32};
};
