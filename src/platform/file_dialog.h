#pragma once

// The standard file dialog behind one function; tests replace it with a hook
// that reads the request and returns the user's choice.
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

struct FileDialogRequest {
    bool open = true;           // open form; false: save form
    QString title;
    QString defaultExtension;   // added to a typed name without one
    QString initialPath;        // folder and file name (a wildcard name filters)
    QStringList filters;        // patterns, each shown as its own name ("*.bin", "*.*"),
                                // or named ("Text (*.txt)")
    int filterIndex = 1;        // 1-based, as selected
    bool overwritePrompt = false;
    // A name without a suffix takes the selected filter's instead of
    // defaultExtension ("Text (*.txt)": "txt").
    bool suffixFromFilter = false;
    QWidget* parent = nullptr;
};

struct FileDialogResult {
    bool accepted = false;
    QString path;
    int filterIndex = 1;
};

using FileDialogHook = std::function<FileDialogResult(const FileDialogRequest&)>;

FileDialogResult RunFileDialog(const FileDialogRequest& request);
void SetFileDialogHook(FileDialogHook hook);
