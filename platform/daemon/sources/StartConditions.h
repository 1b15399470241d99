#pragma once
// Whether the conditions a task sets on its starts hold now.

#include "sources/NetworkSource.h"
#include "sources/PowerSource.h"
#include "catalog/RunnableTask.h"

#include <QString>

/// Checks a task's power and network conditions against the machine's sources.
class StartConditions {
public:
    /// `power` and `network` are not owned and outlive this object.
    StartConditions(const PowerSource& power, const NetworkSource& network) : m_power(power), m_network(network) {}

    /// Why `task` must not start now, in words for its run history; empty when it may.
    QString Unmet(const RunnableTask& task) const;
    /// Whether running instances of `task` are stopped when the computer switches to batteries.
    static bool StopsOnBatteries(const RunnableTask& task) { return task.conditions.stopIfGoingOnBatteries; }
    const PowerSource& Power() const { return m_power; }

private:
    const PowerSource& m_power;
    const NetworkSource& m_network;
};
