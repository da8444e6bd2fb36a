#pragma once
// A scratch directory per test, so tests never share files and never leave
// any behind, even when an assertion returns early.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane::test {

class TempDir {
public:
    // Creates a new, empty directory under the system temporary directory,
    // named after prefix plus a unique suffix. Throws std::runtime_error if
    // none can be created (a test cannot proceed without one).
    explicit TempDir(std::string_view prefix = "kelvane-test");
    // Removes the directory and everything in it; errors are ignored, since
    // a destructor must not throw and a leftover temp file harms nobody.
    ~TempDir();

    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // path() / name; does not create anything.
    std::filesystem::path file(std::string_view name) const { return path_ / std::filesystem::path(name); }

private:
    std::filesystem::path path_;
};

// Whole-file helpers for byte comparisons (for instance, that a source file
// is left exactly as it was). ReadFileBytes returns an empty vector for a
// missing file; WriteFileBytes returns false if the file cannot be written.
std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
bool WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace kelvane::test
