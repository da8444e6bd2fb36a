#include "cli/ReportFile.h"

#include "output/DurableFiles.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <ostream>
#include <streambuf>
#include <thread>
#include <vector>

namespace kelvane {

namespace {

namespace fs = std::filesystem;

// An output stream straight onto a descriptor: what std::ofstream cannot do
// for a descriptor it did not open, and without its silent truncation.
class DescriptorBuffer : public std::streambuf {
public:
    explicit DescriptorBuffer(int fd) : fd_(fd), buffer_(1 << 16) { Reset(); }
    int Error() const { return error_; }

protected:
    int_type overflow(int_type ch) override
    {
        if (!Drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }
    int sync() override { return Drain() ? 0 : -1; }

private:
    void Reset() { setp(buffer_.data(), buffer_.data() + buffer_.size()); }
    bool Drain()
    {
        const char* at = pbase();
        size_t left = static_cast<size_t>(pptr() - pbase());
        while (left > 0 && error_ == 0) {
            const ssize_t n = ::write(fd_, at, left);
            if (n >= 0) {
                at += n;
                left -= static_cast<size_t>(n);
            } else if (errno == EAGAIN) {
                // A standard output left non-blocking by whoever started us.
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 1000);
            } else if (errno != EINTR) {
                error_ = errno;
            }
        }
        Reset();
        return error_ == 0;
    }

