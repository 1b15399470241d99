#pragma once
// The dialog that chooses the computer whose scheduled tasks the main window shows.

#include <QDialog>
#include <QStringList>
#include <memory>

namespace Ui {
class TTargetComputerDialog;
}

/// A computer name typed in `edComputer` or picked from `lvHosts`, the hosts this user knows.
/// OK (`btOK`, the default button) is offered once a name is there; Cancel (`btCancel`, or
/// Escape) leaves without one.
class TTargetComputerDialog : public QDialog {
    Q_OBJECT

public:
    /// Shows `ATitle` above the name box and `AHosts` in the list.
    TTargetComputerDialog(const QString& ATitle, const QStringList& AHosts, QWidget* AParent = nullptr);
    ~TTargetComputerDialog() override;

    /// The computer chosen, without surrounding blanks.
    QString Computer() const;

private:
    std::unique_ptr<Ui::TTargetComputerDialog> ui;
};
