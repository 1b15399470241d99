#pragma once
// The new task wizard: creates one task with one trigger, page by page.

#include "kvTaskTypes.h"

#include <QDialog>
#include <QString>
#include <memory>

class QAbstractButton;
class TTaskItem;
class TTaskScheduler;
class TUserPrompts;

namespace Ui {
class TNewTaskWizard;
}

/// The modal wizard "Scheduled task wizard". Its pages (`pcWizard`) are, in order,
/// `tsStartPage`, `tsCustomData`, `tsTaskName`, `tsTriggerDetails`, `tsAccountInfo` and
/// `tsFinish`. The task it builds lives in the scheduler's list and reaches the service only
/// when "&Finish" saves it; until then Back and Cancel drop it by reloading the list.
class TNewTaskWizard : public QDialog {
    Q_OBJECT

public:
    /// The wizard's pages, in order.
    enum TPage { pgStart, pgCustomData, pgTaskName, pgTriggerDetails, pgAccountInfo, pgFinish };

    /// Builds the form with its defaults. Questions and messages go to `APrompts` (not owned;
    /// null: the standard dialogs).
    explicit TNewTaskWizard(TUserPrompts* APrompts = nullptr, QWidget* AParent = nullptr);
    ~TNewTaskWizard() override;

    /// Sets the connection the task is made in and fits the form to its generation: 2.0 hides
    /// "&Advanced...", 1.0 keeps the first six kinds only. Then updates the buttons.
    void SetTaskScheduler(TTaskScheduler* AScheduler);
    /// The task being built or saved; null until the task-name page is passed.
    TTaskItem* GetTask() const { return FTask; }
    /// The page shown.
    TPage CurrentPage() const;
    /// The kind the controls choose now (list entry, and "T&he" for a monthly one).
    TTriggerType SelectedTriggerType() const;

    /// Drops the task being built: reloads the scheduler's list, which frees the unsaved item
    /// and any unsaved change to a replaced task.
    void DiscardTask();

    /// The parameters a program action gets: the parameters edit's text, and when the program is
    /// this application itself the task's name after a space, so that its run mode knows which
    /// task ran. A name that the command line would split or unquote is quoted.
    static QString RunParameters(const QString& AApplication, const QString& AParameters, const QString& ATaskName);
    /// Whether `AType` is one of the kinds without time details (idle, start-up, logon, sessions).
    static bool IsEventKind(TTriggerType AType);

    // ---- handlers -----------------------------------------------------------------------
    /// "&Next >" / "&Finish".
    void btnNextClick();
    /// "< &Back".
    void btnBackClick();
    /// "&Advanced..." (1.0): the service's Schedule and Settings pages of the task.
    void btnAdvancedClick();
    /// "&Browse...": picks the program.
    void btnBrowseClick();
    /// A kind was chosen: shows the user and connection groups that apply (2.0).
    void KindChanged();
    /// An action type was chosen (2.0): its panel replaces the chooser.
    void ActionTypeClick(QAbstractButton* AButton);
    /// Enables "&Next >" for the page's input; also run whenever the application is idle.
    void UpdateNextEnabled();
    /// Back's state, Next's caption and "Run with highest privileges".
    void UpdateButtons();

private:
    /// Runs a button's work; a library error is reported and leaves the page as it was.
    template <typename F>
    void Guarded(F AHandler);
    void ShowPage(int APage);
    bool Vista() const;
    /// The Next steps of each page; false to stay.
    bool NextFromCustomData();
    bool NextFromTaskName(int& ASkip);
    bool NextFromTriggerDetails();
    bool NextFromAccountInfo();
    /// Finds or makes the task of the typed name with one trigger of `FTriggerType` and fills
    /// its action, comment and creator. Leaves `FTask` null when the user keeps an existing task.
    void BuildTask();
    /// 2.0: asks the service, without registering, whether it takes a task of `AName` (new
    /// definition) or the account (whole definition); refuses with the service's own words.
    bool ServiceAccepts(const QString& AName, const QString& AUser, const QString& APassword, int ALogonType);
    void FillActions();
    void FillTrigger();
    void RefreshFinishTexts();
    /// Saves the task: 2.0 with the account of the account page (registering it), then
    /// `Deactivate(True)`. On failure the wizard stays on the Finish page.
    void SaveTask();
    int DayMask() const;
    int MonthMask() const;
    void ShowError(const QString& AText);

    std::unique_ptr<Ui::TNewTaskWizard> ui;
    std::unique_ptr<TUserPrompts> FOwnPrompts;
    TUserPrompts* FPrompts;
    TTaskItem* FTask = nullptr;
    TTaskScheduler* FTaskScheduler = nullptr;
    TTriggerType FTriggerType = ttOnce;
    /// The account page's input, given to a 2.0 task when it is saved.
    QString FAccountName;
    QString FPassword;
};

/// Runs the wizard modally in `AScheduler`: true exactly when the user finished and the task
/// was saved, which `ATask` then holds (null otherwise). Questions and messages go to
/// `APrompts` (null: the standard dialogs).
bool ExecuteNewTaskWizard(TTaskScheduler* AScheduler, TTaskItem*& ATask, TUserPrompts* APrompts = nullptr,
                          QWidget* AParent = nullptr);
