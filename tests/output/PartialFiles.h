#pragma once
// The partial files an export leaves in a folder: none may survive a
// finished, failed or cancelled output.

#include "output/DurableFiles.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kelvane::test {

// Names in the folder of p (or in p when it is a folder) that carry the
// partial mark, files and folders alike.
inline std::vector<std::string> PartialFilesBeside(const std::filesystem::path& p)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path folder = fs::is_directory(p, ec) ? p : p.parent_path();
    std::vector<std::string> found;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.find(kPartialNameMark) != std::string::npos) found.push_back(name);
    }
    return found;
}

}  // namespace kelvane::test
