#pragma once
// The actions of a client-side definition: the collection and one object per action kind
// (each answers IAction and its own kind's interface only).

#include "Gen2DefinitionModel.h"
#include "TaskService2.h"

#include <memory>

class Gen2ActionCollection : public ComObject<Gen2ActionCollection, IActionCollection> {
public:
    explicit Gen2ActionCollection(std::shared_ptr<DefinitionModel> model) : m_model(std::move(model)) {}

    HRESULT get_Count(LONG* pCount) override;
    HRESULT get_Item(LONG index, IAction** ppAction) override;
    HRESULT Create(TASK_ACTION_TYPE type, IAction** ppAction) override;
    HRESULT Remove(VARIANT index) override;
    HRESULT Clear() override;
    HRESULT get_Context(QString* pContext) override;
    HRESULT put_Context(const QString& context) override;

    /// Copies of the actions and the context, for another definition.
    QList<std::shared_ptr<ActionData>> CopyActions() const;
    QString Context() const { return m_model->Doc().actionsContext; }

    /// The object of an action's kind, as IAction.
    static ComPtr<IAction> MakeAction(std::shared_ptr<ActionData> data);

private:
    std::shared_ptr<DefinitionModel> m_model;
};
