// SPDX-License-Identifier: MIT
#include "recorder/log_writer.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#ifdef _WIN32
#include <io.h>

// Windows has no FIFOs, non-blocking opens or descriptor flags: a log there is a file or
// standard output. Rows end in CRLF already, so every file is opened binary (no "\n"
// translation), and no child process inherits it.
#define O_CLOEXEC (O_BINARY | O_NOINHERIT)
#define O_NONBLOCK 0

namespace {

ssize_t pread(int fd, void* into, std::size_t size, off_t at) {
    const off_t was = ::lseek(fd, 0, SEEK_CUR);
    if (was < 0 || ::lseek(fd, at, SEEK_SET) < 0)
        return -1;
    const int n = ::read(fd, into, static_cast<unsigned>(size));
    ::lseek(fd, was, SEEK_SET);
    return n;
}

}  // namespace
#endif

namespace vantel {

namespace {

// write(2); Windows' takes at most an unsigned int's worth at a time.
ssize_t write_some(int fd, const char* data, std::size_t size) {
#ifdef _WIN32
    return ::write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
#else
    return ::write(fd, data, size);
#endif
}

// The descriptor's status flags (O_APPEND); none where the system keeps none.
int status_flags([[maybe_unused]] int fd) {
#ifdef _WIN32
    return 0;
#else
    return ::fcntl(fd, F_GETFL);
#endif
}

constexpr auto kReaderPoll = std::chrono::milliseconds(100);
constexpr char kRowEnd[] = "\r\n";

std::string reason(int error) {
    return std::strerror(error);
}

std::string cannot_open(const std::string& name, int error) {
    return "cannot open the log " + name + ": " + reason(error);
}

bool read_at(int fd, char* into, std::size_t size, off_t at) {
    while (size > 0) {
        const ssize_t n = pread(fd, into, size, at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        into += n;
        size -= static_cast<std::size_t>(n);
        at += static_cast<off_t>(n);
    }
    return true;
}

// The offset just after the last row end in the first `size` bytes of `fd`; 0 when none.
off_t end_of_last_row(int fd, off_t size) {
    constexpr off_t kChunk = 4096;
    std::string chunk;
    off_t end = size;
    while (end > 1) {
        const off_t start = std::max<off_t>(0, end - kChunk);
        chunk.resize(static_cast<std::size_t>(end - start));
        if (!read_at(fd, chunk.data(), chunk.size(), start))
            return 0;
        for (std::size_t i = chunk.size() - 1; i > 0; --i) {
            if (chunk[i] == '\n' && chunk[i - 1] == '\r')
                return start + static_cast<off_t>(i) + 1;
        }
        if (start == 0)
            break;
        end = start + 1;  // a row end across the chunks' border is found in the next one
    }
    return 0;
}

// Clears O_NONBLOCK on a descriptor this program opened (and so owns the flags of).
void make_blocking([[maybe_unused]] int fd) {
#ifndef _WIN32
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
#endif
}

struct Opened {
    int fd = -1;
    bool owns_fd = true;
    bool regular = false;          // can be cut back after a short write
    bool wait_for_reader = false;  // a FIFO without a reader yet: fd is not open
    bool needs_header = true;
    std::string error;
    std::vector<std::string> notes;
};

// Opens (or refuses) `target` as its `existing` rule says. With `reader_may_come`, a FIFO
// without a reader is not an error: the caller waits for one.
Opened open_target(const LogTarget& target, const std::string& name, bool reader_may_come) {
    Opened o;
    if (target.path == "-") {
        o.fd = STDOUT_FILENO;
        o.owns_fd = false;
#ifdef _WIN32
        _setmode(o.fd, O_BINARY);
#endif
        struct stat st {};
        o.regular = ::fstat(o.fd, &st) == 0 && S_ISREG(st.st_mode);
        return o;
    }
    const char* path = target.path.c_str();
    struct stat st {};
    if (::stat(path, &st) != 0) {
        if (errno != ENOENT) {
            o.error = cannot_open(name, errno);
            return o;
        }
        // O_EXCL: a file that appeared meanwhile is not emptied unasked.
        o.fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (o.fd < 0)
            o.error = cannot_open(name, errno);
        o.regular = true;
        return o;
    }
    if (S_ISFIFO(st.st_mode) || !S_ISREG(st.st_mode)) {
        // Without O_NONBLOCK, opening a FIFO waits for a reader and a serial line for its
        // carrier.
        o.fd = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (o.fd >= 0) {
            make_blocking(o.fd);
        } else if (errno == ENXIO && S_ISFIFO(st.st_mode) && reader_may_come) {
            o.wait_for_reader = true;
        } else {
            o.error = cannot_open(name, errno);
        }
        return o;
    }
    o.regular = true;
    if (target.existing == ExistingFile::Replace) {
        o.fd = ::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (o.fd < 0)
            o.error = cannot_open(name, errno);
        return o;
    }
    o.fd = ::open(path, O_RDWR | O_CLOEXEC);
    if (o.fd < 0 || ::fstat(o.fd, &st) != 0) {
        o.error = cannot_open(name, errno);
        return o;
    }
    if (st.st_size == 0)
        return o;
    std::string first(target.header.size(), '\0');
    if (static_cast<std::size_t>(st.st_size) < first.size() ||
        !read_at(o.fd, first.data(), first.size(), 0) || first != target.header) {
        ::close(o.fd);
        o.fd = -1;
        o.error = "the log " + name +
                  " already exists and does not start with this log's header row, so it is left "
                  "as it is (--log-overwrite replaces it)";
        return o;
    }
    o.needs_header = false;
    // A run killed in the middle of a row left part of one: rows appended after it would be
    // joined to it.
    const off_t whole = end_of_last_row(o.fd, st.st_size);
    if (whole < st.st_size) {
        if (::ftruncate(o.fd, whole) != 0) {
            o.error = cannot_open(name, errno);
            ::close(o.fd);
            o.fd = -1;
            return o;
        }
        o.notes.push_back("the log " + name + " ended in part of a row (" +
                          std::to_string(st.st_size - whole) + " bytes), which was cut off");
    }
    ::lseek(o.fd, 0, SEEK_END);
    return o;
}

}  // namespace

struct LogWriter::Shared {
    LogTarget target;
    std::string name;

