#include "Gen2Actions.h"

#include "Gen2NamedValues.h"
#include "Gen2Session.h"

using namespace Gen2;

namespace {

template <typename Derived, typename Kind>
class ActionObject : public ComObject<Derived, Kind> {
public:
    explicit ActionObject(std::shared_ptr<ActionData> data) : d(std::move(data)) {}

    void* QueryExtra(REFIID riid) { return riid == IAction::iid ? static_cast<IAction*>(this) : nullptr; }

    HRESULT get_Id(QString* p) override { return Out(p, d->id); }
    HRESULT put_Id(const QString& v) override { d->id = v; return S_OK; }
    HRESULT get_Type(TASK_ACTION_TYPE* p) override { return OutValue(p, d->type); }

protected:
    std::shared_ptr<ActionData> d;
};

class ExecAction : public ActionObject<ExecAction, IExecAction> {
public:
    using ActionObject::ActionObject;
    HRESULT get_Path(QString* p) override { return Out(p, d->path); }
    HRESULT put_Path(const QString& v) override { d->path = v; return S_OK; }
    HRESULT get_Arguments(QString* p) override { return Out(p, d->arguments); }
    HRESULT put_Arguments(const QString& v) override { d->arguments = v; return S_OK; }
    HRESULT get_WorkingDirectory(QString* p) override { return Out(p, d->workingDirectory); }
    HRESULT put_WorkingDirectory(const QString& v) override { d->workingDirectory = v; return S_OK; }
};

class EmailAction : public ActionObject<EmailAction, IEmailAction> {
public:
    using ActionObject::ActionObject;
    HRESULT get_Server(QString* p) override { return Out(p, d->server); }
    HRESULT put_Server(const QString& v) override { d->server = v; return S_OK; }
    HRESULT get_Subject(QString* p) override { return Out(p, d->subject); }
    HRESULT put_Subject(const QString& v) override { d->subject = v; return S_OK; }
    HRESULT get_To(QString* p) override { return Out(p, d->to); }
    HRESULT put_To(const QString& v) override { d->to = v; return S_OK; }
    HRESULT get_Cc(QString* p) override { return Out(p, d->cc); }
    HRESULT put_Cc(const QString& v) override { d->cc = v; return S_OK; }
    HRESULT get_Bcc(QString* p) override { return Out(p, d->bcc); }
    HRESULT put_Bcc(const QString& v) override { d->bcc = v; return S_OK; }
    HRESULT get_ReplyTo(QString* p) override { return Out(p, d->replyTo); }
    HRESULT put_ReplyTo(const QString& v) override { d->replyTo = v; return S_OK; }
    HRESULT get_From(QString* p) override { return Out(p, d->from); }
    HRESULT put_From(const QString& v) override { d->from = v; return S_OK; }
    HRESULT get_HeaderFields(ITaskNamedValueCollection** pp) override
    {
        return OutObject(pp, Gen2NamedValueCollection::Make(d, &d->headerFields));
    }
    HRESULT put_HeaderFields(ITaskNamedValueCollection* p) override { return Gen2NamedValueCollection::CopyFrom(p, &d->headerFields); }
    HRESULT get_Body(QString* p) override { return Out(p, d->body); }
    HRESULT put_Body(const QString& v) override { d->body = v; return S_OK; }
    HRESULT get_Attachments(QStringList* p) override
    {
        if (!p) return E_POINTER;
        *p = d->attachments;
        return S_OK;
    }
    HRESULT put_Attachments(const QStringList& v) override { d->attachments = v; return S_OK; }
};

class ShowMessageAction : public ActionObject<ShowMessageAction, IShowMessageAction> {
public:
    using ActionObject::ActionObject;
    HRESULT get_Title(QString* p) override { return Out(p, d->title); }
    HRESULT put_Title(const QString& v) override { d->title = v; return S_OK; }
    HRESULT get_MessageBody(QString* p) override { return Out(p, d->messageBody); }
    HRESULT put_MessageBody(const QString& v) override { d->messageBody = v; return S_OK; }
};

class ComHandlerAction : public ActionObject<ComHandlerAction, IComHandlerAction> {
public:
    using ActionObject::ActionObject;
    HRESULT get_ClassId(QString* p) override { return Out(p, d->classId); }
    HRESULT put_ClassId(const QString& v) override
    {
        if (!v.isEmpty() && !TaskValueRules::IsBracedGuid(v))
            return Fail(E_INVALIDARG, QStringLiteral("ClassId: \"%1\" is not a class identifier such as {6D2FD252-75C5-4F66-90BA-2A7D8CC3039F}.").arg(v));
        d->classId = v;
        return S_OK;
    }
    HRESULT get_Data(QString* p) override { return Out(p, d->data); }
    HRESULT put_Data(const QString& v) override { d->data = v; return S_OK; }
};

template <typename T>
ComPtr<IAction> As(ComPtr<T> object)
{
    return ComPtr<IAction>::Attach(static_cast<IAction*>(object.Detach()));
}

} // namespace

