#include "TUserPrompts.h"

#include "KnownHosts.h"
#include "TTargetComputerDialog.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QSpacerItem>
#include <QStyle>
#include <QGuiApplication>
#include <QIcon>
#include <QInputDialog>
#include <QUrl>

namespace {
// Message texts use "\r\n" for a line break; a label wants a bare line feed.
QString Displayed(const QString& text)
{
    return QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

} // namespace

int TUserPrompts::TitleWidth(const QWidget& ABox)
{
    // The caption's text plus what the frame puts beside it: the window icon and the three
    // title buttons, each about as wide as the title bar is high.
    const int bar = ABox.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &ABox);
    return ABox.fontMetrics().horizontalAdvance(ABox.windowTitle()) + 4 * std::max(bar, 20) + 16;
}

namespace {

// A message box is as wide as its text; a short text would cut its title short.
void FitTitle(QMessageBox& box)
{
    auto* grid = qobject_cast<QGridLayout*>(box.layout());
    if (!grid) return;
    grid->addItem(new QSpacerItem(TUserPrompts::TitleWidth(box), 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0,
                  1, grid->columnCount());
}

// Programs here carry no extension, so "executable" is the file's permission, not its name.
bool ChooseExecutable(QFileDialog& dialog, TUserPrompts& prompts, QString& fileName)
{
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setSizeGripEnabled(true);
    while (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty()) {
        const QFileInfo chosen(dialog.selectedFiles().constFirst());
        if (chosen.isFile() && chosen.isExecutable()) {
            fileName = chosen.absoluteFilePath();
            return true;
        }
        prompts.ShowMessage(&dialog, QStringLiteral("\"%1\" is not an executable file.").arg(chosen.filePath()), {},
                            QMessageBox::Warning);
    }
    return false;
}
} // namespace

void TUserPrompts::ShowException(QWidget* AParent, const QString& AMessage, QMessageBox::Icon AIcon)
{
    ShowMessage(AParent, AMessage, {}, AIcon);
}

void TUserPrompts::ShowMessage(QWidget* AParent, const QString& AText, const QString& ACaption, QMessageBox::Icon AIcon)
{
    QMessageBox box(AIcon, ACaption.isEmpty() ? QGuiApplication::applicationDisplayName() : ACaption,
                    Displayed(AText), QMessageBox::Ok, AParent);
    FitTitle(box);
    box.exec();
}

bool TUserPrompts::ConfirmWarning(QWidget* AParent, const QString& AText)
{
    QMessageBox box(QMessageBox::Warning, QGuiApplication::applicationDisplayName(), Displayed(AText),
                    QMessageBox::Yes | QMessageBox::No, AParent);
    box.setDefaultButton(QMessageBox::No);
    FitTitle(box);
    return box.exec() == QMessageBox::Yes;
}

bool TUserPrompts::AskQuestion(QWidget* AParent, const QString& AText)
{
    QMessageBox box(QMessageBox::Question, QGuiApplication::applicationDisplayName(), Displayed(AText),
                    QMessageBox::Yes | QMessageBox::No, AParent);
    FitTitle(box);
    return box.exec() == QMessageBox::Yes;
}

bool TUserPrompts::InputQuery(QWidget* AParent, const QString& ACaption, const QString& APrompt, QString& AValue)
{
    bool ok = false;
    const QString text = QInputDialog::getText(AParent, ACaption, APrompt, QLineEdit::Normal, AValue, &ok);
    if (ok) AValue = text;
    return ok;
}

bool TUserPrompts::SelectExecutable(QWidget* AParent, QString& AFileName)
{
    QFileDialog dialog(AParent, QStringLiteral("Select executable to run..."));
    dialog.setNameFilter(QStringLiteral("Executable Files (*)"));
    dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
    return ChooseExecutable(dialog, *this, AFileName);
}

bool TUserPrompts::SelectProgram(QWidget* AParent, QString& AFileName)
{
    const QFileInfo current(AFileName);
    QFileDialog dialog(AParent, QString(), AFileName.isEmpty() ? QString() : current.absolutePath());
    if (current.isFile()) dialog.selectFile(current.absoluteFilePath());
    // "Applications" lists the executable files, "All Files" everything; either way only an
    // executable file is taken.
    dialog.setNameFilters({QStringLiteral("Applications (*)"), QStringLiteral("All Files (*)")});
    dialog.setFilter(QDir::AllDirs | QDir::Files | QDir::Executable | QDir::NoDotAndDotDot);
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& filter) {
        const QDir::Filters files = QDir::AllDirs | QDir::Files | QDir::NoDotAndDotDot;
        dialog.setFilter(filter.startsWith(QLatin1String("Applications")) ? files | QDir::Executable : files);
    });
    return ChooseExecutable(dialog, *this, AFileName);
}

bool TUserPrompts::SelectTargetComputer(QWidget* AParent, const QString& ATitle, QString& AComputer)
{
    TTargetComputerDialog dialog(Displayed(ATitle), KnownHosts::ForCurrentUser(), AParent);
    if (dialog.exec() != QDialog::Accepted) return false;
    AComputer = dialog.Computer();
    return !AComputer.isEmpty();
}

void TUserPrompts::ShowAbout(QWidget* AParent, const QString& AAppText, const QString& ANotice, const QIcon& AIcon)
{
    QMessageBox box(AParent);
    box.setWindowTitle(QStringLiteral("About %1").arg(AAppText));
    box.setText(AAppText);
    box.setInformativeText(ANotice);
    box.setIconPixmap(AIcon.pixmap(48, 48));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

bool TUserPrompts::OpenUrl(const QUrl& AUrl)
{
    return QDesktopServices::openUrl(AUrl);
}
