// Which pages a run takes: the lines of a batch file, and the share of them that one of several
// runs (a cluster's tasks) takes.
#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <vector>

namespace app::cli {

struct Job {
    QString address; // "-" reads the page's HTML from standard input
    QString output;  // "-" writes PNG to standard output
    int index = 0;   // position among the batch's pages as read, from 0
    int line = 0;    // in the batch file, from 1
    // The line of an earlier page of the batch whose picture goes to the same file; 0 when none.
    int outputTakenBy = 0;
};

struct Shard {
    int index = 0; // K: this run takes the pages whose index modulo count is K
    int count = 1; // N
};

inline constexpr int kMaxShards = 100000;

// What the tool reads whole from a file or a pipe, bounded: /dev/zero or a runaway pipe given
// by mistake would otherwise take all the memory there is.
inline constexpr qint64 kMaxBatchBytes = qint64(256) << 20;
inline constexpr qint64 kMaxScriptBytes = qint64(64) << 20;
inline constexpr qint64 kMaxPageBytes = qint64(256) << 20;

// Reads the jobs of a batch file: one "ADDRESS OUTPUT" per line, either part in double quotes
// when it holds blanks; empty lines and lines starting with '#' are skipped. Each job's index
// counts the pages read, from 0.
bool readBatch(const QString& text, std::vector<Job>* jobs, QString* error);

// Marks each page whose output an earlier line of the batch names for another page: the second
// picture would replace the first. Names are compared as the files they lead to, relative to
// folder; a line repeated whole names the same page again and is left as it is.
void markTakenOutputs(std::vector<Job>* jobs, const QString& folder);

// Parses "K/N" (0 <= K < N <= kMaxShards).
bool parseShard(const QString& text, Shard* shard, QString* error);

// The shard a cluster scheduler gives this process when the command line names none: a
// Kubernetes Indexed Job's JOB_COMPLETION_INDEX together with shardCount (Kubernetes does not
// tell its pods the completion count), or a Slurm job array's task, counted from the array's
// first task id in its steps. Returns false with *error set when such variables are there but
// cannot be used; true with *found false when there are none.
bool shardFromEnvironment(const QProcessEnvironment& environment, int shardCount, Shard* shard, bool* found,
                          QString* error);

// The jobs of one shard: those whose index modulo count is the shard's.
std::vector<Job> selectShard(const std::vector<Job>& jobs, const Shard& shard);

} // namespace app::cli