ComPtr<IAction> Gen2ActionCollection::MakeAction(std::shared_ptr<ActionData> data)
{
    switch (data->type) {
    case TASK_ACTION_EXEC: return As(ExecAction::Make(std::move(data)));
    case TASK_ACTION_COM_HANDLER: return As(ComHandlerAction::Make(std::move(data)));
    case TASK_ACTION_SEND_EMAIL: return As(EmailAction::Make(std::move(data)));
    case TASK_ACTION_SHOW_MESSAGE: return As(ShowMessageAction::Make(std::move(data)));
    default: return nullptr;
    }
}

HRESULT Gen2ActionCollection::get_Count(LONG* pCount)
{
    return OutValue(pCount, m_model->Actions().size());
}

HRESULT Gen2ActionCollection::get_Item(LONG index, IAction** ppAction)
{
    if (!ppAction) return E_POINTER;
    if (index < 1 || index > m_model->Actions().size())
        return Fail(E_INVALIDARG, QStringLiteral("There is no action %1; the task has %2.").arg(index).arg(m_model->Actions().size()));
    return OutObject(ppAction, MakeAction(m_model->Actions()[index - 1]));
}

HRESULT Gen2ActionCollection::Create(TASK_ACTION_TYPE type, IAction** ppAction)
{
    if (!ppAction) return E_POINTER;
    if (!TaskValueRules::IsActionType(type)) return Fail(TaskValueRules::RangeProblem(QStringLiteral("Action type"), type));
    if (m_model->Actions().size() >= TaskValueRules::MaxActions)
        return Fail(SCHED_E_TOO_MANY_NODES, QStringLiteral("A task holds at most %1 actions.").arg(TaskValueRules::MaxActions));
    auto data = std::make_shared<ActionData>();
    data->type = type;
    m_model->Actions().append(data);
    return OutObject(ppAction, MakeAction(data));
}

HRESULT Gen2ActionCollection::Remove(VARIANT index)
{
    auto& list = m_model->Actions();
    if (index.vt == VT_BSTR) {
        for (qsizetype i = 0; i < list.size(); ++i) {
            if (list[i]->id == index.bstrVal) {
                list.removeAt(i);
                return S_OK;
            }
        }
        return Fail(E_INVALIDARG, QStringLiteral("There is no action \"%1\".").arg(index.bstrVal));
    }
    if (index.vt != VT_I4) return Fail(E_INVALIDARG, QStringLiteral("An action is removed by its position or its identifier."));
    if (index.lVal < 1 || index.lVal > list.size())
        return Fail(E_INVALIDARG, QStringLiteral("There is no action %1; the task has %2.").arg(index.lVal).arg(list.size()));
    list.removeAt(index.lVal - 1);
    return S_OK;
}

HRESULT Gen2ActionCollection::Clear()
{
    m_model->Actions().clear();
    return S_OK;
}

HRESULT Gen2ActionCollection::get_Context(QString* pContext) { return Out(pContext, m_model->Doc().actionsContext); }
HRESULT Gen2ActionCollection::put_Context(const QString& context) { m_model->Doc().actionsContext = context; return S_OK; }

QList<std::shared_ptr<ActionData>> Gen2ActionCollection::CopyActions() const
{
    QList<std::shared_ptr<ActionData>> copy;
    for (const auto& a : m_model->Actions()) copy.append(std::make_shared<ActionData>(*a));
    return copy;
}
