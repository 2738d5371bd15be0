// The command line of velmora-capture.
#pragma once

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

struct Job {
    QString address;
    QString output; // "-" writes PNG to standard output
};

struct CaptureOptions {
    int width = 800;
    int height = 1000;
    int size = 100;
    bool fullPage = false;
    int waitMs = 0;
    int timeoutS = 60;
    int quality = 90;
    bool quiet = false;
    bool help = false;
    QString batchFile;
    std::vector<Job> jobs; // from the command line, or read from the batch file
};

struct ParseResult {
    bool ok = false;
    QString error; // for the user, when !ok
    CaptureOptions options;
};

// Parses the arguments after the program name. Numbers must be whole and in range; options take
// their value as the next argument or after "=".
ParseResult parseArguments(const QStringList& arguments);

// Reads the jobs of a batch file: one "ADDRESS OUTPUT" per line, either part in double quotes
// when it holds blanks; empty lines and lines starting with '#' are skipped.
bool readBatch(const QString& text, std::vector<Job>* jobs, QString* error);

QString usageText();

} // namespace app::cli
