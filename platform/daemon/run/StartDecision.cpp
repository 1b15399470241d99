#include "run/StartDecision.h"

StartDecision DecideStart(const StartSituation& s)
{
    if (!s.enabled) return StartDecision::RefuseDisabled;
    if (s.repetitionOver) return StartDecision::Drop;
    // Something waiting means an instance is about to start: a new start joins the policy's
    // rule, so that a queued start is not overtaken.
    if (s.live == 0 && s.waiting == 0) return StartDecision::Launch;
    switch (s.policy) {
    case InstancesPolicy::Parallel: return StartDecision::Launch;
    case InstancesPolicy::Queue: return StartDecision::Queue;
    case InstancesPolicy::StopExisting: return StartDecision::ReplaceRunning;
    case InstancesPolicy::IgnoreNew: break;
    }
    return StartDecision::RefuseRunning;
}
