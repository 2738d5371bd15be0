// The command line of velmora-capture.
#pragma once

#include "app/cli/Batch.h"
#include "platform/browser/PageSetup.h"

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <vector>

namespace app::cli {

enum ExitStatus {
    ExitOk = 0,
    ExitUsage = 2,
    ExitLoad = 3,     // a page could not be loaded or timed out
    ExitTooLarge = 4, // a picture too large, or not enough memory for it
    ExitWrite = 5,    // an output could not be written
};

struct CaptureOptions {
    int width = 800;
    int height = 1000;
    int size = 100;
    bool fullPage = false;
    int waitMs = 0;
    int timeoutS = 60;
    int quality = 90;
    int parallel = 1; // --jobs: engines a batch is spread over
    bool quiet = false;
    bool help = false;
    bool skipExisting = false;
    QString reportFile; // "-" is standard output
    QString javascript; // from --javascript or --javascript-file
    QString waitFor;
    QStringList hide;
    QString selector;
    browser::PageSetup setup;
    QString batchFile;
    Shard shard;
    bool worker = false;   // the hidden mode of a batch's helper processes: pages come over a pipe
    std::vector<Job> jobs; // from the command line, or read from the batch file (this shard's)
    int batchPages = 0;    // pages in the whole batch file, before sharding
};

struct ParseResult {
    bool ok = false;
    QString error; // for the user, when !ok
    CaptureOptions options;
};

// The largest --width and --height.
inline constexpr int kMaxViewSide = 20000;

// The option that makes a process one of a batch's helpers; not for users.
inline constexpr char kWorkerOption[] = "--worker-process";

// The engines a batch gets unless --jobs says otherwise: one per two cores of the machine or of
// the container's quota, at least one and at most four (each engine takes several hundred
// megabytes and about two cores with its pages opened ahead).
int defaultParallel();

// Parses the arguments after the program name. Numbers must be whole and in range; options take
// their value as the next argument or after "=". environment is read only for the shard a
// cluster scheduler chooses (JOB_COMPLETION_INDEX, SLURM_ARRAY_TASK_*), and only when no
// --shard is given.
ParseResult parseArguments(const QStringList& arguments,
                           const QProcessEnvironment& environment = QProcessEnvironment());

QString usageText();

} // namespace app::cli
