#include "platform/file_dialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace {

FileDialogHook& Hook()
{
    static FileDialogHook hook;
    return hook;
}

// "*.*" means every file; the name shown stays the pattern.
QString QtFilterFor(const QString& pattern)
{
    return pattern + QStringLiteral(" (") + (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern) +
           QLatin1Char(')');
}

} // namespace

void SetFileDialogHook(FileDialogHook hook)
{
    Hook() = std::move(hook);
}

FileDialogResult RunFileDialog(const FileDialogRequest& request)
{
    if (Hook())
        return Hook()(request);

    QFileDialog dialog(request.parent, request.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    dialog.setAcceptMode(request.open ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode(request.open ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.defaultExtension);

    QStringList filters;
    for (const QString& f : request.filters)
        filters << QtFilterFor(f);
    dialog.setNameFilters(filters);
    if (request.filterIndex >= 1 && request.filterIndex <= filters.size())
        dialog.selectNameFilter(filters.at(request.filterIndex - 1));

    const QFileInfo initial(request.initialPath);
    dialog.setDirectory(initial.absolutePath());
    if (!initial.fileName().contains(QLatin1Char('*')) && !initial.fileName().contains(QLatin1Char('?')))
        dialog.selectFile(initial.fileName());

    FileDialogResult result;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return result;
    result.accepted = true;
    result.path = dialog.selectedFiles().constFirst();
    result.filterIndex = static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1;
    if (result.filterIndex < 1)
        result.filterIndex = request.filterIndex;
    return result;
}
