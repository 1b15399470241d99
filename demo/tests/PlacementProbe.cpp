// Shows the main window on a real display, does one thing a user does with it, and closes it,
// printing where the window manager put its frame. tst_placement runs it under a window
// manager of its own. Usage:
//   placement_probe show | maximise | move X Y
// The service runs inside the program (TASKSCHEDULER_TRANSPORT=inprocess); the root and the
// registry come from the environment.
//
// Printed lines: "screen L T W H" (the primary screen's available rectangle), "shown L T W H"
// once the placement has settled, "closed L T W H" just before the window closes.

#include "TMainForm.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QWindow>
#include <cstdio>
#include <functional>

namespace {

void Print(const char* AWhat, const QRect& ARect)
{
    std::printf("%s %d %d %d %d\n", AWhat, ARect.x(), ARect.y(), ARect.width(), ARect.height());
    std::fflush(stdout);
}

/// Processes events until `ADone` holds (at most `ATimeout` ms); false on time-out.
bool WaitFor(const std::function<bool()>& ADone, int ATimeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!ADone()) {
        if (timer.elapsed() > ATimeout) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

/// Waits until the frame has kept one rectangle for a while: the window manager is done.
void Settle(QWidget& AForm)
{
    QRect last = AForm.frameGeometry();
    QElapsedTimer still;
    still.start();
    WaitFor([&] {
        if (AForm.frameGeometry() != last) {
            last = AForm.frameGeometry();
            still.restart();
        }
        return still.elapsed() > 400;
    }, 5000);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName(QStringLiteral("Task Scheduler Demo"));
    const QStringList args = QApplication::arguments().mid(1);
    if (args.isEmpty()) return 2;

    TMainForm form;
    Print("screen", QGuiApplication::primaryScreen()->availableGeometry());
    form.show();
    // Framed by the window manager, and the stored placement given (or given up on).
    if (!WaitFor([&] { return form.windowHandle() && !form.windowHandle()->frameMargins().isNull(); }, 5000)) {
        std::printf("never framed\n");
        return 3;
    }
    WaitFor([&] { return !form.findChild<QObject*>(QStringLiteral("outerPlacement")); }, 5000);
    Settle(form);
    Print("shown", form.frameGeometry());

    if (args.first() == QLatin1String("maximise")) {
        form.showMaximized();
        WaitFor([&] { return form.isMaximized(); }, 5000);
    } else if (args.first() == QLatin1String("move") && args.size() == 3) {
        const QPoint to(args.at(1).toInt(), args.at(2).toInt());
        form.move(to);
        WaitFor([&] { return form.frameGeometry().topLeft() == to; }, 5000);
    }
    Settle(form);
    Print("closed", form.frameGeometry());
    form.close();
    return 0;
}
