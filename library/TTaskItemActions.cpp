// The 2.0 actions of a task item: the action cursor, adding and removing actions, the
// e-mail and message properties of the action under the cursor, and the listing of the
// registered task's actions. A 1.0 task has no action collection.

#include "TTaskItem.h"

#include "TaskDefinitionParts.h"
#include "kvErrors.h"
#include "kvTask.h"

namespace {

// A text property of the action under the cursor `cursor`; a cursor of 0 or less names no
// action, so nothing is read or written.
template <typename I>
QString ReadActionText(ITaskDefinition* definition, qint32 cursor, HRESULT (I::*get)(QString*))
{
    QString value;
    if (cursor <= 0) return value;
    const ComPtr<I> action = ActionAs<I>(ActionAt(ActionsOf(definition).Get(), cursor));
    OleCheck((action.Get()->*get)(&value));
    return value;
}

template <typename I>
void WriteActionText(ITaskDefinition* definition, qint32 cursor, HRESULT (I::*put)(const QString&),
                     const QString& value)
{
    if (cursor <= 0) return;
    const ComPtr<I> action = ActionAs<I>(ActionAt(ActionsOf(definition).Get(), cursor));
    OleCheck((action.Get()->*put)(value));
}

} // namespace

qint32 TTaskItem::GetActionsCount() const
{
    if (!IsVista()) return 0;
    CheckDefinition();
    return ActionCountOf(ActionsOf(FTaskDefinition.Get()).Get());
}

ComPtr<IAction> TTaskItem::InsertAction(const qint32 AType)
{
    if (!IsVista()) return nullptr;
    CheckDefinition();
    ComPtr<IAction> action;
    OleCheck(ActionsOf(FTaskDefinition.Get())->Create(static_cast<TASK_ACTION_TYPE>(AType), action.Put()));
    return action;
}

void TTaskItem::RemoveAction(const qint32 AIndex)
{
    if (!IsVista()) return;
    CheckDefinition();
    const ComPtr<IActionCollection> actions = ActionsOf(FTaskDefinition.Get());
    if (AIndex >= 1 && AIndex <= ActionCountOf(actions.Get())) OleCheck(actions->Remove(VARIANT::I4(AIndex)));
}

void TTaskItem::GetTasksLists(QStringList& AList1, QStringList& AList2) const
{
    TIntegerArray types;
    GetTasksLists(AList1, AList2, types);
}

void TTaskItem::GetTasksLists(QStringList& AList1, QStringList& AList2, TIntegerArray& AActions) const
{
    const ComPtr<IRegisteredTask> registered = TaskAs<IRegisteredTask>();
    // The registered task's own definition: edits not yet saved are deliberately not listed.
    ComPtr<ITaskDefinition> definition;
    OleCheck(registered->get_Definition(definition.Put()));
    const ComPtr<IActionCollection> actions = ActionsOf(definition.Get());
    const LONG count = ActionCountOf(actions.Get());
    // Only now that the actions can be listed is the caller's array replaced: a task that is
    // not activated (or not a registered task) leaves it as it was.
    AActions.clear();
    for (LONG i = 1; i <= count; ++i) {
        const ComPtr<IAction> action = ActionAt(actions.Get(), i);
        TASK_ACTION_TYPE type = TASK_ACTION_EXEC;
        OleCheck(action->get_Type(&type));
        AActions.append(type);
        QString detail;
        switch (type) {
        case TASK_ACTION_EXEC:
            OleCheck(ActionAs<IExecAction>(action)->get_Path(&detail));
            AList2.append(SActionExec);
            break;
        case TASK_ACTION_COM_HANDLER:
            OleCheck(ActionAs<IComHandlerAction>(action)->get_ClassId(&detail));
            AList2.append(SActionComObject);
            break;
        case TASK_ACTION_SEND_EMAIL: {
            const ComPtr<IEmailAction> mail = ActionAs<IEmailAction>(action);
            QString to;
            QString subject;
            OleCheck(mail->get_To(&to));
            OleCheck(mail->get_Subject(&subject));
            detail = to + QLatin1Char(' ') + subject;
            AList2.append(SActionSendEmail);
            break;
        }
        case TASK_ACTION_SHOW_MESSAGE:
            OleCheck(ActionAs<IShowMessageAction>(action)->get_Title(&detail));
            AList2.append(SActionShowMessage);
            break;
        default:
            continue;
        }
        AList1.append(detail);
    }
}

// Reads answer empty in 1.0; writes make no generation test, so a 1.0 item, which has no
// definition, raises the not-activated error.

QString TTaskItem::GetMailSendTo() const
{
    if (!IsVista()) return {};
    CheckDefinition();
    return ReadActionText(FTaskDefinition.Get(), CurrentTask, &IEmailAction::get_To);
}

void TTaskItem::SetMailSendTo(const QString& Value)
{
    CheckDefinition();
    WriteActionText(FTaskDefinition.Get(), CurrentTask, &IEmailAction::put_To, Value);
}

QString TTaskItem::GetMailSendFrom() const
{
    if (!IsVista()) return {};
    CheckDefinition();
    return ReadActionText(FTaskDefinition.Get(), CurrentTask, &IEmailAction::get_From);
}

void TTaskItem::SetMailSendFrom(const QString& Value)
{
    CheckDefinition();
    WriteActionText(FTaskDefinition.Get(), CurrentTask, &IEmailAction::put_From, Value);
}

QString TTaskItem::GetMailSubject() const
{
    if (!IsVista()) return {};
    CheckDefinition();
    return ReadActionText(FTaskDefinition.Get(), CurrentTask, &IEmailAction::get_Subject);
}

void TTaskItem::SetMailSubject(const QString& Value)
{
    CheckDefinition();
    WriteActionText(FTaskDefinition.Get(), CurrentTask, &IEmailAction::put_Subject, Value);
}

QString TTaskItem::GetMailContent() const
{
    if (!IsVista()) return {};
    CheckDefinition();
    return ReadActionText(FTaskDefinition.Get(), CurrentTask, &IEmailAction::get_Body);
}

void TTaskItem::SetMailContent(const QString& Value)
{
    CheckDefinition();
    WriteActionText(FTaskDefinition.Get(), CurrentTask, &IEmailAction::put_Body, Value);
}

QString TTaskItem::GetMailServer() const
{
    if (!IsVista()) return {};
    CheckDefinition();
    return ReadActionText(FTaskDefinition.Get(), CurrentTask, &IEmailAction::get_Server);
}

void TTaskItem::SetMailServer(const QString& Value)
{
    CheckDefinition();
    WriteActionText(FTaskDefinition.Get(), CurrentTask, &IEmailAction::put_Server, Value);
}

QString TTaskItem::GetMessTitle() const
{
    if (!IsVista()) return {};
    CheckDefinition();
    return ReadActionText(FTaskDefinition.Get(), CurrentTask, &IShowMessageAction::get_Title);
}

void TTaskItem::SetMessTitle(const QString& Value)
{
    CheckDefinition();
    WriteActionText(FTaskDefinition.Get(), CurrentTask, &IShowMessageAction::put_Title, Value);
}

QString TTaskItem::GetMessText() const
{
    if (!IsVista()) return {};
    CheckDefinition();
    return ReadActionText(FTaskDefinition.Get(), CurrentTask, &IShowMessageAction::get_MessageBody);
}

void TTaskItem::SetMessText(const QString& Value)
{
    CheckDefinition();
    WriteActionText(FTaskDefinition.Get(), CurrentTask, &IShowMessageAction::put_MessageBody, Value);
}
