#pragma once

// Replaces every message box for the life of the object: records what would
// have been shown and answers with the scripted replies (then the default).
#include "platform/message_box.h"

#include <deque>
#include <vector>

namespace korvo::test {

class MessageBoxes {
public:
    explicit MessageBoxes(int defaultAnswer = IDOK) : m_default(defaultAnswer)
    {
        SetMessageBoxHook([this](const MessageBoxRequest& r) {
            shown.push_back(r);
            if (!answers.empty()) {
                const int a = answers.front();
                answers.pop_front();
                return a;
            }
            return m_default;
        });
    }
    ~MessageBoxes() { SetMessageBoxHook({}); }
    MessageBoxes(const MessageBoxes&) = delete;
    MessageBoxes& operator=(const MessageBoxes&) = delete;

    QString LastText() const { return shown.empty() ? QString() : shown.back().text; }

    std::vector<MessageBoxRequest> shown;
    std::deque<int> answers;

private:
    int m_default;
};

} // namespace korvo::test
