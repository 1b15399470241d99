#include "SshFailure.h"

#include "ResultCodes.h"
#include "SshCommand.h"

#include <QStringList>
#include <initializer_list>

namespace {

constexpr int RemoteNotFound = 127;
constexpr int RemoteNotExecutable = 126;
constexpr int SshOwnFailure = 255;
constexpr qsizetype MaxWords = 600;

bool Mentions(const QString& words, std::initializer_list<const char*> phrases)
{
    for (const char* phrase : phrases) {
        if (words.contains(QLatin1String(phrase), Qt::CaseInsensitive)) return true;
    }
    return false;
}

} // namespace

QString SshFailure::Words(const QString& standardError)
{
    QStringList kept;
    for (const QString& line : standardError.split(QLatin1Char('\n'))) {
        const QString text = line.trimmed();
        // A host key that is written down for the first time is news, not the failure.
        if (text.isEmpty() || text.startsWith(QLatin1String("Warning: Permanently added"))) continue;
        kept << text;
    }
    QString words = kept.join(QLatin1Char(' '));
    // The last lines tell how it ended.
    if (words.size() > MaxWords) words = QStringLiteral("...") + words.right(MaxWords);
    return words;
}

SshFailure SshFailure::Describe(const QString& host, const SshOutcome& outcome)
{
    const QString words = Words(outcome.standardError);
    const auto said = [&](const QString& what) {
        return words.isEmpty() ? what + QLatin1Char('.') : what + QStringLiteral(": ") + words;
    };
    if (!outcome.started) {
        return {HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND),
                QStringLiteral("The SSH client could not be started to reach the computer \"%1\": %2").arg(host, outcome.startError)};
    }
    if (outcome.timedOut) {
        return {HRESULT_FROM_WIN32(ERROR_TIMEOUT),
                said(QStringLiteral("The computer \"%1\" did not answer within %2 seconds").arg(host).arg(outcome.timeoutSeconds))};
    }
    if (!outcome.crashed && (outcome.exitCode == RemoteNotFound || outcome.exitCode == RemoteNotExecutable)) {
        return {SCHED_E_SERVICE_NOT_INSTALLED,
                said(QStringLiteral("The computer \"%1\" has no scheduling service program (\"%2\")")
                         .arg(host, SshCommand::RemoteCommand().join(QLatin1Char(' '))))};
    }
    if (Mentions(words, {"Permission denied", "Too many authentication failures", "No more authentication methods"})) {
        return {E_ACCESSDENIED, said(QStringLiteral("The computer \"%1\" refused the login").arg(host))};
    }
    if (Mentions(words, {"Host key verification failed", "REMOTE HOST IDENTIFICATION HAS CHANGED", "host key is known"})) {
        return {E_ACCESSDENIED, said(QStringLiteral("The computer \"%1\" could not be verified by its host key").arg(host))};
    }
    const bool lostWords = Mentions(words, {"closed by remote host", "Connection reset", "Broken pipe", "not responding",
                                            "Connection closed"});
    if (outcome.answered || lostWords || outcome.crashed) {
        return {HRESULT_FROM_WIN32(ERROR_NETNAME_DELETED), said(QStringLiteral("The connection to the computer \"%1\" was lost").arg(host))};
    }
    if (outcome.exitCode == SshOwnFailure) {
        return {HRESULT_FROM_WIN32(ERROR_BAD_NETPATH), said(QStringLiteral("The computer \"%1\" cannot be reached").arg(host))};
    }
    return {SCHED_E_SERVICE_NOT_AVAILABLE,
            said(QStringLiteral("The scheduling service of the computer \"%1\" ended without answering (exit status %2)")
                     .arg(host)
                     .arg(outcome.exitCode))};
}
