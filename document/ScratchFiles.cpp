#include "ScratchFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <unistd.h>

namespace kelvane {

namespace fs = std::filesystem;

namespace {

constexpr const char* kLockMagic = "kelvane scratch 1";
constexpr const char* kPartialMark = ".kelvane-partial";
// A partial output without a lock file is only taken for abandoned when no
// process has it open and nobody has written it for this long: a live writer
// may close it for a moment before renaming it into place.
constexpr time_t kPartialQuietSeconds = 600;

// Who a process is, beyond its reusable id: its start time since boot and
// the boot itself.
struct ProcessId {
    long pid = 0;
    unsigned long long startTicks = 0;
    std::string bootId;
};

std::string BootId()
{
    std::ifstream in("/proc/sys/kernel/random/boot_id");
    std::string id;
    std::getline(in, id);
    return id;
}

// The start time of a process (field 22 of its stat line), 0 when unknown.
unsigned long long StartTicks(long pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) return 0;
    // The command name (field 2) may hold blanks and parentheses; the fields
    // after it start behind its last ')'.
    const size_t close = line.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(line.substr(close + 1));
    std::string field;
    for (int k = 3; k <= 22; ++k) {
        if (!(rest >> field)) return 0;
    }
    return std::strtoull(field.c_str(), nullptr, 10);
}

ProcessId Self()
{
    // Learned again after a fork: the child is another process.
    static ProcessId self;
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    if (self.pid != static_cast<long>(::getpid())) self = ProcessId{static_cast<long>(::getpid()), StartTicks(::getpid()), BootId()};
    return self;
}

// False only when the recorded process has provably ended: another boot, no
// such process, or a process of that id started at another time. When
// nothing can be told, it is taken to be alive.
bool MayBeAlive(const ProcessId& who)
{
    const std::string boot = BootId();
    if (!boot.empty() && !who.bootId.empty() && boot != who.bootId) return false;
    if (who.pid <= 0) return true;
    if (::kill(static_cast<pid_t>(who.pid), 0) != 0 && errno == ESRCH) return false;
    const unsigned long long ticks = StartTicks(who.pid);
    if (ticks != 0 && who.startTicks != 0 && ticks != who.startTicks) return false;
    return true;
}

// Which file a scratch file is: its device and inode, and its birth time
// where the file system keeps one (an inode number is soon reused once its
// file is deleted; the birth time tells a new file from the old one).
struct FileId {
    unsigned long long dev = 0, ino = 0;
    long long birthSec = 0;
    long birthNsec = 0;
};

// The identity of the regular file at path (not following a symlink).
bool IdOf(const std::string& path, FileId& id)
{
    struct statx stx {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_TYPE | STATX_INO | STATX_BTIME, &stx) != 0 ||
        !S_ISREG(stx.stx_mode))
        return false;
    id.dev = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    id.ino = stx.stx_ino;
    id.birthSec = (stx.stx_mask & STATX_BTIME) ? stx.stx_btime.tv_sec : 0;
    id.birthNsec = (stx.stx_mask & STATX_BTIME) ? static_cast<long>(stx.stx_btime.tv_nsec) : 0;
    return true;
}

// True when path names the file `id`. A birth time missing on either side
// (a file system without one) is not held against it.
bool IsFile(const std::string& path, const FileId& id)
{
    FileId now;
    if (!IdOf(path, now) || now.dev != id.dev || now.ino != id.ino) return false;
    return id.birthSec == 0 || now.birthSec == 0 || (now.birthSec == id.birthSec && now.birthNsec == id.birthNsec);
}

struct Guard {
    std::string path;
    std::string lockPath;
    int lockFd = -1;
    FileId id;
};

// Removes a lock file only while the name still holds the file opened as fd.
void UnlinkLock(const std::string& lockPath, int fd)
{
    struct stat mine {};
    struct stat there {};
    if (fd >= 0 && ::fstat(fd, &mine) == 0 && ::lstat(lockPath.c_str(), &there) == 0 && S_ISREG(there.st_mode) &&
        there.st_dev == mine.st_dev && there.st_ino == mine.st_ino)
        ::unlink(lockPath.c_str());
}

class Registry {
public:
    ~Registry()
    {
        // At exit: a scratch file that is gone or has become a real file
        // needs no lock file any more. One that still exists keeps its lock
        // file, so that the next run can tell it is abandoned and remove it.
        std::lock_guard<std::mutex> lock(mutex_);
        for (Guard& g : guards_) {
            if (!IsFile(g.path, g.id)) UnlinkLock(g.lockPath, g.lockFd);
            ::close(g.lockFd);
        }
    }

