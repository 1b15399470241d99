#include "Props.h"

#include "Exceptions.h"

bool ShowTaskProperties(TTaskItem*)
{
    throw Exception(QStringLiteral("The classic properties dialog is not available yet."));
}
