// The shell's "open" verb: hands a web address or a file to the desktop's default application.
// Tests replace the back-end with a recorder, so that no browser is ever started by a test.
#pragma once

#include "platform/MessageBox.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <vector>

namespace platform {

using HINSTANCE = std::intptr_t;
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;
// Results at or below 32 are errors, as ShellExecute reports them.
constexpr HINSTANCE SE_ERR_NOASSOC = 31;

struct ShellRequest {
    QWidget* owner = nullptr;
    QString verb; // null for the default verb
    QString file;
    QString parameters;
    QString directory;
    int showCommand = SW_SHOWNORMAL;
};

using ShellBackend = std::function<HINSTANCE(const ShellRequest&)>;

// Mirrors ShellExecuteA. Only "open" (and the default verb) is known: a web address goes to the
// default browser, a file to the application registered for its type. Returns a value above 32
// when the desktop took the request.
HINSTANCE ShellExecuteA(OwnerWindow owner, const char* verb, const char* file, const char* parameters,
                        const char* directory, int showCommand);

// Replaces the back-end and returns the previous one; an empty function restores the desktop.
ShellBackend SetShellBackend(ShellBackend backend);

class ShellRecorder {
  public:
    explicit ShellRecorder(HINSTANCE answer = 42);
    ~ShellRecorder();
    ShellRecorder(const ShellRecorder&) = delete;
    ShellRecorder& operator=(const ShellRecorder&) = delete;

    const std::vector<ShellRequest>& calls() const { return m_calls; }

  private:
    std::vector<ShellRequest> m_calls;
    ShellBackend m_previous;
};

} // namespace platform