    void Add(Guard g)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        guards_.push_back(std::move(g));
    }

    // Takes the guard of path out of the list; false when there is none.
    bool Take(const std::string& path, Guard& out)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = guards_.begin(); it != guards_.end(); ++it) {
            if (it->path == path) {
                out = std::move(*it);
                guards_.erase(it);
                return true;
            }
        }
        return false;
    }

    // Takes out the guards whose files are gone from their names.
    std::vector<Guard> TakeGone()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::vector<Guard> gone;
        for (auto it = guards_.begin(); it != guards_.end();) {
            if (IsFile(it->path, it->id)) {
                ++it;
            } else {
                gone.push_back(std::move(*it));
                it = guards_.erase(it);
            }
        }
        return gone;
    }

    bool Has(const std::string& path)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Guard& g : guards_)
            if (g.path == path) return true;
        return false;
    }

private:
    std::mutex mutex_;
    std::vector<Guard> guards_;
};

Registry& Guards()
{
    static Registry registry;
    return registry;
}

std::string SystemText(const std::string& path, int error) { return path + ": " + std::strerror(error); }

// The lock file's text: who made it, then (once the scratch file exists)
// which file it guards.
std::string Record(bool withFile, const FileId& id)
{
    const ProcessId self = Self();
    char text[256];
    std::snprintf(text, sizeof text, "%s\n%ld %llu %s\n", kLockMagic, self.pid, self.startTicks,
                  self.bootId.empty() ? "-" : self.bootId.c_str());
    std::string record = text;
    if (withFile) {
        std::snprintf(text, sizeof text, "%llu %llu %lld %ld\n", id.dev, id.ino, id.birthSec, id.birthNsec);
        record += text;
    }
    return record;
}

bool WriteAll(int fd, const std::string& text)
{
    return ::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size());
}

// Makes and locks the lock file of a scratch file, naming this process in it.
int MakeLock(const std::string& lockPath, std::string& error)
{
    const int fd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        // Named after the scratch file: the lock file is ours, not the user's concern.
        error = SystemText(lockPath.substr(0, lockPath.size() - std::strlen(kScratchLockSuffix)), errno);
        return -1;
    }
    // Where the file system cannot lock, the record of the process still
    // keeps a later run from taking the files of a live one.
    (void)::flock(fd, LOCK_EX | LOCK_NB);
    if (!WriteAll(fd, Record(false, FileId{}))) {
        error = SystemText(lockPath, errno ? errno : EIO);
        ::unlink(lockPath.c_str());
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Adopt(const std::string& path, int lockFd, const std::string& lockPath, std::string& error)
{
    FileId id;
    errno = 0;
    if (!IdOf(path, id)) {
        error = SystemText(path, errno ? errno : EINVAL);
        return false;
    }
    if (!WriteAll(lockFd, Record(true, id))) {
        error = SystemText(lockPath, errno ? errno : EIO);
        return false;
    }
    Guards().Add(Guard{path, lockPath, lockFd, id});
    return true;
}

bool EndsWith(const std::string& s, const std::string& tail)
{
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// True when some process this user can see has the file (dev, ino) open.
bool OpenAnywhere(dev_t dev, ino_t ino)
{
    DIR* proc = ::opendir("/proc");
    if (!proc) return true;  // cannot tell: assume it is in use
    bool found = false;
    while (const dirent* p = ::readdir(proc)) {
        if (p->d_name[0] < '0' || p->d_name[0] > '9') continue;
        const std::string fdDir = std::string("/proc/") + p->d_name + "/fd";
        DIR* fds = ::opendir(fdDir.c_str());
        if (!fds) continue;
        while (const dirent* f = ::readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            struct stat st {};
            if (::stat((fdDir + "/" + f->d_name).c_str(), &st) == 0 && st.st_dev == dev && st.st_ino == ino) {
                found = true;
                break;
            }
        }
        ::closedir(fds);
        if (found) break;
    }
    ::closedir(proc);
    return found;
}

// One lock file found in a folder: removes its scratch file and itself when
// the run that made them has provably ended.
void ReclaimLocked(const std::string& lockPath, std::vector<std::string>& removed)
{
    const std::string scratch = lockPath.substr(0, lockPath.size() - std::strlen(kScratchLockSuffix));
    const int fd = ::open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_size >= 256) {
        ::close(fd);
        return;
    }
    // Held by a live run: not ours to judge. A file system that cannot lock
    // at all leaves the judgement to the process record below.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        return;
    }
    char text[256] = {};
    const ssize_t n = ::pread(fd, text, sizeof text - 1, 0);
    std::istringstream in(std::string(text, n > 0 ? static_cast<size_t>(n) : 0));
    std::string magic;
    std::getline(in, magic);
    ProcessId who;
    FileId id;
    // A lock file that names no process (cut off while it was being made)
    // proves nothing and stays.
    bool dead = magic == kLockMagic && static_cast<bool>(in >> who.pid >> who.startTicks >> who.bootId);
    if (dead) {
        if (who.bootId == "-") who.bootId.clear();
        dead = !MayBeAlive(who);
    }
    const bool identified = dead && static_cast<bool>(in >> id.dev >> id.ino >> id.birthSec >> id.birthNsec);
    if (dead) {
        struct stat sst {};
        if (identified && IsFile(scratch, id) && ::lstat(scratch.c_str(), &sst) == 0 && sst.st_uid == ::geteuid() &&
            ::unlink(scratch.c_str()) == 0)
            removed.push_back(scratch);
        UnlinkLock(lockPath, fd);
    }
    ::close(fd);
}

