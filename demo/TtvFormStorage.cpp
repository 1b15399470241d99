#include "TtvFormStorage.h"

#include "Registry.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

namespace {
/// The width of the window frame on each side; the platform knows it once the window exists.
QMargins FrameMargins(QWidget* AForm)
{
    if (!AForm->isWindow()) return {};
    AForm->winId();
    const QWindow* window = AForm->windowHandle();
    return window ? window->frameMargins() : QMargins();
}
} // namespace

TtvFormStorage::TtvFormStorage(const QString& ABasePath) : FBasePath(ABasePath)
{
    if (!FBasePath.isEmpty() && !FBasePath.endsWith(QLatin1Char('\\'))) FBasePath += QLatin1Char('\\');
}

QString TtvFormStorage::GetFormKey(const QWidget* AForm) const
{
    QString key = FBasePath + QGuiApplication::applicationDisplayName();
    if (AForm) key += QLatin1Char('\\') + QString::fromLatin1(AForm->metaObject()->className());
    return key;
}

void TtvFormStorage::ReadFormPlacement(QWidget* AForm)
{
    if (!AForm) return;
    Registry reg(HKEY_CURRENT_USER);
    if (!reg.OpenKey(GetFormKey(AForm), false)) return;
    // Each value is applied as soon as it is read, so a damaged key still restores what it can.
    // The stored size is the outer one; the frame's share is taken off for the client size.
    AForm->move(reg.ReadInteger(QStringLiteral("Left")), AForm->y());
    AForm->move(AForm->x(), reg.ReadInteger(QStringLiteral("Top")));
    const QMargins frame = FrameMargins(AForm);
    AForm->resize(reg.ReadInteger(QStringLiteral("Width")) - frame.left() - frame.right(), AForm->height());
    AForm->resize(AForm->width(), reg.ReadInteger(QStringLiteral("Height")) - frame.top() - frame.bottom());
}

void TtvFormStorage::WriteFormPlacement(QWidget* AForm)
{
    if (!AForm) return;
    Registry reg(HKEY_CURRENT_USER);
    if (!reg.OpenKey(GetFormKey(AForm), true)) return;
    const QRect outer = AForm->frameGeometry();
    reg.WriteInteger(QStringLiteral("Left"), outer.x());
    reg.WriteInteger(QStringLiteral("Top"), outer.y());
    reg.WriteInteger(QStringLiteral("Width"), outer.width());
    reg.WriteInteger(QStringLiteral("Height"), outer.height());
}