    int fd_;
    std::vector<char> buffer_;
    int error_ = 0;
};

// A reader that has gone away must make the write fail with EPIPE, not end
// the process: a broken pipe is a failed report, and the working copy must
// still be removed. Only for the time of the write, so that the programs
// this tool starts inherit the usual disposition.
class PipeSignalIgnored {
public:
    PipeSignalIgnored()
    {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        ::sigaction(SIGPIPE, &ignore, &previous_);
    }
    ~PipeSignalIgnored() { ::sigaction(SIGPIPE, &previous_, nullptr); }
    PipeSignalIgnored(const PipeSignalIgnored&) = delete;
    PipeSignalIgnored& operator=(const PipeSignalIgnored&) = delete;

private:
    struct sigaction previous_ {};
};

std::string SystemText(int error) { return std::strerror(error); }

bool SameObject(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Writes everything to fd; false with the reason in `error`.
bool WriteTo(int fd, const std::function<bool(std::ostream&)>& write, std::string& error)
{
    PipeSignalIgnored pipeSignal;
    DescriptorBuffer buffer(fd);
    std::ostream out(&buffer);
    const bool produced = write(out) && out.flush();
    if (buffer.Error() != 0) {
        error = SystemText(buffer.Error());
        return false;
    }
    if (!produced) {
        error = "the content could not be made";
        return false;
    }
    return true;
}

// A regular file behind a descriptor (stdout sent to a file) is synced like
// any saved file; pipes and terminals have nothing to sync.
bool SyncIfFile(int fd, std::string& error)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return true;
    if (::fsync(fd) == 0 || errno == EINVAL) return true;
    error = SystemText(errno);
    return false;
}

// Opens a FIFO or device for writing. A FIFO without a reader would block
// the open with no way to interrupt it, so the open is retried without
// blocking until a reader comes or the run is stopped.
int OpenStream(const std::string& path, const std::function<bool()>& cancelled, bool& wasCancelled)
{
    wasCancelled = false;
    for (;;) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd >= 0) {
            const int flags = ::fcntl(fd, F_GETFL);
            if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
            return fd;
        }
        if (errno == EINTR) continue;
        if (errno != ENXIO) return -1;
        if (cancelled && cancelled()) {
            wasCancelled = true;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

ReportWrite WriteDescriptor(const ReportTarget& target, const std::function<bool(std::ostream&)>& write,
                            std::string& error)
{
    std::fflush(stdout);
    std::cout.flush();
    std::string why;
    if (!WriteTo(target.fd, write, why) || !SyncIfFile(target.fd, why)) {
        error = "cannot write " + target.given + ": " + why;
        return ReportWrite::Failed;
    }
    return ReportWrite::Written;
}

ReportWrite WriteStream(const ReportTarget& target, const std::function<bool(std::ostream&)>& write,
                        const std::function<bool()>& cancelled, std::string& error)
{
    bool wasCancelled = false;
    const int fd = OpenStream(target.path, cancelled, wasCancelled);
    if (wasCancelled) return ReportWrite::Cancelled;
    if (fd < 0) {
        error = "cannot write " + target.given + ": " + SystemText(errno);
        return ReportWrite::Failed;
    }
    // Whatever took the name since the plan was made, a regular file is not
    // written into in place.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        error = "cannot write " + target.given + ": it is no longer a FIFO or a device";
        return ReportWrite::Failed;
    }
    std::string why;
    const bool ok = WriteTo(fd, write, why);
    if (::close(fd) != 0 && ok) why = SystemText(errno);
    if (!ok || !why.empty()) {
        error = "cannot write " + target.given + ": " + why;
        return ReportWrite::Failed;
    }
    return ReportWrite::Written;
}

ReportWrite WriteFile(const ReportTarget& target, const std::function<bool(std::ostream&)>& write, std::string& error)
{
    const std::string& path = target.path;
    const PartialPath partial = CreatePartialFile(path);
    if (!partial) {
        error = "cannot write " + target.given + ": " + partial.error;
        return ReportWrite::Failed;
    }
    auto fail = [&](const std::string& why) {
        ::unlink(partial.path.c_str());
        error = "cannot write " + target.given + ": " + why;
        return ReportWrite::Failed;
    };
    const int fd = ::open(partial.path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return fail(SystemText(errno));
    std::string why;
    const bool ok = WriteTo(fd, write, why);
    if (::close(fd) != 0 && ok) return fail(SystemText(errno));
    if (!ok) return fail(why);
    // The rename replaces whatever has the name by then: never a link or a
    // FIFO that appeared there while the report was being made.
    struct stat now {};
    if (::lstat(path.c_str(), &now) == 0 && !S_ISREG(now.st_mode))
        return fail("it is no longer a regular file, and is left as it is");
    if (PlaceFile(partial.path, path, true, &why) != Placement::Placed) return fail(why);
    return ReportWrite::Written;
}

}  // namespace

std::optional<ReportTarget> PlanReportTarget(const std::string& given, std::string& refusal)
{
    ReportTarget target;
    target.given = given;
    struct stat standardOut {}, standardErr {};
    const bool haveOut = ::fstat(STDOUT_FILENO, &standardOut) == 0;
    const bool haveErr = ::fstat(STDERR_FILENO, &standardErr) == 0;
    if (given == "-") {
        if (!haveOut) {
            refusal = "standard output is closed; " + given + " cannot be written";
            return std::nullopt;
        }
        target.kind = ReportTarget::Kind::Descriptor;
        target.fd = STDOUT_FILENO;
        target.exists = true;
        target.device = standardOut.st_dev;
        target.inode = standardOut.st_ino;
        return target;
    }
    if (given.empty()) {
        refusal = "an empty file name cannot be written";
        return std::nullopt;
    }

    struct stat link {};
    if (::lstat(given.c_str(), &link) != 0) {
        if (errno != ENOENT) {
            refusal = given + ": " + SystemText(errno);
            return std::nullopt;
        }
        // A new file: its folder must be there, or the whole run would be
        // done for a report that cannot be written.
        const fs::path parent = fs::path(given).parent_path();
        const std::string folder = parent.empty() ? "." : parent.string();
        struct stat dir {};
        if (::stat(folder.c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode)) {
            refusal = "the folder " + folder + " of " + given + " does not exist";
            return std::nullopt;
        }
        target.kind = ReportTarget::Kind::File;
        target.path = given;
        return target;
    }
    struct stat st {};
    if (::stat(given.c_str(), &st) != 0) {
        refusal = errno == ENOENT ? given + " is a symbolic link to a file that does not exist; it is not followed"
                                  : given + ": " + SystemText(errno);
        return std::nullopt;
    }
    target.exists = true;
    target.device = st.st_dev;
    target.inode = st.st_ino;
    // Another name of standard output or error (/dev/stdout, /proc/self/fd/1,
    // the file a shell redirected it to): written through the descriptor, as
    // a shell user means it, rather than renamed over and lost.
    if (haveOut && SameObject(st, standardOut)) {
        target.kind = ReportTarget::Kind::Descriptor;
        target.fd = STDOUT_FILENO;
        return target;
    }
    if (haveErr && SameObject(st, standardErr)) {
        target.kind = ReportTarget::Kind::Descriptor;
        target.fd = STDERR_FILENO;
        return target;
    }
    if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
        target.kind = ReportTarget::Kind::Stream;
        target.path = given;
        return target;
    }
    if (S_ISDIR(st.st_mode)) {
        refusal = given + " is a folder";
        return std::nullopt;
    }
    if (!S_ISREG(st.st_mode)) {
        refusal = given + " is " + (S_ISBLK(st.st_mode) ? "a block device" : S_ISSOCK(st.st_mode) ? "a socket" : "not a file") +
                  "; only a file, a FIFO, a character device or - (standard output) can be written";
        return std::nullopt;
    }
    target.kind = ReportTarget::Kind::File;
    target.path = given;
    if (S_ISLNK(link.st_mode)) {
        // Renaming onto the link would turn the user's link into a plain
        // file and leave the file it points to stale. The file it leads to
        // is replaced instead, by a partial file made in that file's folder
        // (a rename cannot cross file systems), and the link still leads to
        // the new content.
        char resolved[PATH_MAX];
        if (::realpath(given.c_str(), resolved) == nullptr) {
            refusal = given + ": " + SystemText(errno);
            return std::nullopt;
        }
        target.path = resolved;
    }
    return target;
}

bool SameTarget(const ReportTarget& a, const ReportTarget& b)
{
    if (a.exists && b.exists) return a.device == b.device && a.inode == b.inode;
    if (a.exists != b.exists) return false;
    std::error_code ea, eb;
    const fs::path pa = fs::weakly_canonical(fs::absolute(a.path, ea), ea);
    const fs::path pb = fs::weakly_canonical(fs::absolute(b.path, eb), eb);
    return !ea && !eb && pa == pb;
}

bool TargetIsFile(const ReportTarget& target, const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    if (target.exists) return target.device == st.st_dev && target.inode == st.st_ino;
    struct stat now {};
    return ::stat(target.path.c_str(), &now) == 0 && SameObject(now, st);
}

bool TakeStandardOutput(ReportTarget& target, std::string& error)
{
    if (target.kind != ReportTarget::Kind::Descriptor || target.fd != STDOUT_FILENO) return true;
    std::fflush(stdout);
    std::cout.flush();
    const int own = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    if (own < 0 || ::dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        error = "cannot keep standard output for " + target.given + ": " + SystemText(errno);
        if (own >= 0) ::close(own);
        return false;
    }
    target.fd = own;
    return true;
}

ReportWrite WriteReport(const ReportTarget& target, const std::function<bool(std::ostream&)>& write,
                        const std::function<bool()>& cancelled, std::string& error)
{
    switch (target.kind) {
    case ReportTarget::Kind::Descriptor: return WriteDescriptor(target, write, error);
    case ReportTarget::Kind::Stream: return WriteStream(target, write, cancelled, error);
    case ReportTarget::Kind::File: break;
    }
    return WriteFile(target, write, error);
}

}  // namespace kelvane
