#include "FrameReader.h"

#include "DaemonProtocol.h"

#include <QCborParserError>
#include <QCborStreamReader>
#include <QCborValue>
#include <QtEndian>
#include <algorithm>

FrameReader::Status FrameReader::Next(QCborMap* message, QString* error)
{
    using namespace DaemonProtocol;
    if (m_broken) {
        if (error) *error = m_brokenReason;
        return BadStream;
    }
    if (m_buffer.size() < HeaderSize) {
        // Refuse a wrong magic as soon as its bytes arrive, rather than waiting for a full header.
        const qsizetype n = std::min<qsizetype>(m_buffer.size(), sizeof(Magic));
        if (!std::equal(m_buffer.constBegin(), m_buffer.constBegin() + n, std::begin(Magic))) {
            m_broken = true;
            m_brokenReason = QStringLiteral("The message is not a service request.");
        } else {
            return NeedMore;
        }
    } else {
        const char* h = m_buffer.constData();
        const quint16 version = qFromBigEndian<quint16>(h + 4);
        const quint32 length = qFromBigEndian<quint32>(h + 8);
        if (!std::equal(h, h + sizeof(Magic), std::begin(Magic))) {
            m_broken = true;
            m_brokenReason = QStringLiteral("The message is not a service request.");
        } else if (version != Version) {
            m_broken = true;
            m_brokenReason = QStringLiteral("Protocol version %1 is not supported (this service speaks version %2).")
                                 .arg(version).arg(Version);
        } else if (qint64(length) > qint64(m_maxPayload)) {
            m_broken = true;
            m_brokenReason = QStringLiteral("The message of %1 bytes exceeds the limit of %2 bytes.")
                                 .arg(length).arg(m_maxPayload);
        } else if (m_buffer.size() - HeaderSize < qsizetype(length)) {
            return NeedMore;
        } else {
            QCborParserError parseError;
            QCborValue value;
            if (m_buffer.size() == HeaderSize + qsizetype(length)) {
                // The buffer holds this frame alone, as it does a reply: read where it lies,
                // without a copy of a payload that may take megabytes.
                QCborStreamReader reader(m_buffer.constData() + HeaderSize, qsizetype(length));
                value = QCborValue::fromCbor(reader);
                parseError.error = reader.lastError();
                parseError.offset = reader.currentOffset();
                m_buffer = QByteArray();
            } else {
                const QByteArray payload = m_buffer.mid(HeaderSize, length);
                m_buffer.remove(0, HeaderSize + length);
                value = QCborValue::fromCbor(payload, &parseError);
            }
            if (parseError.error != QCborError::NoError || !value.isMap()) {
                if (error) {
                    *error = parseError.error != QCborError::NoError
                        ? QStringLiteral("The message is malformed: %1.").arg(parseError.errorString())
                        : QStringLiteral("The message is malformed: not a map.");
                }
                return BadPayload;
            }
            if (message) *message = value.toMap();
            return Message;
        }
    }
    m_buffer.clear();
    if (error) *error = m_brokenReason;
    return BadStream;
}
