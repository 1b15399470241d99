#include "TActionRecord.h"

#include "TaskDefinitionParts.h"

namespace {
template <typename I>
ComPtr<I> Cast(IAction* AAction)
{
    return ActionAs<I>(ComPtr<IAction>(AAction));
}
} // namespace

void TExecActionRecord::ReadFromAction(IAction* AAction)
{
    const ComPtr<IExecAction> exec = Cast<IExecAction>(AAction);
    OleCheck(exec->get_Path(&Path));
    OleCheck(exec->get_Arguments(&Arguments));
    OleCheck(exec->get_WorkingDirectory(&WorkingDirectory));
}

void TExecActionRecord::WriteToAction(IAction* AAction)
{
    const ComPtr<IExecAction> exec = Cast<IExecAction>(AAction);
    OleCheck(exec->put_Path(Path));
    OleCheck(exec->put_Arguments(Arguments));
    OleCheck(exec->put_WorkingDirectory(WorkingDirectory));
}

void TEmailActionRecord::ReadFromAction(IAction* AAction)
{
    const ComPtr<IEmailAction> mail = Cast<IEmailAction>(AAction);
    OleCheck(mail->get_From(&From));
    OleCheck(mail->get_To(&To_));
    OleCheck(mail->get_Subject(&Subject));
    OleCheck(mail->get_Body(&Body));
    QStringList attachments;
    OleCheck(mail->get_Attachments(&attachments));
    Attachments = attachments;
    OleCheck(mail->get_Server(&Server));
}

void TEmailActionRecord::WriteToAction(IAction* AAction)
{
    const ComPtr<IEmailAction> mail = Cast<IEmailAction>(AAction);
    OleCheck(mail->put_From(From));
    OleCheck(mail->put_To(To_));
    OleCheck(mail->put_Subject(Subject));
    OleCheck(mail->put_Body(Body));
    OleCheck(mail->put_Server(Server));
}

void TShowMessageActionRecord::ReadFromAction(IAction* AAction)
{
    const ComPtr<IShowMessageAction> message = Cast<IShowMessageAction>(AAction);
    OleCheck(message->get_MessageBody(&MessageBody));
    OleCheck(message->get_Title(&Title));
}

void TShowMessageActionRecord::WriteToAction(IAction* AAction)
{
    const ComPtr<IShowMessageAction> message = Cast<IShowMessageAction>(AAction);
    OleCheck(message->put_MessageBody(MessageBody));
    OleCheck(message->put_Title(Title));
}
