#pragma once
// The ribbon: tabs of captioned groups of large and small command buttons, with an
// application menu button before the first tab.

#include <QFrame>
#include <QList>
#include <QStringList>
#include <QTabWidget>

class QAction;
class QGridLayout;
class QLabel;
class QMenu;
class QToolButton;

/// One captioned group of command buttons on a ribbon tab, laid out from left to right.
class TRibbonGroup : public QFrame {
    Q_OBJECT

public:
    TRibbonGroup(const QString& ACaption, QWidget* AParent);

    /// The group's caption, shown below its buttons.
    QString Caption() const;
    /// A large button (icon above the text) for `AAction`.
    QToolButton* AddLarge(QAction* AAction);
    /// A large button `ACaption` whose menu offers `AActions`.
    QToolButton* AddLargeDropDown(const QString& ACaption, const QList<QAction*>& AActions);
    /// Small buttons (icon beside the text) for `ARows`, one row of the group per list.
    void AddSmallRows(const QList<QList<QAction*>>& ARows);
    /// A vertical line between the buttons before and after it.
    void AddSeparator();

    /// The group's items in the order they were added: "L:name" for a large button of the
    /// action `name`, "S<row>:name" for a small one in that row, "-" for a separator and
    /// "D:caption(name,name)" for a large drop-down button and the actions it offers.
    QStringList ItemNames() const;

private:
    QToolButton* NewButton(Qt::ToolButtonStyle AStyle, int AIconSize);
    /// Makes `AAction` the default action of `AButton`, which is shown only while the action is.
    static void FollowVisibility(QToolButton* AButton, QAction* AAction);

    QGridLayout* FButtons;
    QLabel* FCaption;
    int FColumn = 0;
    QStringList FItemNames;
};

/// The ribbon of a main window.
class TRibbon : public QTabWidget {
    Q_OBJECT

public:
    explicit TRibbon(QWidget* AParent = nullptr);

    /// Appends a tab `ACaption`; its index.
    int AddTab(const QString& ACaption);
    /// Appends a group `ACaption` to tab `ATab`.
    TRibbonGroup* AddGroup(int ATab, const QString& ACaption);
    /// The groups of tab `ATab`, in order.
    QList<TRibbonGroup*> Groups(int ATab) const;
    /// The button before the tabs that opens `AMenu`, captioned `ACaption`.
    void SetApplicationMenu(const QString& ACaption, QMenu* AMenu);
    /// The application menu button.
    QToolButton* ApplicationMenuButton() const { return FApplicationButton; }
    /// The caption shown beside the tabs.
    void SetCaption(const QString& ACaption);
    QString Caption() const;

private:
    QToolButton* FApplicationButton;
    QLabel* FCaption;
};
