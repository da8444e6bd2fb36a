#include "output/DurableFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelvane {

namespace {

std::mutex g_observerMutex;
FileStepObserver g_observer;

void Step(const std::string& step, const std::string& path, const std::string& other = {})
{
    FileStepObserver observer;
    {
        std::lock_guard lock(g_observerMutex);
        observer = g_observer;
    }
    if (observer) observer(step, path, other);
}

std::string SystemText(int error) { return std::strerror(error); }

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The permissions an ordinary new file gets; mkstemp makes its files private.
mode_t NewFileMode()
{
    static const mode_t mask = [] {
        const mode_t m = ::umask(0);
        ::umask(m);
        return m;
    }();
    return 0666 & ~mask;
}

// Makes a unique name from pattern (ending in XXXXXX) with make; when the
// name is too long for the file system, falls back to a short name in the
// same folder, which still carries the mark.
template <typename Make>
PartialPath MakeUnique(const std::string& target, Make make)
{
    PartialPath out;
    for (const std::string& pattern :
         {target + kPartialNameMark + "-XXXXXX", FolderOf(target) + "/kelvane" + kPartialNameMark + "-XXXXXX"}) {
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (make(name.data())) {
            out.path = name.data();
            out.error.clear();
            return out;
        }
        out.error = SystemText(errno);
        if (errno != ENAMETOOLONG) break;
    }
    return out;
}

// Claims `to` for `from` where rename cannot refuse to replace: a hard link
// fails on an existing name; without hard links an exclusive create takes
// the name first and the rename then replaces only that empty claim.
int LinkInto(const std::string& from, const std::string& to)
{
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return 0;
    }
    if (errno != EPERM && errno != ENOTSUP && errno != EOPNOTSUPP && errno != ENOSYS && errno != EMLINK) return -1;
    const int claim = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (claim < 0) return -1;
    ::close(claim);
    if (::rename(from.c_str(), to.c_str()) == 0) return 0;
    const int saved = errno;
    ::unlink(to.c_str());
    errno = saved;
    return -1;
}

bool SyncPath(const std::string& path, int flags, std::string* error)
{
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = path + ": " + SystemText(errno);
        return false;
    }
    int rc = ::fsync(fd);
    // Some file systems cannot sync a folder at all; that is no failure of
    // the data.
    if (rc != 0 && (flags & O_DIRECTORY) && (errno == EINVAL || errno == ENOTSUP || errno == EOPNOTSUPP || errno == EROFS))
        rc = 0;
    const int saved = errno;
    ::close(fd);
    if (rc != 0) {
        if (error) *error = path + ": " + SystemText(saved);
        return false;
    }
    return true;
}

}  // namespace

PartialPath CreatePartialFile(const std::string& target)
{
    return MakeUnique(target, [](char* name) {
        const int fd = ::mkostemp(name, O_CLOEXEC);
        if (fd < 0) return false;
        ::fchmod(fd, NewFileMode());
        ::close(fd);
        return true;
    });
}

PartialPath CreatePartialFolder(const std::string& target)
{
    return MakeUnique(target, [](char* name) { return ::mkdtemp(name) != nullptr; });
}

bool SyncFile(const std::string& path, std::string* error)
{
    Step("sync", path);
    return SyncPath(path, O_RDONLY, error);
}

bool SyncFolderOf(const std::string& path, std::string* error)
{
    const std::string folder = FolderOf(path);
    Step("sync folder", folder);
    return SyncPath(folder, O_RDONLY | O_DIRECTORY, error);
}

std::string TakenMeanwhileText(const std::string& to)
{
    return "The file " + to + " was created by another program while this one was being written; it was not replaced.";
}

Placement PlaceFile(const std::string& from, const std::string& to, bool replace, std::string* error)
{
    if (!SyncFile(from, error)) return Placement::Failed;
    Step("rename", from, to);
    int rc = 0;
    if (replace) {
        rc = ::rename(from.c_str(), to.c_str());
    } else {
        rc = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
        if (rc != 0 && (errno == EINVAL || errno == ENOSYS || errno == ENOTSUP || errno == EOPNOTSUPP))
            rc = LinkInto(from, to);
    }
    if (rc != 0) {
        const int saved = errno;
        if (saved == EEXIST) {
            if (error) *error = TakenMeanwhileText(to);
            return Placement::Exists;
        }
        if (error) *error = SystemText(saved);
        return Placement::Failed;
    }
    if (!SyncFolderOf(to, error)) return Placement::Failed;
    return Placement::Placed;
}

void ObserveFileSteps(FileStepObserver observer)
{
    std::lock_guard lock(g_observerMutex);
    g_observer = std::move(observer);
}

bool SameFile(const std::string& a, const std::string& b)
{
    namespace fs = std::filesystem;
    if (a.empty() || b.empty()) return false;
    std::error_code error;
    if (fs::equivalent(a, b, error)) return true;
    const fs::path ca = fs::weakly_canonical(a, error);
    if (error) return a == b;
    const fs::path cb = fs::weakly_canonical(b, error);
    if (error) return a == b;
    return ca == cb;
}

}  // namespace kelvane
