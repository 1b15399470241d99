#pragma once
// Cuts a byte stream into the frames of the daemon protocol.

#include <QByteArray>
#include <QCborMap>
#include <QString>

/// Accumulates received bytes and hands out complete messages. Once it reports an error the
/// stream cannot be trusted any more and the reader stays in that state.
class FrameReader {
public:
    enum Status {
        NeedMore,   ///< no complete frame yet
        Message,    ///< a frame was taken; its map is in the out-parameter
        BadPayload, ///< a complete frame whose payload is not a CBOR map; the stream stays usable
        BadStream,  ///< wrong magic or version, or a length over the limit; the stream is lost
    };

    /// `maxPayload` is the largest payload accepted.
    explicit FrameReader(qsizetype maxPayload) : m_maxPayload(maxPayload) {}

    /// Appends received bytes.
    void Append(const QByteArray& bytes) { m_buffer.append(bytes); }
    /// Takes the next frame out of the buffer. On BadPayload and BadStream `error` says why.
    Status Next(QCborMap* message, QString* error);
    /// True while part of a frame has arrived and the rest has not.
    bool HasPartialFrame() const { return !m_buffer.isEmpty() && !m_broken; }
    /// Bytes received and not yet taken.
    qsizetype Buffered() const { return m_buffer.size(); }

private:
    QByteArray m_buffer;
    qsizetype m_maxPayload;
    bool m_broken = false;
    QString m_brokenReason;
};
