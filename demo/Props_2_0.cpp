#include "Props_2_0.h"

#include "Exceptions.h"

bool EditTask20Properties(TTaskItem*)
{
    throw Exception(QStringLiteral("The 2.0 properties form is not available yet."));
}
