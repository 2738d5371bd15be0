// The one error type of the browser layer: what went wrong, in words a user can be shown.
#pragma once

#include <QString>
#include <stdexcept>

namespace browser {

class BrowserError : public std::runtime_error {
  public:
    using runtime_error::runtime_error;
    explicit BrowserError(const QString& text) : std::runtime_error(text.toStdString()) {}
    QString text() const { return QString::fromUtf8(what()); }
};

// The engine did not answer a call within its time limit.
class BrowserTimeout : public BrowserError {
  public:
    using BrowserError::BrowserError;
};

// The page went on to another document (a script's navigation, a refresh, a reload) while
// something was asked of it: what was asked went with the document it was asked of, and may be
// asked again of the new one.
class DocumentGone : public BrowserError {
  public:
    using BrowserError::BrowserError;
};

} // namespace browser
