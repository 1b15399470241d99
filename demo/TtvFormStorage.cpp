#include "TtvFormStorage.h"

#include "Registry.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
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

/// Gives a window the outer rectangle `AOuter`. Before the window manager has framed the
/// window nobody knows how wide its frame is: the window is placed by the corner of its frame
/// at the outer size, and each time the frame turns out to be other than assumed, the client
/// size is worked out again from it.
/// A few corrections at most, and only in the first moments after showing, so that a window
/// manager that will not give that rectangle, or a user who moves or maximises the window, is
/// never fought.
class TOuterPlacement : public QObject {
public:
    TOuterPlacement(QWidget* AForm, const QRect& AOuter) : QObject(AForm), FForm(AForm), FOuter(AOuter)
    {
        setObjectName(kOuterPlacementName);
        Apply();
        AForm->installEventFilter(this);
        // A window never framed (no window manager, or one that ignores it) keeps what it got.
        QTimer::singleShot(kSettleTime, this, [this] { deleteLater(); });
    }

protected:
    bool eventFilter(QObject* AWatched, QEvent* AEvent) override
    {
        if (AWatched != FForm || !FForm || FApplying) return QObject::eventFilter(AWatched, AEvent);
        switch (AEvent->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Show: Follow(); break;
        case QEvent::WindowStateChange:
            if (FForm->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen | Qt::WindowMinimized)) deleteLater();
            break;
        case QEvent::Close: deleteLater(); break;
        default: break;
        }
        return QObject::eventFilter(AWatched, AEvent);
    }

private:
    static constexpr int kMostCorrections = 4;
    static constexpr std::chrono::milliseconds kSettleTime{3000};

    /// The frame may have become known: done when it matches, else the client size again
    /// for the frame as it turned out.
    void Follow()
    {
        const QMargins frame = FrameMargins(FForm);
        if (frame.isNull()) return;
        if (FForm->frameGeometry() == FOuter) {
            deleteLater();
            return;
        }
        // With the frame already allowed for, the request is still on its way.
        if (frame == FApplied) return;
        if (++FCorrections > kMostCorrections) {
            deleteLater();
            return;
        }
        Apply();
    }

    void Apply()
    {
        FApplying = true;
        FApplied = FrameMargins(FForm);
        FForm->resize(FOuter.size().shrunkBy(FApplied).expandedTo(QSize(1, 1)));
        FForm->move(FOuter.topLeft());
        // Before the frame is known Qt takes that point for the client's corner, and a window
        // manager then keeps the client there and puts the frame around it; asked for the
        // frame's corner, it puts the frame there.
        if (QWindow* window = FForm->windowHandle(); window && FApplied.isNull())
            window->setFramePosition(FOuter.topLeft());
        FApplying = false;
    }

    QPointer<QWidget> FForm;
    QRect FOuter;
    QMargins FApplied;
    int FCorrections = 0;
    bool FApplying = false;
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
