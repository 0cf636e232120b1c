#include "platform/file_dialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

FileDialogHook& Hook()
{
    static FileDialogHook hook;
    return hook;
}

bool IsNamedFilter(const QString& filter)
{
    return filter.contains(QLatin1Char('('));
}

// "*.*" means every file; the name shown stays the pattern. A named filter
// is already what the dialog takes.
QString QtFilterFor(const QString& pattern)
{
    if (IsNamedFilter(pattern))
        return pattern;
    return pattern + QStringLiteral(" (") +
           (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern) + QLatin1Char(')');
}

// "Text (*.txt)": "txt"; nothing for "*.*".
QString FilterSuffix(const QString& filter)
{
    static const QRegularExpression suffix(QStringLiteral("\\*\\.(\\w+)"));
    return suffix.match(filter).captured(1);
}

FileDialogResult RunQtFileDialog(const FileDialogRequest& request)
{
    QFileDialog dialog(request.parent, request.title);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails,
                     std::none_of(request.filters.begin(), request.filters.end(), IsNamedFilter));
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
    if (request.suffixFromFilter) {
        // The dialog adds the suffix before it asks about overwriting.
        dialog.setDefaultSuffix(FilterSuffix(dialog.selectedNameFilter()));
        QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                         [&dialog](const QString& filter) { dialog.setDefaultSuffix(FilterSuffix(filter)); });
    }

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

} // namespace

void SetFileDialogHook(FileDialogHook hook)
{
    Hook() = std::move(hook);
}

FileDialogResult RunFileDialog(const FileDialogRequest& request)
{
    FileDialogResult result = Hook() ? Hook()(request) : RunQtFileDialog(request);
    if (result.accepted && request.suffixFromFilter && QFileInfo(result.path).suffix().isEmpty() &&
        result.filterIndex >= 1 && result.filterIndex <= request.filters.size()) {
        const QString suffix = FilterSuffix(request.filters.at(result.filterIndex - 1));
        if (!suffix.isEmpty())
            result.path += QLatin1Char('.') + suffix;
    }
    return result;
}
