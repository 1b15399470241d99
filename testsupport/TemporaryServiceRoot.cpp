#include "TemporaryServiceRoot.h"

#include <QtGlobal>

TemporaryServiceRoot::TemporaryServiceRoot()
    : m_previous(qgetenv("TASKSCHEDULER_HOME")), m_hadPrevious(qEnvironmentVariableIsSet("TASKSCHEDULER_HOME"))
{
    qputenv("TASKSCHEDULER_HOME", m_dir.path().toLocal8Bit());
}

TemporaryServiceRoot::~TemporaryServiceRoot()
{
    if (m_hadPrevious)
        qputenv("TASKSCHEDULER_HOME", m_previous);
    else
        qunsetenv("TASKSCHEDULER_HOME");
}
