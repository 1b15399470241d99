#include "sources/StartConditions.h"

QString StartConditions::Unmet(const RunnableTask& task) const
{
    const TaskConditions& c = task.conditions;
    if (c.disallowStartIfOnBatteries && m_power.OnBattery())
        return QStringLiteral("The computer runs on batteries, and the task starts only on mains power.");
    if (c.runOnlyIfNetworkAvailable) {
        if (!m_network.Available()) return QStringLiteral("No network is available, and the task starts only with one.");
        if (!c.networkProfile.isEmpty() && !m_network.ProfileConnected(c.networkProfile))
            return QStringLiteral("The network \"%1\" is not connected, and the task starts only with it.").arg(c.networkProfile);
    }
    return {};
}
