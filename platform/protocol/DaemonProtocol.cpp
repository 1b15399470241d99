#include "DaemonProtocol.h"

#include <QtEndian>

namespace DaemonProtocol {

QByteArray EncodeFrame(const QCborMap& message)
{
    const QByteArray payload = message.toCborValue().toCbor();
    QByteArray frame(HeaderSize, Qt::Uninitialized);
    char* h = frame.data();
    std::copy(std::begin(Magic), std::end(Magic), h);
    qToBigEndian<quint16>(Version, h + 4);
    qToBigEndian<quint16>(0, h + 6);
    qToBigEndian<quint32>(quint32(payload.size()), h + 8);
    frame.append(payload);
    return frame;
}

QCborMap ErrorReply(HRESULT hr, const QString& error)
{
    return QCborMap{{Key::Hr, qint64(hr)}, {Key::Error, error}};
}

QCborMap NoticeMessage(QLatin1StringView notice, int generation, const QString& path)
{
    return QCborMap{{Key::Notice, notice}, {Key::Generation, generation}, {Key::Path, path}};
}

bool IsNotice(const QCborMap& message)
{
    return message.value(Key::Notice).isString() && !message.contains(Key::Hr);
}

} // namespace DaemonProtocol
