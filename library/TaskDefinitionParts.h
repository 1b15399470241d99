#pragma once
// Reaching the parts of a 2.0 task definition. Every fetch raises the service error when the
// call fails, and a cast to an action kind the action does not have raises the interface-cast
// error, so callers read as a straight line of steps.

#include "Exceptions.h"
#include "TaskService2.h"

/// The definition's run settings.
inline ComPtr<ITaskSettings> SettingsOf(ITaskDefinition* definition)
{
    ComPtr<ITaskSettings> settings;
    OleCheck(definition->get_Settings(settings.Put()));
    return settings;
}

/// The idle conditions of the run settings.
inline ComPtr<IIdleSettings> IdleSettingsOf(ITaskSettings* settings)
{
    ComPtr<IIdleSettings> idle;
    OleCheck(settings->get_IdleSettings(idle.Put()));
    return idle;
}

/// The account the definition runs under.
inline ComPtr<IPrincipal> PrincipalOf(ITaskDefinition* definition)
{
    ComPtr<IPrincipal> principal;
    OleCheck(definition->get_Principal(principal.Put()));
    return principal;
}

/// The principal's logon type.
inline TASK_LOGON_TYPE LogonTypeOf(IPrincipal* principal)
{
    TASK_LOGON_TYPE logonType = TASK_LOGON_NONE;
    OleCheck(principal->get_LogonType(&logonType));
    return logonType;
}

/// The definition's actions.
inline ComPtr<IActionCollection> ActionsOf(ITaskDefinition* definition)
{
    ComPtr<IActionCollection> actions;
    OleCheck(definition->get_Actions(actions.Put()));
    return actions;
}

/// The number of actions.
inline LONG ActionCountOf(IActionCollection* actions)
{
    LONG count = 0;
    OleCheck(actions->get_Count(&count));
    return count;
}

/// Action `index`, counted from 1; an index outside the collection is the service's error.
inline ComPtr<IAction> ActionAt(IActionCollection* actions, LONG index)
{
    ComPtr<IAction> action;
    OleCheck(actions->get_Item(index, action.Put()));
    return action;
}

/// `action` as the kind's interface I; an action of another kind raises "Interface not supported".
template <typename I>
ComPtr<I> ActionAs(const ComPtr<IAction>& action)
{
    ComPtr<I> typed;
    if (FAILED(action.As(typed)) || !typed) throw EIntfCastError();
    return typed;
}
