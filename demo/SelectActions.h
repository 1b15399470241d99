#pragma once
// The chooser of an action's kind, shown by the classic properties dialog's "&Add". One
// instance lives for the whole program run and keeps the choice of its last use.

#include <QDialog>
#include <memory>

namespace Ui {
class TSelectActionsForm;
}

/// The chooser. `exec()` answers the chosen kind: 1 "Run application", 6 "Send E-Mail",
/// 14 "Show Message", -1 when OK is pressed with no kind chosen, `mrCancel` (2) for Cancel.
class TSelectActionsForm : public QDialog {
    Q_OBJECT

public:
    /// The results besides the chosen kinds.
    enum { mrCancel = 2, mrNone = -1 };

    explicit TSelectActionsForm(QWidget* AParent = nullptr);
    ~TSelectActionsForm() override;

    /// OK: closes with the kind checked (1, 6, 14), or -1 when none is.
    void BitBtn1Click();
    /// Cancel: clears all three choices and closes with the Cancel result, so the next use
    /// starts with no kind chosen.
    void BitBtn2Click();

    /// Closing the window without a button is Cancel too, but keeps the choices.
    void reject() override;

protected:
    /// Escape presses the Cancel button.
    void keyPressEvent(QKeyEvent* AEvent) override;

private:
    std::unique_ptr<Ui::TSelectActionsForm> ui;
};

/// The program's one chooser, made at start-up; null before and after.
extern TSelectActionsForm* SelectActionsForm;