    std::mutex mutex;
    std::condition_variable wake;  // rows or the stop, for the writer
    std::condition_variable done;  // the writer has ended, for finish()
    std::deque<std::string> queue;
    std::size_t in_flight = 0;  // rows taken from the queue and not yet written
    std::uint64_t dropped = 0;
    bool stop = false;
    bool ended = false;
    std::optional<Failure> failure;

    // The writer thread's own from when it starts.
    Opened file;
    bool open_in_thread = false;

    void fail(std::string why, bool reader_left) {
        const std::lock_guard lock(mutex);
        failure = Failure{std::move(why), reader_left};
        queue.clear();
    }

    // Waits up to `wait` for the stop; true when it came.
    bool stopped_within(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex);
        return wake.wait_for(lock, wait, [this] { return stop; });
    }

    bool open_file() {
        if (open_in_thread) {
            file = open_target(target, name, true);
            if (!file.error.empty()) {
                fail(file.error, false);
                return false;
            }
            if (file.needs_header && !target.header.empty()) {
                const std::lock_guard lock(mutex);
                queue.push_front(target.header);
            }
        }
        // Once stopped, it looks once more: a reader that came since the last look still gets
        // the rows.
        for (bool stopped = false; file.wait_for_reader;) {
            file.fd = ::open(target.path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (file.fd >= 0) {
                make_blocking(file.fd);
                file.wait_for_reader = false;
            } else if (errno != ENXIO) {
                fail(cannot_open(name, errno), false);
                return false;
            } else if (stopped) {
                return false;  // nobody came to read; finish() counts the rows
            } else {
                stopped = stopped_within(kReaderPoll);
            }
        }
        return true;
    }

    // Writes `rows` in one go where the file takes it; on a failure keeps only the rows written
    // whole. False when the log has to stop.
    bool write_rows(const std::vector<std::string>& rows) {
        std::string text;
        std::vector<std::size_t> row_ends;
        for (const std::string& row : rows) {
            text += row;
            row_ends.push_back(text.size());
        }
        // Where the rows begin, to cut back to. Standard output may be shared and appended to
        // (">>"), where the file's end is the place.
        off_t start = -1;
        if (file.regular) {
            const int flags = status_flags(file.fd);
            struct stat st {};
            start = flags >= 0 && (flags & O_APPEND)
                        ? (::fstat(file.fd, &st) == 0 ? st.st_size : -1)
                        : ::lseek(file.fd, 0, SEEK_CUR);
        }
        std::size_t written = 0;
        int error = 0;
        while (written < text.size()) {
            const ssize_t n = write_some(file.fd, text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                error = n < 0 ? errno : EIO;
                break;
            }
            written += static_cast<std::size_t>(n);
        }
        if (error == 0)
            return true;
        std::string why = "the log " + name + " could not be written (" + reason(error) +
                          "), so logging has stopped";
        const auto whole = std::upper_bound(row_ends.begin(), row_ends.end(), written);
        const std::size_t keep = whole == row_ends.begin() ? 0 : *(whole - 1);
        if (keep < written) {
            if (start >= 0 && ::ftruncate(file.fd, start + static_cast<off_t>(keep)) == 0)
                why += "; the part of a row it took was cut off";
            else
                why += "; it ends in part of a row";
        }
        fail(std::move(why), error == EPIPE);
        return false;
    }

    void run() {
        if (open_file()) {
            std::vector<std::string> rows;
            for (;;) {
                {
                    std::unique_lock lock(mutex);
                    wake.wait(lock, [this] { return stop || !queue.empty(); });
                    if (queue.empty())
                        break;
                    rows.assign(std::make_move_iterator(queue.begin()),
                                std::make_move_iterator(queue.end()));
                    queue.clear();
                    in_flight = rows.size();
                }
                const bool ok = write_rows(rows);
                {
                    const std::lock_guard lock(mutex);
                    in_flight = 0;
                }
                if (!ok)
                    break;
            }
        }
        if (file.fd >= 0 && file.owns_fd)
            ::close(file.fd);
        const std::lock_guard lock(mutex);
        ended = true;
        done.notify_all();
    }
};

namespace {

std::string name_of(const LogTarget& target) {
    return target.path == "-" ? "standard output" : target.path;
}

}  // namespace

void fail_writes_instead_of_signalling() {
#ifdef SIGPIPE
    std::signal(SIGPIPE, SIG_IGN);
#endif
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

LogWriter::LogWriter(std::shared_ptr<Shared> shared, std::string name)
    : shared_(std::move(shared)), name_(std::move(name)) {}

std::unique_ptr<LogWriter> LogWriter::open(const LogTarget& target, std::string& error) {
    fail_writes_instead_of_signalling();
    auto shared = std::make_shared<Shared>();
    shared->target = target;
    shared->name = name_of(target);
    shared->file = open_target(target, shared->name, true);
    if (!shared->file.error.empty()) {
        error = shared->file.error;
        return nullptr;
    }
    if (shared->file.needs_header && !target.header.empty())
        shared->queue.push_back(target.header);
    std::unique_ptr<LogWriter> writer(new LogWriter(shared, shared->name));
    writer->notes_ = shared->file.notes;
    writer->start();
    return writer;
}

std::unique_ptr<LogWriter> LogWriter::open_in_background(const LogTarget& target) {
    fail_writes_instead_of_signalling();
    auto shared = std::make_shared<Shared>();
    shared->target = target;
    shared->name = name_of(target);
    shared->open_in_thread = true;
    std::unique_ptr<LogWriter> writer(new LogWriter(shared, shared->name));
    writer->start();
    return writer;
}

void LogWriter::start() {
    // The thread holds the shared state too, so that it may outlive this object.
    std::thread([shared = shared_] { shared->run(); }).detach();
}

LogWriter::~LogWriter() {
    finish(std::chrono::seconds(1));
}

bool LogWriter::write(std::string row) {
    {
        const std::lock_guard lock(shared_->mutex);
        if (shared_->stop || shared_->failure)
            return false;
        if (shared_->queue.size() >= shared_->target.queue_rows) {
            ++shared_->dropped;
            return false;
        }
        shared_->queue.push_back(std::move(row));
    }
    shared_->wake.notify_one();
    return true;
}

std::optional<LogWriter::Failure> LogWriter::failure() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->failure;
}

std::uint64_t LogWriter::dropped() const {
    const std::lock_guard lock(shared_->mutex);
    return shared_->dropped;
}

std::vector<std::string> LogWriter::finish(std::chrono::milliseconds deadline) {
    if (finished_)
        return {};
    finished_ = true;
    std::unique_lock lock(shared_->mutex);
    shared_->stop = true;
    shared_->wake.notify_all();
    const bool ended = shared_->done.wait_for(lock, deadline, [this] { return shared_->ended; });
    std::vector<std::string> report;
    if (shared_->dropped > 0)
        report.push_back(std::to_string(shared_->dropped) + " rows for the log " + name_ +
                         " were dropped because it could not keep up");
    const std::size_t left = shared_->failure ? 0 : shared_->queue.size() + shared_->in_flight;
    if (!ended) {
        // Stuck in a write to a reader that stalled: the thread is left to it.
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(deadline).count();
        report.push_back("the log " + name_ + " did not take its last " + std::to_string(left) +
                         " rows within " + std::to_string(ms) + " ms, so they are lost");
    } else if (left > 0) {
        report.push_back(std::to_string(left) + " rows were never written to the log " + name_ +
                         ", because nothing opened it for reading");
    }
    return report;
}

}  // namespace vantel
