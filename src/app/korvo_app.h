#pragma once

// CKorvoApp: the process. It prepares what every window needs, passes the
// first-run gate and runs the main dialog; the process ends when that ends.
#include "platform/profile.h"

#include <cstdint>
#include <functional>

class CKorvoApp {
public:
    // Always false: there is no application message loop after start-up.
    bool InitInstance();

    // Low byte of the system default language id (0x12 on a Korean system).
    std::uint8_t m_byLanguage = 0;

    // The three outside steps of start-up. They default to the real ones;
    // tests replace them to drive the decision without windows.
    struct Steps {
        std::function<bool()> initSockets;
        std::function<int()> runAgreement;   // returns IDOK when accepted
        std::function<void()> runMainDialog;
    };
    Steps m_steps;

    static constexpr const char* kRegistryKey = PROFILE_COMPANY;
    static constexpr const char* kSection = "SETTINGS";
    static constexpr const char* kEntryAgreement = "AGREEMENT";
};

extern CKorvoApp theApp;
