// A page whose HTML comes on standard input (ADDRESS "-").
#pragma once

#include <QString>
#include <QTemporaryFile>
#include <memory>

namespace app::cli {

class StdinPage {
  public:
    StdinPage() = default;
    ~StdinPage();
    StdinPage(const StdinPage&) = delete;
    StdinPage& operator=(const StdinPage&) = delete;

    // Reads all of standard input and puts it in a hidden file of its own in folder, which goes
    // again when this object does. False with *error when the folder takes no file.
    bool create(const QString& folder, QString* error);
    // The file's address, for the engine.
    QString address() const;

  private:
    std::unique_ptr<QTemporaryFile> m_file;
};

} // namespace app::cli
