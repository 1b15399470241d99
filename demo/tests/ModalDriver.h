#pragma once
// Drives a modal window that the code under test opens with exec(): the step runs inside
// that window's event loop, as the user would act in it.

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>

/// Runs `AStep` once on the next modal window that opens other than the one active now (so a
/// step may arm another for a message box its own click opens). The step should close the
/// window; one it leaves open is cancelled.
inline void WhenModal(std::function<void(QWidget*)> AStep)
{
    auto* timer = new QTimer(qApp);
    QPointer<QWidget> current = QApplication::activeModalWidget();
    QObject::connect(timer, &QTimer::timeout, timer, [timer, current, step = std::move(AStep)] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == current.data() || !modal->isVisible()) return;
        timer->stop();
        timer->deleteLater();
        QPointer<QWidget> window = modal;
        step(modal);
        // A step that gave up half-way (a failed check) must not leave the test waiting for ever.
        if (auto* dialog = qobject_cast<QDialog*>(window.data()); dialog && dialog->isVisible()) dialog->reject();
    });
    timer->start(5);
}

/// The child of `AWindow` named `AName`, of type T.
template <typename T>
T* Child(QWidget* AWindow, const char* AName)
{
    T* child = AWindow->findChild<T*>(QString::fromLatin1(AName));
    Q_ASSERT_X(child, "Child", AName);
    return child;
}
