#include "TaskPage.h"

#include "ResultCodes.h"
#include "SetPasswordDialog.h"
#include "ui_TaskPage.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace {

TaskPage::ProgramChooser& Chooser()
{
    static TaskPage::ProgramChooser chooser;
    return chooser;
}

TaskPage::PasswordPrompt& Prompt()
{
    static TaskPage::PasswordPrompt prompt;
    return prompt;
}

QString ChooseWithDialog(QWidget* parent, const QString& current)
{
    // Any file may be a program here; whether it can run is checked after the choice.
    return QFileDialog::getOpenFileName(parent, QObject::tr("Browse"), QFileInfo(current).absolutePath(),
                                        QObject::tr("Programs (*);;All Files (*)"));
}

std::optional<QString> AskWithDialog(QWidget* parent, const QString& account)
{
    SetPasswordDialog dialog(account, parent);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    return dialog.Password();
}

QString Read(ITask* task, HRESULT (ITask::*getter)(QString*))
{
    QString value;
    (task->*getter)(&value);
    return value;
}

} // namespace

TaskPage::TaskPage(ITask* task, bool persistChanges, QWidget* parent)
    : TaskPropertyPage(task, persistChanges, parent), ui(std::make_unique<Ui::TaskPage>())
{
    ui->setupUi(this);
    ComPtr<IPersistFile> file;
    QString path;
    if (SUCCEEDED(ComPtr<ITask>(task).As(file)) && SUCCEEDED(file->GetCurFile(&path)))
        ui->lblFileName->setText(QFileInfo(path).fileName());
    ui->edProgram->setText(Read(task, &ITask::GetApplicationName));
    ui->edArguments->setText(Read(task, &ITask::GetParameters));
    ui->edWorkingDirectory->setText(Read(task, &ITask::GetWorkingDirectory));
    ui->edComment->setPlainText(Read(task, &ITask::GetComment));
    if (FAILED(task->GetAccountInformation(&m_account))) m_account.clear();
    ui->edRunAs->setText(m_account);
    DWORD flags = 0;
    task->GetFlags(&flags);
    ui->ckbEnabled->setChecked(!(flags & TASK_FLAG_DISABLED));

    for (QLineEdit* edit : {ui->edProgram, ui->edArguments, ui->edWorkingDirectory, ui->edRunAs})
        connect(edit, &QLineEdit::textEdited, this, &TaskPropertyPage::Changed);
    connect(ui->edComment, &QPlainTextEdit::textChanged, this, &TaskPropertyPage::Changed);
    connect(ui->ckbEnabled, &QCheckBox::toggled, this, &TaskPropertyPage::Changed);
    connect(ui->btnBrowse, &QPushButton::clicked, this, &TaskPage::Browse);
    connect(ui->btnSetPassword, &QPushButton::clicked, this, &TaskPage::AskPassword);
}

TaskPage::~TaskPage() = default;

void TaskPage::SetProgramChooser(ProgramChooser chooser)
{
    Chooser() = std::move(chooser);
}

void TaskPage::SetPasswordPrompt(PasswordPrompt prompt)
{
    Prompt() = std::move(prompt);
}

void TaskPage::Browse()
{
    const QString file = Chooser() ? Chooser()(this, ui->edProgram->text()) : ChooseWithDialog(this, ui->edProgram->text());
    if (file.isEmpty()) return;
    const QFileInfo info(file);
    if (!info.isFile() || !info.isExecutable()) {
        QMessageBox::warning(this, tr("Browse"), tr("Run: \"%1\" is not a program that can be run.").arg(file));
        return;
    }
    ui->edProgram->setText(info.absoluteFilePath());
    emit Changed();
}

void TaskPage::AskPassword()
{
    const QString account = ui->edRunAs->text().trimmed();
    std::optional<QString> password = Prompt() ? Prompt()(this, account) : AskWithDialog(this, account);
    if (!password) return;
    m_password = std::move(password);
    emit Changed();
}

bool TaskPage::Validate(QString* message, QWidget** field)
{
    if (ui->edProgram->text().trimmed().isEmpty()) {
        *message = tr("Run: enter the program the task runs.");
        *field = ui->edProgram;
        return false;
    }
    if (m_password && ui->edRunAs->text().trimmed().isEmpty()) {
        *message = tr("Run as: enter the account the password belongs to.");
        *field = ui->edRunAs;
        return false;
    }
    return true;
}

HRESULT TaskPage::WriteTask()
{
    ITask* task = Task();
    struct Text {
        QString value;
        HRESULT (ITask::*get)(QString*);
        HRESULT (ITask::*set)(const QString&);
    };
    const Text texts[] = {
        {ui->edProgram->text().trimmed(), &ITask::GetApplicationName, &ITask::SetApplicationName},
        {ui->edArguments->text(), &ITask::GetParameters, &ITask::SetParameters},
        {ui->edWorkingDirectory->text().trimmed(), &ITask::GetWorkingDirectory, &ITask::SetWorkingDirectory},
        {ui->edComment->toPlainText(), &ITask::GetComment, &ITask::SetComment},
    };
    for (const Text& text : texts) {
        if (Read(task, text.get) == text.value) continue;
        if (const HRESULT hr = (task->*text.set)(text.value); FAILED(hr)) return hr;
    }
    DWORD flags = 0;
    if (const HRESULT hr = task->GetFlags(&flags); FAILED(hr)) return hr;
    const DWORD wanted = ui->ckbEnabled->isChecked() ? flags & ~TASK_FLAG_DISABLED : flags | TASK_FLAG_DISABLED;
    if (wanted != flags) {
        if (const HRESULT hr = task->SetFlags(wanted); FAILED(hr)) return hr;
    }
    const QString account = ui->edRunAs->text().trimmed();
    if (account != m_account || m_password) {
        const QString* password = m_password && !m_password->isEmpty() ? &*m_password : nullptr;
        if (const HRESULT hr = task->SetAccountInformation(account, password); FAILED(hr)) return hr;
        m_account = account;
        m_password.reset();
    }
    return S_OK;
}
