#pragma once
// In-memory copies of one action of a task's definition: a program, an e-mail or a message.
// The 2.0 properties form keeps one per row of its action list and writes them back to the
// service's action objects when the user confirms.

#include "ComBase.h"
#include "TaskService2.h"

#include <QString>
#include <QStringList>

/// One action of a task: where it was read from and what kind it is.
class TActionRecord {
public:
    virtual ~TActionRecord() = default;
    TActionRecord(const TActionRecord&) = delete;
    TActionRecord& operator=(const TActionRecord&) = delete;

    /// Copies the action's data into the record; raises the service error on a failed call
    /// and "Interface not supported" when the action is of another kind.
    virtual void ReadFromAction(IAction* AAction) = 0;
    /// Copies the record's data into the action; raises as `ReadFromAction` does.
    virtual void WriteToAction(IAction* AAction) = 0;

    /// 1-based position of the action in the task's collection when it was read; -1 when it
    /// was added in the form.
    qint32 ActionIndex = -1;
    /// The service's action type, fixed by the derived class.
    const TASK_ACTION_TYPE type_;
    /// The service's action object the record was read from or inserted as; null when the
    /// record is not in the task yet. Holding it keeps the object alive.
    ComPtr<IAction> OriginalAction;

protected:
    explicit TActionRecord(TASK_ACTION_TYPE AType) : type_(AType) {}
};

/// A program to start.
class TExecActionRecord : public TActionRecord {
public:
    TExecActionRecord() : TActionRecord(TASK_ACTION_EXEC) {}
    /// Reads `Path`, `Arguments` and `WorkingDirectory`.
    void ReadFromAction(IAction* AAction) override;
    /// Writes `Path`, `Arguments` and `WorkingDirectory`, in this order.
    void WriteToAction(IAction* AAction) override;

    QString Path;
    QString Arguments;
    QString WorkingDirectory;
};

/// An e-mail to send. Only sender, recipients, subject, body and server travel back to the
/// service; the other fields are never filled or written, and the attachments are read only,
/// so writing a record back leaves them as the service has them.
class TEmailActionRecord : public TActionRecord {
public:
    TEmailActionRecord() : TActionRecord(TASK_ACTION_SEND_EMAIL) {}
    /// Reads `From`, `To_`, `Subject`, `Body`, `Attachments` and `Server`, in this order.
    void ReadFromAction(IAction* AAction) override;
    /// Writes `From`, `To_`, `Subject`, `Body` and `Server`, in this order.
    void WriteToAction(IAction* AAction) override;

    QString Server;
    QString Subject;
    QString To_;
    QString Cc;
    QString Bcc;
    QString ReplyTo;
    QString From;
    QStringList HeaderFields;
    QString Body;
    QStringList Attachments;
};

/// A message to show.
class TShowMessageActionRecord : public TActionRecord {
public:
    TShowMessageActionRecord() : TActionRecord(TASK_ACTION_SHOW_MESSAGE) {}
    /// Reads `MessageBody`, then `Title`.
    void ReadFromAction(IAction* AAction) override;
    /// Writes `MessageBody`, then `Title`.
    void WriteToAction(IAction* AAction) override;

    QString Title;
    QString MessageBody;
};
