#include "TaskPropertyPage.h"

#include "ResultCodes.h"

TaskPropertyPage::TaskPropertyPage(ITask* task, bool persistChanges, QWidget* parent)
    : QWidget(parent), m_task(task), m_persist(persistChanges)
{
}

HRESULT TaskPropertyPage::Apply()
{
    if (const HRESULT hr = WriteTask(); FAILED(hr)) return hr;
    if (!m_persist) return S_OK;
    ComPtr<IPersistFile> file;
    if (const HRESULT hr = m_task.As(file); FAILED(hr)) return hr;
    if (file->IsDirty() != S_OK) return S_OK;
    return file->Save(nullptr, 1);
}
