#pragma once
// The error classes of the platform's runtime. Every error carries an English message.

#include "ComBase.h"

#include <QByteArray>
#include <QString>
#include <exception>

/// The base of every error the system raises: a message and nothing else.
class Exception : public std::exception {
public:
    explicit Exception(QString message) : m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    /// The message as shown to users.
    const QString& Message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    QString m_message;
    QByteArray m_utf8;
};

/// A failed service call: the result code and the system's text for it.
class EPlatformError : public Exception {
public:
    /// The message is the system's text for `code`.
    explicit EPlatformError(HRESULT code);
    /// The message is the service's own description of the failure.
    EPlatformError(HRESULT code, QString message) : Exception(std::move(message)), m_code(code) {}
    HRESULT Code() const { return m_code; }

private:
    HRESULT m_code;
};

/// An object that does not offer the interface it was cast to: "Interface not supported".
class EIntfCastError : public Exception {
public:
    EIntfCastError() : Exception(QStringLiteral("Interface not supported")) {}
};

/// Text that does not convert to the value asked for.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

/// A registry key or value that cannot be read or written.
class ERegistryError : public Exception {
public:
    using Exception::Exception;
};

/// Raises EPlatformError for a failure code, with the failing call's own description when it
/// left one (its error information) and the system's text for the code otherwise; success
/// codes, informational ones included, pass.
void OleCheck(HRESULT hr);
