#include "platform/Help.h"

namespace platform {

namespace {

HelpBackend& helpBackend() {
    static HelpBackend current;
    return current;
}

QString& helpFile() {
    static QString path;
    return path;
}

} // namespace

bool WinHelp(OwnerWindow owner, const QString& file, UINT command, std::uintptr_t data) {
    if (helpBackend()) return helpBackend()(HelpRequest{owner.widget(), file, command, data});
    return true;
}

void SetApplicationHelpFile(const QString& path) {
    helpFile() = path;
}

QString ApplicationHelpFile() {
    return helpFile();
}

HelpBackend SetHelpBackend(HelpBackend replacement) {
    HelpBackend previous = std::move(helpBackend());
    helpBackend() = std::move(replacement);
    return previous;
}

HelpRecorder::HelpRecorder() {
    m_previous = SetHelpBackend([this](const HelpRequest& request) {
        m_calls.push_back(request);
        return true;
    });
}

HelpRecorder::~HelpRecorder() {
    SetHelpBackend(std::move(m_previous));
}

} // namespace platform
