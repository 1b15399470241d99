#pragma once
// Answers the main window's questions in the user's place and records what it showed.

#include "TUserPrompts.h"

#include <QIcon>
#include <QList>
#include <QStringList>
#include <QUrl>

struct ShownMessage {
    QString text;
    QString caption;
    QMessageBox::Icon icon;
};

class ScriptedPrompts : public TUserPrompts {
public:
    void ShowException(QWidget*, const QString& AMessage, QMessageBox::Icon AIcon) override
    {
        errors << AMessage;
        errorIcons << AIcon;
    }
    void ShowMessage(QWidget*, const QString& AText, const QString& ACaption, QMessageBox::Icon AIcon) override
    {
        messages << ShownMessage{AText, ACaption, AIcon};
    }
    bool ConfirmWarning(QWidget*, const QString& AText) override
    {
        questions << AText;
        return confirm;
    }
    bool AskQuestion(QWidget*, const QString& AText) override
    {
        asked << AText;
        return answerYes;
    }
    bool InputQuery(QWidget*, const QString& ACaption, const QString& APrompt, QString& AValue) override
    {
        inputs << (ACaption + QLatin1Char('|') + APrompt + QLatin1Char('|') + AValue);
        if (inputAnswers.isEmpty()) return false;
        AValue = inputAnswers.takeFirst();
        return true;
    }
    bool SelectExecutable(QWidget*, QString& AFileName) override
    {
        ++executableAsked;
        if (executable.isEmpty()) return false;
        AFileName = executable;
        return true;
    }
    bool SelectProgram(QWidget*, QString& AFileName) override
    {
        programStart << AFileName;
        if (program.isEmpty()) return false;
        AFileName = program;
        return true;
    }
    bool SelectTargetComputer(QWidget*, const QString& ATitle, QString& AComputer) override
    {
        targetTitle = ATitle;
        if (computer.isEmpty()) return false;
        AComputer = computer;
        return true;
    }
    void ShowAbout(QWidget*, const QString& AAppText, const QString& ANotice, const QIcon& AIcon) override
    {
        aboutText = AAppText;
        aboutNotice = ANotice;
        aboutHasIcon = !AIcon.isNull();
    }
    bool OpenUrl(const QUrl& AUrl) override
    {
        urls << AUrl;
        return browserStarts;
    }

    // What the window showed.
    QStringList errors;
    QList<QMessageBox::Icon> errorIcons;
    QList<ShownMessage> messages;
    QStringList questions;
    QStringList asked;
    QStringList programStart;
    QStringList inputs;
    int executableAsked = 0;
    QString targetTitle;
    QString aboutText;
    QString aboutNotice;
    bool aboutHasIcon = false;
    QList<QUrl> urls;

    // The answers.
    bool confirm = true;
    bool browserStarts = true;
    bool answerYes = true;
    QString program;
    QStringList inputAnswers;
    QString executable;
    QString computer;
};
