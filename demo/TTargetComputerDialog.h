#pragma once
// The dialog that chooses the computer whose scheduled tasks the main window shows.

#include <QDialog>
#include <QStringList>

class QLineEdit;
class QListWidget;

/// A computer name typed in `edComputer` or picked from `lvHosts`, the hosts this user knows.
class TTargetComputerDialog : public QDialog {
    Q_OBJECT

public:
    /// Shows `ATitle` above the name box and `AHosts` in the list.
    TTargetComputerDialog(const QString& ATitle, const QStringList& AHosts, QWidget* AParent = nullptr);

    /// The computer chosen, without surrounding blanks.
    QString Computer() const;

private:
    QLineEdit* edComputer;
    QListWidget* lvHosts;
};
