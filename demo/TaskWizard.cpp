#include "TaskWizard.h"

#include "Exceptions.h"

bool ExecuteNewTaskWizard(TTaskScheduler*, TTaskItem*& ATask)
{
    ATask = nullptr;
    throw Exception(QStringLiteral("The new task wizard is not available yet."));
}
