#pragma once
// A request the service refuses: the result code the client receives and the service's own
// description of what went wrong.

#include "ResultCodes.h"

#include <QByteArray>
#include <QString>
#include <exception>

class ServiceError : public std::exception {
public:
    ServiceError(HRESULT code, QString message) : m_code(code), m_message(std::move(message)), m_utf8(m_message.toUtf8()) {}
    HRESULT Code() const { return m_code; }
    const QString& Message() const { return m_message; }
    const char* what() const noexcept override { return m_utf8.constData(); }

private:
    HRESULT m_code;
    QString m_message;
    QByteArray m_utf8;
};