void ReclaimPartial(const std::string& path, std::vector<std::string>& removed)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) return;
    if (std::time(nullptr) - st.st_mtime < kPartialQuietSeconds) return;
    if (OpenAnywhere(st.st_dev, st.st_ino)) return;
    FileId id;
    if (IdOf(path, id) && id.dev == static_cast<unsigned long long>(st.st_dev) &&
        id.ino == static_cast<unsigned long long>(st.st_ino) && ::unlink(path.c_str()) == 0)
        removed.push_back(path);
}

}  // namespace

std::string FreeScratchName(const std::string& path)
{
    std::error_code ec;
    auto taken = [&ec](const std::string& p) {
        return fs::exists(fs::symlink_status(p, ec)) || fs::exists(fs::symlink_status(p + kScratchLockSuffix, ec));
    };
    if (!taken(path)) return path;
    const fs::path p(path);
    const std::string stem = (p.parent_path() / p.stem()).string();
    const std::string ext = p.extension().string();
    for (int k = 2; k < 10000; ++k) {
        std::string candidate = stem + "-" + std::to_string(k) + ext;
        if (!taken(candidate)) return candidate;
    }
    return path + "-" + std::to_string(::getpid());
}

bool CreateScratchFile(const std::string& path, std::string& error)
{
    const std::string lockPath = path + kScratchLockSuffix;
    const int lockFd = MakeLock(lockPath, error);
    if (lockFd < 0) return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = SystemText(path, errno);
        ::unlink(lockPath.c_str());
        ::close(lockFd);
        return false;
    }
    ::close(fd);
    if (!Adopt(path, lockFd, lockPath, error)) {
        ::unlink(path.c_str());
        ::unlink(lockPath.c_str());
        ::close(lockFd);
        return false;
    }
    return true;
}

std::string CreateFreeScratchFile(const std::string& path, std::string& error)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        const std::string candidate = FreeScratchName(path);
        if (CreateScratchFile(candidate, error)) return candidate;
        // Free a moment ago and taken now: another run got there first.
        std::error_code ec;
        const bool taken = std::filesystem::exists(std::filesystem::symlink_status(candidate, ec)) ||
                           std::filesystem::exists(std::filesystem::symlink_status(candidate + kScratchLockSuffix, ec));
        if (!taken) return {};
    }
    return {};
}

bool AdoptScratchFile(const std::string& path, std::string& error)
{
    const std::string lockPath = path + kScratchLockSuffix;
    const int lockFd = MakeLock(lockPath, error);
    if (lockFd < 0) return false;
    if (!Adopt(path, lockFd, lockPath, error)) {
        ::unlink(lockPath.c_str());
        ::close(lockFd);
        return false;
    }
    return true;
}

void RemoveScratchFile(const std::string& path)
{
    if (path.empty()) return;
    Guard g;
    if (!Guards().Take(path, g)) {
        std::error_code ec;
        fs::remove(path, ec);
        return;
    }
    if (IsFile(path, g.id)) ::unlink(path.c_str());
    UnlinkLock(g.lockPath, g.lockFd);
    ::close(g.lockFd);
}

void ReleaseScratchFile(const std::string& path)
{
    Guard g;
    if (!Guards().Take(path, g)) return;
    UnlinkLock(g.lockPath, g.lockFd);
    ::close(g.lockFd);
}

void ReleaseGoneScratchFiles()
{
    for (Guard& g : Guards().TakeGone()) {
        UnlinkLock(g.lockPath, g.lockFd);
        ::close(g.lockFd);
    }
}

bool IsOwnScratchFile(const std::string& path) { return Guards().Has(path); }

std::vector<std::string> ReclaimDeadScratchFiles(const std::string& folder)
{
    std::vector<std::string> removed;
    std::vector<std::string> locks, partials;
    std::error_code ec;
    for (fs::directory_iterator it(folder.empty() ? "." : folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (EndsWith(name, kScratchLockSuffix)) locks.push_back(it->path().string());
        else if (name.find(kPartialMark) != std::string::npos) partials.push_back(it->path().string());
    }
    for (const std::string& lock : locks) ReclaimLocked(lock, removed);
    for (const std::string& partial : partials) {
        std::error_code e;
        // A partial output with a lock file is judged by its lock.
        if (!fs::exists(fs::symlink_status(partial + kScratchLockSuffix, e))) ReclaimPartial(partial, removed);
    }
    return removed;
}

}  // namespace kelvane
