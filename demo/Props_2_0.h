#pragma once
// The multi-page properties form of a 2.0 task: general, triggers, actions, conditions and
// settings, over the task item and the parts of its definition.

#include "ComBase.h"
#include "kvTaskTypes.h"

#include <QDialog>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>
#include <vector>

class IAction;
class IIdleSettings;
class INetworkSettings;
class ITaskSettings;
class QAbstractButton;
class QComboBox;

class QTreeWidgetItem;
class TActionRecord;
class TTaskItem;
class TTrigger;
class TUserPrompts;

namespace Ui {
class TfrmTask20Properties;
}

/// Edits the 2.0 task `ATask` in the multi-page properties form; true when the user pressed
/// OK and the changes were written and saved. Questions and messages go to `APrompts` (not
/// owned; null: the standard dialogs). Errors while reading the task propagate.
bool EditTask20Properties(TTaskItem* ATask, TUserPrompts* APrompts = nullptr);

/// The form. Some controls write into the task's definition as soon as they change; the rest
/// are written, and the definition registered, when OK is pressed. OK with input the form
/// cannot write names the field and keeps the form open; Cancel puts the definition back as
/// it was when the form opened, so nothing the form did reaches the task.
class TfrmTask20Properties : public QDialog {
    Q_OBJECT

public:
    /// An empty form for `ATask` (not owned). `APrompts` as for EditTask20Properties.
    explicit TfrmTask20Properties(TTaskItem* ATask, TUserPrompts* APrompts = nullptr, QWidget* AParent = nullptr);
    ~TfrmTask20Properties() override;

    /// Activates the task, remembers its definition for Cancel and fills the form.
    void Open();

    /// The task shown.
    TTaskItem* FEditingTask;
    /// The triggers whose rows the user deleted (the list only; the task owns the triggers).
    QList<TTrigger*> TriggersToDelete;
    /// The records of the actions whose rows the user deleted.
    std::vector<std::unique_ptr<TActionRecord>> ActionsToDelete;
    /// True while the form is being filled: the handlers then change no task data.
    bool BlockUpdates = false;
    /// The account or group chosen in the account dialog; empty: unchanged.
    QString FCurrUserOrGroupName;
    /// The password entered in the account dialog.
    QString FCurrPassword;

    // ---- reading --------------------------------------------------------------------------
    /// Fills every page from the task.
    void ReadTaskProperties();
    /// One row per trigger: kind, description, the task's status.
    void ReadTaskTriggers();
    /// One row per action of the definition, each with a record read from the action.
    void ReadTaskActions();
    /// Shows `ARecord`'s kind and details in `ARow`, which then carries the record.
    void ShowActionItem(TActionRecord* ARecord, QTreeWidgetItem* ARow);
    /// Removes every action row and frees its record.
    void ClearActionItems();

    // ---- writing on OK ----------------------------------------------------------------------
    /// Description, run level, logon type, hidden flag, compatibility (the account is set last, on OK).
    void SetGeneralSettings();
    /// The idle, power and network conditions.
    void ConfigureConditionsPage();
    /// The idle conditions (also written at once when one of them changes).
    void ConfigureIdleConditions();
    void ConfigurePowerConditions();
    void ConfigureNetworkCondition();
    /// Demand start, missed starts, restarts, time limits, expiry, instance policy.
    void ConfigureSettingsPage();
    /// Writes the changed actions, removes the deleted ones and inserts the new ones.
    void ConfigureActionsInTask();
    /// Removes the actions of the deleted rows, from the highest index to the lowest.
    void DeleteRemovedActions();
    /// Removes the triggers of the deleted rows from the task.
    void DeleteRemovedTriggers();

    // ---- texts and platform ----------------------------------------------------------------
    /// The kind of a trigger as the list shows it.
    static QString TriggerTypeText(TTriggerType AType);
    /// A task status as the list shows it.
    static QString TaskStatusText(TTaskStatus AStatus);
    /// The kind of an action (the service's action type) as the list shows it.
    static QString ActionTypeText(qint32 AType);
    /// Replaces `AStrings` with the names of the network profiles this machine knows: those of
    /// the system's connection manager, or where there is none, those listed in the machine
    /// registry.
    static void GetNetworkProfileNames(QStringList& AStrings);
    /// Puts the elevation shield on `AButton`.
    static void SetShieldIcon(QAbstractButton* AButton);

    /// The machine registry key that lists the known network profiles, one sub-key each with
    /// the string value "ProfileName".
    static const QString NetworkProfilesKey;

    // ---- handlers --------------------------------------------------------------------------
    void ckbStartOnIdleOnlyClick();
    void ckbStopIfCeasesIdleClick();
    void IdleConditionChange();
    void ckbStartOnACPowerClick();
    void ckbStartOnlyOnNetworkClick();
    void ckbRestartIfFailsClick();
    void ckbStopIfRunningLongerClick();
    void ckbDeleteNonScheduledClick();
    void rbRunWhetherLoggedOrNoClick();
    void rbRunOnLoggedOnClick();
    void ckbRunWithHighestClick();
    void ckbTaskHiddenClick();
    void cbConfigureTaskForChange();
    void memDescriptionChange();
    void btAdminRequiredClick();
    void Button1Click();
    void acActionNewExecute();
    void acActionEditExecute();
    void acActionDeleteExecute();
    void acTriggerDeleteExecute();
    /// Enables "Edit..." and "Delete" of both lists by their selection.
    void UpdateActions();

public slots:
    /// OK: checks the input, writes it and registers the task; stays open on a problem.
    void accept() override;
    /// Cancel: puts the definition back as it was when the form opened.
    void reject() override;

private:
    /// The text of a problem with the input that keeps OK from writing, naming its field; empty when none.
    QString InputProblem() const;
    /// The OK-time steps, in order, then the registration.
    void WriteAndSave();
    /// Sets the account chosen with "Change User or Group..." (which registers the task);
    /// false when none was chosen.
    bool SetChosenAccount();
    /// The logon type the two radio buttons stand for, unless the task's is one they do not show.
    void SetLogonTypeFromButtons();
    /// The record of action row `ARow`.
    TActionRecord* RecordOf(QTreeWidgetItem* ARow) const;
    /// Selects the item of `AList` denoting `AValue`; with none, shows the value in the empty list.
    static void SelectDuration(QComboBox* AList, const QString& AValue, bool AIncludesZero);
    /// The duration of `AList`'s selection; nullopt when nothing is selected (keep the stored value).
    static std::optional<QString> ChosenDuration(const QComboBox* AList);
    /// The run settings, idle settings and network settings of the definition.
    ComPtr<ITaskSettings> Settings() const;
    ComPtr<IIdleSettings> IdleSettings() const;
    ComPtr<INetworkSettings> NetworkSettings() const;
    /// Runs a handler and shows what it raises.
    void Guarded(void (TfrmTask20Properties::*AHandler)());
    /// Connects the controls to their handlers.
    void ConnectHandlers();

    std::unique_ptr<Ui::TfrmTask20Properties> ui;
    std::unique_ptr<TUserPrompts> FOwnPrompts;
    TUserPrompts* FPrompts;
    QString FSavedDefinition;
    bool FSaved = false;
    bool FUseSystemAccount = false;
};
