#pragma once
// What a request to start a task becomes, decided from the task's instance policy and what of
// it runs or waits now. Kept apart from the runner, which carries the decision out, so that
// every combination can be checked without starting a process.

#include "catalog/RunnableTask.h"

/// The situation a start request meets.
struct StartSituation {
    bool enabled = true;
    /// The trigger's repetition, which the instance would belong to, is already over.
    bool repetitionOver = false;
    /// Instances of the task that run and have not ended.
    int live = 0;
    /// Starts of the task waiting for a running instance to end.
    int waiting = 0;
    InstancesPolicy policy = InstancesPolicy::IgnoreNew;
};

/// What the runner does with a start request.
enum class StartDecision {
    RefuseDisabled,   ///< the task is disabled: SCHED_E_TASK_DISABLED
    Drop,             ///< its repetition is over: nothing starts (S_FALSE)
    Launch,           ///< start an instance now
    Queue,            ///< wait behind the running instance (SCHED_S_TASK_QUEUED)
    ReplaceRunning,   ///< stop the running instances, then start this one
    RefuseRunning,    ///< an instance runs and the policy ignores new ones: SCHED_E_ALREADY_RUNNING
};

/// The decision for `situation`. A task with nothing running and nothing waiting always
/// launches; otherwise its instance policy decides.
StartDecision DecideStart(const StartSituation& situation);
