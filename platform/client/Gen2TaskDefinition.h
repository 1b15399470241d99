#pragma once
// A client-side definition: edited in memory, sent to the service as a document when it is registered.

#include "Gen2DefinitionModel.h"
#include "TaskService2.h"

#include <memory>

class Gen2TaskDefinition : public ComObject<Gen2TaskDefinition, ITaskDefinition> {
public:
    /// A definition holding `doc` (a new one has the service's defaults).
    explicit Gen2TaskDefinition(const TaskDocument& doc = {});
    /// A definition over `model` (one of a stored document, say).
    explicit Gen2TaskDefinition(std::shared_ptr<DefinitionModel> model) : m_model(std::move(model)) {}

    /// The whole definition as it stands.
    TaskDocument Document() const { return m_model->ToDocument(); }

    HRESULT get_RegistrationInfo(IRegistrationInfo** pp) override;
    HRESULT put_RegistrationInfo(IRegistrationInfo* p) override;
    HRESULT get_Triggers(ITriggerCollection** pp) override;
    HRESULT put_Triggers(ITriggerCollection* p) override;
    HRESULT get_Settings(ITaskSettings** pp) override;
    HRESULT put_Settings(ITaskSettings* p) override;
    HRESULT get_Data(QString* p) override;
    HRESULT put_Data(const QString& data) override;
    HRESULT get_Principal(IPrincipal** pp) override;
    HRESULT put_Principal(IPrincipal* p) override;
    HRESULT get_Actions(IActionCollection** pp) override;
    HRESULT put_Actions(IActionCollection* p) override;
    HRESULT get_XmlText(QString* p) override;
    HRESULT put_XmlText(const QString& xml) override;

private:
    std::shared_ptr<DefinitionModel> m_model;
};
