// SPDX-License-Identifier: MIT
#pragma once

// Where the log's rows go, and the thread of its own that puts them there. The meter hands a row
// over and goes on: a slow or full disk, or a pipe whose reader has stalled or left, holds up only
// the writer thread. Rows wait in a queue of bounded length; when it is full a row is dropped and
// counted, never waited for.
//
// Only whole rows stay in a file: when a write fails or is cut short, a regular file is cut back
// to the end of the last row written whole. A log is appended to only when it already starts
// with the same header row, and then after its last whole row.
//
// The thread uses no Qt: when a stalled reader keeps it in a write past the owner's deadline, it
// is let go (detached) and the program may end around it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantel {

enum class ExistingFile {
    // Append to a log that starts with the same header row (an empty file counts); refuse any
    // other file with content. The command line's --log.
    AppendToSameHeader,
    // Replace whatever is there. --log-overwrite, and "Start log…" after the file dialog asked.
    Replace,
};

struct LogTarget {
    std::string path;    // the file name's bytes; "-" for standard output
    std::string header;  // the log's header row, with its line end; empty for none
    ExistingFile existing = ExistingFile::AppendToSameHeader;
    std::size_t queue_rows = 1000;  // about 3 minutes of rows at five a second
};

class LogWriter {
public:
    struct Failure {
        std::string why;           // names the file and the reason
        bool reader_left = false;  // a pipe's reader closed its end (EPIPE)
    };

    // Opens `target` now, from the calling thread: a FIFO that has no reader yet is left for the
    // writer thread to open when one comes, so nothing here waits for another process. Nothing
    // and `error` (naming the file) when it cannot be opened or may not be written to.
    static std::unique_ptr<LogWriter> open(const LogTarget& target, std::string& error);
    // Opens `target` in the writer thread, so that a FIFO or a hung file system never holds up
    // the caller; a failure to open shows as failure() soon after.
    static std::unique_ptr<LogWriter> open_in_background(const LogTarget& target);
    ~LogWriter();
    LogWriter(const LogWriter&) = delete;
    LogWriter& operator=(const LogWriter&) = delete;

    // "standard output", or the path.
    const std::string& name() const { return name_; }
    // What was noticed on opening, worth a line on standard error (a partial last row cut off).
    const std::vector<std::string>& notes() const { return notes_; }

    // Queues one row; false when it was not taken (the queue was full, which is counted, or the
    // writer has stopped).
    bool write(std::string row);
    // Why the writer stopped for good, once it has.
    std::optional<Failure> failure() const;
    // Rows dropped so far because the queue was full.
    std::uint64_t dropped() const;

    // Writes what is queued and stops, waiting for it at most `deadline`. What to report: rows
    // dropped, rows still not taken at the deadline. Later calls return nothing.
    std::vector<std::string> finish(std::chrono::milliseconds deadline);

    struct Shared;

private:
    LogWriter(std::shared_ptr<Shared> shared, std::string name);
    void start();

    std::shared_ptr<Shared> shared_;
    std::string name_;
    std::vector<std::string> notes_;
    bool finished_ = false;
};

// A pipe whose reader has gone, or a file past the size limit (ulimit -f), fails the write as a
// full disk does, instead of ending the program before the analyser gets its option back. The
// log's writer sees to it when it opens; both programs call it first thing in main, for every
// file they write (the settings too).
void fail_writes_instead_of_signalling();

}  // namespace vantel
