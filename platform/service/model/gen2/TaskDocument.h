#pragma once
// A generation 2.0 task definition as plain values: what the client edits in memory, what
// crosses to the service as a document, and what the store keeps. The defaults are the
// service's documented defaults for a new definition.

#include "TaskService2.h"
#include <QList>
#include <QString>
#include <QStringList>

/// One name and value pair (e-mail header fields, event value queries).
struct NamedValue {
    QString name;
    QString value;
    friend bool operator==(const NamedValue&, const NamedValue&) = default;
};

struct RegistrationInfoData {
    QString description;
    QString author;
    QString version;
    QString date;
    QString documentation;
    QString uri;
    QString source;
    friend bool operator==(const RegistrationInfoData&, const RegistrationInfoData&) = default;
};

struct PrincipalData {
    QString id;
    QString displayName;
    QString userId;
    QString groupId;
    int logonType = TASK_LOGON_INTERACTIVE_TOKEN;
    int runLevel = TASK_RUNLEVEL_LUA;
    friend bool operator==(const PrincipalData&, const PrincipalData&) = default;
};

struct IdleSettingsData {
    QString idleDuration = QStringLiteral("PT10M");
    QString waitTimeout = QStringLiteral("PT1H");
    bool stopOnIdleEnd = true;
    bool restartOnIdle = false;
    friend bool operator==(const IdleSettingsData&, const IdleSettingsData&) = default;
};

struct NetworkSettingsData {
    QString name;
    QString id;
    friend bool operator==(const NetworkSettingsData&, const NetworkSettingsData&) = default;
};

struct TaskSettingsData {
    bool enabled = true;
    bool allowDemandStart = true;
    bool allowHardTerminate = true;
    bool disallowStartIfOnBatteries = true;
    bool stopIfGoingOnBatteries = true;
    bool startWhenAvailable = false;
    bool runOnlyIfNetworkAvailable = false;
    bool runOnlyIfIdle = false;
    bool wakeToRun = false;
    bool hidden = false;
    QString executionTimeLimit = QStringLiteral("PT72H");
    int restartCount = 0;
    QString restartInterval;
    QString deleteExpiredTaskAfter;
    int multipleInstances = 2;   // TASK_INSTANCES_IGNORE_NEW
    int priority = 7;
    int compatibility = 2;       // TASK_COMPATIBILITY_V2
    IdleSettingsData idle;
    NetworkSettingsData network;
    friend bool operator==(const TaskSettingsData&, const TaskSettingsData&) = default;
};

struct RepetitionData {
    QString interval;
    QString duration;
    bool stopAtDurationEnd = false;
    friend bool operator==(const RepetitionData&, const RepetitionData&) = default;
};

/// A trigger of any kind; the fields a kind does not use keep their defaults.
struct TriggerData {
    int type = TASK_TRIGGER_TIME;   // a TASK_TRIGGER_TYPE2
    QString id;
    QString startBoundary;
    QString endBoundary;
    QString executionTimeLimit;
    bool enabled = true;
    RepetitionData repetition;
    QString randomDelay;          // time, daily, weekly, monthly, monthly day-of-week
    QString delay;                // boot, logon, session state change, event, registration
    QString userId;               // logon, session state change
    int daysInterval = 1;         // daily
    int weeksInterval = 1;        // weekly
    int daysOfWeek = 0;           // weekly, monthly day-of-week
    int daysOfMonth = 0;          // monthly
    int monthsOfYear = 0;         // monthly, monthly day-of-week
    int weeksOfMonth = 0;         // monthly day-of-week
    bool runOnLastDayOfMonth = false;
    bool runOnLastWeekOfMonth = false;
    int stateChange = 0;          // session state change
    QString subscription;         // event
    QList<NamedValue> valueQueries;   // event
    friend bool operator==(const TriggerData&, const TriggerData&) = default;
};

/// An action of any kind; the fields a kind does not use stay empty.
struct ActionData {
    int type = TASK_ACTION_EXEC;   // a TASK_ACTION_TYPE
    QString id;
    QString path;               // exec
    QString arguments;
    QString workingDirectory;
    QString server;             // e-mail
    QString subject;
    QString to;
    QString cc;
    QString bcc;
    QString replyTo;
    QString from;
    QList<NamedValue> headerFields;
    QString body;
    QStringList attachments;
    QString title;              // message
    QString messageBody;
    QString classId;            // handler
    QString data;
    friend bool operator==(const ActionData&, const ActionData&) = default;
};

/// A whole definition.
struct TaskDocument {
    RegistrationInfoData registrationInfo;
    PrincipalData principal;
    TaskSettingsData settings;
    QList<TriggerData> triggers;
    QString actionsContext;
    QList<ActionData> actions;
    QString data;
    friend bool operator==(const TaskDocument&, const TaskDocument&) = default;
};
