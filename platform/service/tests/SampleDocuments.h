#pragma once
// Documents for the service's tests: one with every part set away from its defaults.

#include "gen2/TaskDocument.h"

#include <QChar>

inline TaskDocument FullDocument()
{
    TaskDocument d;
    d.registrationInfo = {QStringLiteral("Line 1\r\nLine 2 <&> \"q\""), QStringLiteral("Ann"), QStringLiteral("1.2"),
                          QStringLiteral("2024-03-15T09:30:00"), QStringLiteral("docs"), QStringLiteral("\\Reports\\Daily"),
                          QStringLiteral("source")};
    d.principal = {QStringLiteral("Author"), QStringLiteral("Ann B."), QStringLiteral("ann"), QString(), 1, 1};
    TaskSettingsData& s = d.settings;
    s.enabled = false;
    s.allowDemandStart = false;
    s.hidden = true;
    s.wakeToRun = true;
    s.executionTimeLimit = QStringLiteral("PT0S");
    s.restartCount = 3;
    s.restartInterval = QStringLiteral("PT5M");
    s.deleteExpiredTaskAfter = QStringLiteral("P30D");
    s.multipleInstances = 3;
    s.priority = 0;
    s.compatibility = 6;
    s.idle = {QStringLiteral("PT0S"), QStringLiteral("PT2H"), false, true};
    s.network = {QStringLiteral("Office"), QStringLiteral("{6D2FD252-75C5-4F66-90BA-2A7D8CC3039F}")};
    for (int type : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11}) {
        TriggerData t;
        t.type = type;
        t.id = QStringLiteral("trigger %1").arg(type);
        t.startBoundary = QStringLiteral("2024-03-05T07:30:15");
        t.endBoundary = QStringLiteral("2025-01-01T00:00:00Z");
        t.enabled = type % 2 == 0;
        t.repetition = {QStringLiteral("PT10M"), QStringLiteral("PT1H"), true};
        if (type >= 1 && type <= 5) t.randomDelay = QStringLiteral("PT%1M").arg(type);
        if (type == 0 || type == 7 || type == 8 || type == 9 || type == 11) t.delay = QStringLiteral("PT30S");
        if (type == 9 || type == 11) t.userId = QStringLiteral("ann");
        if (type == 2) t.daysInterval = 3;
        if (type == 3) { t.weeksInterval = 2; t.daysOfWeek = 0x41; }
        if (type == 4) { t.daysOfMonth = 0x40000001; t.monthsOfYear = 0x805; t.runOnLastDayOfMonth = true; }
        if (type == 5) { t.daysOfWeek = 0x2; t.weeksOfMonth = 0x12; t.monthsOfYear = 0xFFF; t.runOnLastWeekOfMonth = true; }
        if (type == 11) t.stateChange = 7;
        if (type == 0) {
            t.subscription = QStringLiteral("<QueryList><Query Id=\"0\"/></QueryList>");
            t.valueQueries = {{QStringLiteral("a"), QStringLiteral("Event/System")}};
        }
        d.triggers.append(t);
    }
    d.actionsContext = QStringLiteral("Author");
    ActionData exec;
    exec.path = QStringLiteral("/usr/bin/report");
    exec.arguments = QStringLiteral("--a \"b c\"");
    exec.workingDirectory = QStringLiteral("/tmp");
    ActionData handler;
    handler.type = 5;
    handler.classId = QStringLiteral("{6D2FD252-75C5-4F66-90BA-2A7D8CC3039F}");
    handler.data = QStringLiteral("payload");
    ActionData mail;
    mail.type = 6;
    mail.server = QStringLiteral("smtp");
    mail.subject = QStringLiteral("s");
    mail.to = QStringLiteral("a@example.org");
    mail.cc = QStringLiteral("c");
    mail.bcc = QStringLiteral("b");
    mail.replyTo = QStringLiteral("r");
    mail.from = QStringLiteral("f");
    mail.body = QStringLiteral("body\r\n");
    mail.headerFields = {{QStringLiteral("X-A"), QStringLiteral("1")}, {QStringLiteral("X-B"), QString()}};
    mail.attachments = {QStringLiteral("a.txt"), QStringLiteral("my file.txt")};
    ActionData message;
    message.type = 7;
    message.title = QStringLiteral("T");
    message.messageBody = QStringLiteral("M");
    d.actions = {exec, handler, mail, message};
    d.data = QStringLiteral("x") + QChar(0) + QChar(0xD800) + QChar(0xFFFE) + QChar(0x1F) + QStringLiteral("\u00e9");
    return d;
}
