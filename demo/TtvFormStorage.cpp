#include "TtvFormStorage.h"

#include "Registry.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
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

const QString kOuterPlacementName = QStringLiteral("outerPlacement");

/// Gives a window the outer rectangle `AOuter`. The frame's width is known only once the
/// window manager has framed the window, which may be after it is shown: until the frame
/// first changes, the client rectangle is worked out again from the new frame.
class TOuterPlacement : public QObject {
public:
    TOuterPlacement(QWidget* AForm, const QRect& AOuter) : QObject(AForm), FForm(AForm), FOuter(AOuter)
    {
        setObjectName(kOuterPlacementName);
        Apply();
        AForm->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override
    {
        if (AWatched == FForm && FForm) {
            switch (AEvent->type()) {
            case QEvent::Move:
            case QEvent::Resize:
            case QEvent::Show:
                if (FrameMargins(FForm) != FApplied) {
                    Apply();
                    deleteLater();
                }
                break;
            case QEvent::Close: deleteLater(); break;
            default: break;
            }
        }
        return QObject::eventFilter(AWatched, AEvent);
    }

private:
    void Apply()
    {
        FApplied = FrameMargins(FForm);
        FForm->setGeometry(FOuter.marginsRemoved(FApplied));
    }

    QPointer<QWidget> FForm;
    QRect FOuter;
    QMargins FApplied;
};

/// The available rectangles of the screens, the primary screen first.
QList<QRect> AvailableScreens()
{
    QList<QRect> screens;
    if (const QScreen* primary = QGuiApplication::primaryScreen()) screens << primary->availableGeometry();
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen()) screens << screen->availableGeometry();
    }
    return screens;
}
} // namespace

QRect TtvFormStorage::FitPlacement(const QRect& AStored, const QList<QRect>& AScreens)
{
    if (AScreens.isEmpty() || AStored.isEmpty()) return AStored;
    // The screen that shows most of the window; a window on none of them (its monitor is
    // gone) comes back on the primary one.
    QRect screen = AScreens.constFirst();
    qint64 best = 0;
    for (const QRect& candidate : AScreens) {
        const QRect shared = candidate.intersected(AStored);
        const qint64 area = shared.isEmpty() ? 0 : qint64(shared.width()) * shared.height();
        if (area > best) {
            best = area;
            screen = candidate;
        }
    }
    const int width = qMin(AStored.width(), screen.width());
    const int height = qMin(AStored.height(), screen.height());
    const int left = qBound(screen.left(), AStored.left(), screen.left() + screen.width() - width);
    const int top = qBound(screen.top(), AStored.top(), screen.top() + screen.height() - height);
    return QRect(left, top, width, height);
}

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
    // The stored numbers are the outer rectangle; once all are read, that rectangle is given
    // to the window whole, on the screen it fits.
    const QMargins frame = FrameMargins(AForm);
    const int left = reg.ReadInteger(QStringLiteral("Left"));
    AForm->move(left, AForm->y());
    const int top = reg.ReadInteger(QStringLiteral("Top"));
    AForm->move(left, top);
    const int width = reg.ReadInteger(QStringLiteral("Width"));
    AForm->resize(width - frame.left() - frame.right(), AForm->height());
    const int height = reg.ReadInteger(QStringLiteral("Height"));
    delete AForm->findChild<QObject*>(kOuterPlacementName, Qt::FindDirectChildrenOnly);
    new TOuterPlacement(AForm, FitPlacement(QRect(left, top, width, height), AvailableScreens()));
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
