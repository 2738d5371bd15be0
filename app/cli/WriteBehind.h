// Writes a page's picture on a thread of its own, so that encoding it (PNG, JPEG, WebP) overlaps
// the loading of the next page. One write at a time: the next picture is only made once the
// last one is written and freed, so a run holds at most one picture.
#pragma once

#include "app/cli/PageResult.h"
#include "pixolan/DibOwner.h"

#include <QByteArray>
#include <functional>
#include <thread>

namespace app::cli {

// Writes picture to output ("-": PNG to standard output) and fills in the result's status,
// message, size, bytes and write time.
void writeOutput(const DibRecord& picture, const QString& output, int quality, PageResult* result);
// The same for a PNG encoded already.
void writeEncodedOutput(const QByteArray& png, const QString& output, PageResult* result);

class WriteBehind {
  public:
    WriteBehind();
    ~WriteBehind();
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;

    // Waits for the write under way, then writes picture on the writer thread and calls done
    // there with the result; the picture is freed before done is called.
    void start(pixolan::DibOwner picture, const QString& output, int quality, PageResult result,
               std::function<void(const PageResult&)> done);
    // The same for a picture the engine has encoded already (PNG), of width x height pixels.
    void startEncoded(QByteArray encoded, int width, int height, const QString& output, PageResult result,
                      std::function<void(const PageResult&)> done);
    // Returns once the write under way, if any, has ended. A caught signal ends the run
    // meanwhile: a write to a reader that has stopped reading (a stalled pipe) can take for ever.
    void wait();

  private:
    // Runs write on the writer thread, which tells m_ended when it is done.
    template <class Write> void run(Write write);

    std::thread m_thread;
    int m_ended = -1; // an eventfd
};

} // namespace app::cli
