// The help system. There is none on Linux, and the program names no help file, so WinHelp
// accepts its commands and does nothing; tests record them.
#pragma once

#include "platform/MessageBox.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

namespace platform {

constexpr UINT HELP_CONTEXT = 0x0001;
constexpr UINT HELP_QUIT = 0x0002;
constexpr UINT HELP_CONTENTS = 0x0003;

struct HelpRequest {
    QWidget* owner = nullptr;
    QString helpFile;
    UINT command = 0;
    std::uintptr_t data = 0;
};

using HelpBackend = std::function<bool(const HelpRequest&)>;

// Mirrors WinHelpA. Returns true (the request was taken).
bool WinHelp(OwnerWindow owner, const QString& helpFile, UINT command, std::uintptr_t data);

// The application's help-file path (a folder and a file name; the file name may be empty).
void SetApplicationHelpFile(const QString& path);
QString ApplicationHelpFile();

HelpBackend SetHelpBackend(HelpBackend backend);

class HelpRecorder {
  public:
    HelpRecorder();
    ~HelpRecorder();
    HelpRecorder(const HelpRecorder&) = delete;
    HelpRecorder& operator=(const HelpRecorder&) = delete;

    const std::vector<HelpRequest>& calls() const { return m_calls; }

  private:
    std::vector<HelpRequest> m_calls;
    HelpBackend m_previous;
};

} // namespace platform
