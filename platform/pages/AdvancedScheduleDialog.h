#pragma once
// The dates and the repetition of one trigger: begin and end dates, repetition interval and
// duration, and stopping the task when the repetition ends.

#include "tvMSTask.h"

#include <QDialog>
#include <memory>

namespace Ui {
class AdvancedScheduleDialog;
}

/// Edits the date and repetition fields of a trigger record; the schedule page checks them.
class AdvancedScheduleDialog : public QDialog {
    Q_OBJECT
public:
    /// A dialog showing `trigger`'s dates and repetition.
    explicit AdvancedScheduleDialog(const TASK_TRIGGER& trigger, QWidget* parent = nullptr);
    ~AdvancedScheduleDialog() override;

    /// `trigger` with the dialog's dates and repetition written into it.
    TASK_TRIGGER Edited(TASK_TRIGGER trigger) const;

private:
    void UpdateEnabled();

    std::unique_ptr<Ui::AdvancedScheduleDialog> ui;
};
