#pragma once
// Drives modal windows from a test: what a user does in a dialog that exec() shows, run
// once the dialog's own event loop is going.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace ModalScript {

/// Runs `script` on the modal window that is shown next (the active modal widget once the
/// event loop turns).
inline void OnNextModal(std::function<void(QWidget*)> script)
{
    QTimer::singleShot(0, qApp, [script = std::move(script)] {
        QWidget* modal = QApplication::activeModalWidget();
        script(modal);
    });
}

/// Clicks `button`, expecting it to show a message box; closes the box and returns its
/// text (empty when none was shown).
inline QString ClickExpectingMessage(QAbstractButton* button)
{
    QString text;
    bool shown = false;
    // A timer of this call only: when the click shows no box, it dies with the call.
    QTimer timer;
    timer.setSingleShot(true);
    timer.setInterval(0);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = true;
            text = box->text();
            box->done(QMessageBox::Ok);
        }
    });
    timer.start();
    button->click();
    return shown ? text : QString();
}

} // namespace ModalScript
