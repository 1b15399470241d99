#pragma once
// A fresh, private service root for one test: TASKSCHEDULER_HOME points at a temporary
// directory while the object lives, so no test can reach a real user's service.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class TemporaryServiceRoot {
public:
    TemporaryServiceRoot();
    ~TemporaryServiceRoot();
    TemporaryServiceRoot(const TemporaryServiceRoot&) = delete;
    TemporaryServiceRoot& operator=(const TemporaryServiceRoot&) = delete;

    /// The root directory (also the value of TASKSCHEDULER_HOME).
    QString Path() const { return m_dir.path(); }
    bool IsValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
    QByteArray m_previous;
    bool m_hadPrevious = false;
};
