// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quirelle::test {

// The repository root (from QUIRELLE_SOURCE_DIR, else the working directory).
std::filesystem::path SourceDir();
// ../shared/testdata beside the repository; empty when it is absent (tests then skip).
std::filesystem::path SharedTestData();
// A fresh empty folder under the temporary folder, removed with its contents on destruction.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
// Files in a folder whose names match the glob-free prefix and suffix.
std::vector<std::filesystem::path> FilesMatching(const std::filesystem::path& dir, const std::string& prefix,
                                                 const std::string& suffix);

}  // namespace quirelle::test
