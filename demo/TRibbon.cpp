#include "TRibbon.h"

#include <QAction>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>

TRibbonGroup::TRibbonGroup(const QString& ACaption, QWidget* AParent)
    : QFrame(AParent), FButtons(new QGridLayout), FCaption(new QLabel(ACaption, this))
{
    setFrameShape(QFrame::StyledPanel);
    FButtons->setContentsMargins(2, 2, 2, 0);
    FButtons->setSpacing(2);
    FCaption->setAlignment(Qt::AlignHCenter);
    FCaption->setForegroundRole(QPalette::PlaceholderText);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(0);
    layout->addLayout(FButtons, 1);
    layout->addWidget(FCaption);
}

QString TRibbonGroup::Caption() const
{
    return FCaption->text();
}

QToolButton* TRibbonGroup::NewButton(Qt::ToolButtonStyle AStyle, int AIconSize)
{
    auto* button = new QToolButton(this);
    button->setToolButtonStyle(AStyle);
    button->setIconSize(QSize(AIconSize, AIconSize));
    button->setAutoRaise(true);
    return button;
}

void TRibbonGroup::FollowVisibility(QToolButton* AButton, QAction* AAction)
{
    // A tool button takes its action's text, icon and enabled state, but not whether it is
    // shown: a hidden command must not stay on the ribbon greyed out.
    AButton->setDefaultAction(AAction);
    AButton->setVisible(AAction->isVisible());
    connect(AAction, &QAction::visibleChanged, AButton, [AButton, AAction] { AButton->setVisible(AAction->isVisible()); });
}

QToolButton* TRibbonGroup::AddLarge(QAction* AAction)
{
    QToolButton* button = NewButton(Qt::ToolButtonTextUnderIcon, 32);
    FollowVisibility(button, AAction);
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    FButtons->addWidget(button, 0, FColumn++, 2, 1);
    FItemNames << QStringLiteral("L:") + AAction->objectName();
    return button;
}

QToolButton* TRibbonGroup::AddLargeDropDown(const QString& ACaption, const QList<QAction*>& AActions)
{
    QToolButton* button = NewButton(Qt::ToolButtonTextUnderIcon, 32);
    auto* menu = new QMenu(button);
    menu->addActions(AActions);
    button->setText(ACaption);
    if (!AActions.isEmpty()) button->setIcon(AActions.constFirst()->icon());
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    FButtons->addWidget(button, 0, FColumn++, 2, 1);
    QStringList offered;
    for (const QAction* action : AActions) offered << action->objectName();
    FItemNames << QStringLiteral("D:%1(%2)").arg(ACaption, offered.join(QLatin1Char(',')));
    return button;
}

void TRibbonGroup::AddSmallRows(const QList<QList<QAction*>>& ARows)
{
    int widest = 0;
    for (int row = 0; row < ARows.size(); ++row) {
        for (int i = 0; i < ARows.at(row).size(); ++i) {
            QToolButton* button = NewButton(Qt::ToolButtonTextBesideIcon, 16);
            FollowVisibility(button, ARows.at(row).at(i));
            button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
            FButtons->addWidget(button, row, FColumn + i);
            FItemNames << QStringLiteral("S%1:%2").arg(row).arg(ARows.at(row).at(i)->objectName());
        }
        widest = qMax(widest, static_cast<int>(ARows.at(row).size()));
    }
    FColumn += widest;
}

void TRibbonGroup::AddSeparator()
{
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    FButtons->addWidget(line, 0, FColumn++, 2, 1);
    FItemNames << QStringLiteral("-");
}

QStringList TRibbonGroup::ItemNames() const
{
    return FItemNames;
}

TRibbon::TRibbon(QWidget* AParent)
    : QTabWidget(AParent), FApplicationButton(new QToolButton(this)), FCaption(new QLabel(this))
{
    FApplicationButton->setObjectName(QStringLiteral("btnApplicationMenu"));
    FApplicationButton->setPopupMode(QToolButton::InstantPopup);
    FApplicationButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    setCornerWidget(FApplicationButton, Qt::TopLeftCorner);
    QFont bold = FCaption->font();
    bold.setBold(true);
    FCaption->setFont(bold);
    FCaption->setContentsMargins(8, 0, 8, 0);
    setCornerWidget(FCaption, Qt::TopRightCorner);
    setDocumentMode(true);
}

int TRibbon::AddTab(const QString& ACaption)
{
    auto* page = new QWidget(this);
    auto* layout = new QHBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(4);
    layout->addStretch(1);
    return addTab(page, ACaption);
}

TRibbonGroup* TRibbon::AddGroup(int ATab, const QString& ACaption)
{
    QWidget* page = widget(ATab);
    auto* group = new TRibbonGroup(ACaption, page);
    auto* layout = static_cast<QHBoxLayout*>(page->layout());
    layout->insertWidget(layout->count() - 1, group);
    return group;
}

QList<TRibbonGroup*> TRibbon::Groups(int ATab) const
{
    QList<TRibbonGroup*> groups;
    QLayout* layout = widget(ATab)->layout();
    for (int i = 0; i < layout->count(); ++i) {
        if (auto* group = qobject_cast<TRibbonGroup*>(layout->itemAt(i)->widget())) groups << group;
    }
    return groups;
}

void TRibbon::SetApplicationMenu(const QString& ACaption, QMenu* AMenu)
{
    FApplicationButton->setText(ACaption);
    FApplicationButton->setMenu(AMenu);
}

void TRibbon::SetCaption(const QString& ACaption)
{
    FCaption->setText(ACaption);
}

QString TRibbon::Caption() const
{
    return FCaption->text();
}
