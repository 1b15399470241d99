#include "Gen2TaskDefinition.h"

#include "Gen2Actions.h"
#include "Gen2DefinitionParts.h"
#include "Gen2Session.h"
#include "Gen2Triggers.h"
#include "gen2/TaskDocumentCodec.h"

using namespace Gen2;

namespace {

HRESULT NotOurs(const char* what)
{
    return Fail(E_INVALIDARG, QStringLiteral("The %1 object does not come from this service's client.").arg(QLatin1String(what)));
}

} // namespace

Gen2TaskDefinition::Gen2TaskDefinition(const TaskDocument& doc) : m_model(std::make_shared<DefinitionModel>(doc)) {}

HRESULT Gen2TaskDefinition::get_RegistrationInfo(IRegistrationInfo** pp) { return OutObject(pp, Gen2RegistrationInfo::Make(m_model)); }

HRESULT Gen2TaskDefinition::put_RegistrationInfo(IRegistrationInfo* p)
{
    if (!p) return E_POINTER;
    const auto* ours = dynamic_cast<Gen2RegistrationInfo*>(p);
    if (!ours) return NotOurs("registration information");
    m_model->Doc().registrationInfo = ours->Data();
    return S_OK;
}

HRESULT Gen2TaskDefinition::get_Triggers(ITriggerCollection** pp) { return OutObject(pp, Gen2TriggerCollection::Make(m_model)); }

HRESULT Gen2TaskDefinition::put_Triggers(ITriggerCollection* p)
{
    if (!p) return E_POINTER;
    const auto* ours = dynamic_cast<Gen2TriggerCollection*>(p);
    if (!ours) return NotOurs("trigger collection");
    m_model->triggers = ours->CopyTriggers();
    return S_OK;
}

HRESULT Gen2TaskDefinition::get_Settings(ITaskSettings** pp) { return OutObject(pp, Gen2TaskSettings::Make(m_model)); }

HRESULT Gen2TaskDefinition::put_Settings(ITaskSettings* p)
{
    if (!p) return E_POINTER;
    const auto* ours = dynamic_cast<Gen2TaskSettings*>(p);
    if (!ours) return NotOurs("settings");
    m_model->Doc().settings = ours->Data();
    return S_OK;
}

HRESULT Gen2TaskDefinition::get_Data(QString* p) { return Out(p, m_model->Doc().data); }
HRESULT Gen2TaskDefinition::put_Data(const QString& data) { m_model->Doc().data = data; return S_OK; }

HRESULT Gen2TaskDefinition::get_Principal(IPrincipal** pp) { return OutObject(pp, Gen2Principal::Make(m_model)); }

HRESULT Gen2TaskDefinition::put_Principal(IPrincipal* p)
{
    if (!p) return E_POINTER;
    const auto* ours = dynamic_cast<Gen2Principal*>(p);
    if (!ours) return NotOurs("principal");
    m_model->Doc().principal = ours->Data();
    return S_OK;
}

HRESULT Gen2TaskDefinition::get_Actions(IActionCollection** pp) { return OutObject(pp, Gen2ActionCollection::Make(m_model)); }

HRESULT Gen2TaskDefinition::put_Actions(IActionCollection* p)
{
    if (!p) return E_POINTER;
    const auto* ours = dynamic_cast<Gen2ActionCollection*>(p);
    if (!ours) return NotOurs("action collection");
    m_model->Actions() = ours->CopyActions();
    m_model->Doc().actionsContext = ours->Context();
    return S_OK;
}

HRESULT Gen2TaskDefinition::get_XmlText(QString* p)
{
    if (!p) return E_POINTER;
    *p = QString::fromUtf8(TaskDocumentCodec::Encode(m_model->ToDocument()));
    return S_OK;
}

HRESULT Gen2TaskDefinition::put_XmlText(const QString& xml)
{
    ValueProblem problem;
    const auto doc = TaskDocumentCodec::Decode(xml.toUtf8(), &problem);
    if (!doc) return Fail(problem);
    m_model->Assign(*doc);
    return S_OK;
}
