// A full disk, as the process meets it: while a FileSizeLimit lives, no file may grow beyond
// the given size, and a write past it fails (the signal it would bring is ignored meanwhile).
#pragma once

#include <csignal>
#include <sys/resource.h>

namespace testing_support {

class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_applied = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool applied() const { return m_applied; }

  private:
    rlimit m_saved{};
    void (*m_handler)(int) = SIG_DFL;
    bool m_applied = false;
};

} // namespace testing_support
