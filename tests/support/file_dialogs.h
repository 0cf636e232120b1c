#pragma once

// Replaces the file dialog for the life of the object: records each request
// and answers with the scripted choices (then with Cancel).
#include "platform/file_dialog.h"

#include <deque>
#include <vector>

namespace korvo::test {

class FileDialogs {
public:
    FileDialogs()
    {
        SetFileDialogHook([this](const FileDialogRequest& r) {
            asked.push_back(r);
            if (choices.empty())
                return FileDialogResult{};
            FileDialogResult c = choices.front();
            choices.pop_front();
            return c;
        });
    }
    ~FileDialogs() { SetFileDialogHook({}); }
    FileDialogs(const FileDialogs&) = delete;
    FileDialogs& operator=(const FileDialogs&) = delete;

    void Choose(const QString& path, int filterIndex = 1) { choices.push_back({true, path, filterIndex}); }
    void Cancel() { choices.push_back({}); }

    std::vector<FileDialogRequest> asked;
    std::deque<FileDialogResult> choices;
};

} // namespace korvo::test
