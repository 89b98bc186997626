// Replays fuzz inputs without libFuzzer, so that CTest runs every target over its seeds:
//   <target> [FILE|DIR]... [--patterns FILE --root DIR]
// Directories are walked recursively. A patterns file holds glob patterns relative to the root
// (for example "pngsuite/*.png"); a missing root is skipped.
#include <fnmatch.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

int RunFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return 1;
}

int RunPath(const fs::path& path) {
    std::error_code ec;
    if (fs::is_regular_file(path, ec)) return RunFile(path);
    int count = 0;
    if (fs::is_directory(path, ec))
        for (const auto& entry : fs::recursive_directory_iterator(path, ec))
            if (entry.is_regular_file()) count += RunFile(entry.path());
    return count;
}

int RunPatterns(const fs::path& patternsFile, const fs::path& root) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) {
        std::printf("seed folder %s absent: skipped\n", root.c_str());
        return 0;
    }
    std::vector<std::string> patterns;
    std::ifstream in(patternsFile);
    for (std::string line; std::getline(in, line);)
        if (!line.empty() && line[0] != '#') patterns.push_back(line);
    int count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(root, ec)) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = fs::relative(entry.path(), root).string();
        for (const std::string& p : patterns) {
            if (fnmatch(p.c_str(), relative.c_str(), FNM_PATHNAME) == 0) {
                count += RunFile(entry.path());
                break;
            }
        }
    }
    return count;
}

}  // namespace

int main(int argc, char** argv) {
    int count = 0;
    fs::path patterns, root;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--patterns" && i + 1 < argc) {
            patterns = argv[++i];
        } else if (arg == "--root" && i + 1 < argc) {
            root = argv[++i];
        } else {
            count += RunPath(arg);
        }
    }
    if (!patterns.empty()) count += RunPatterns(patterns, root);
    std::printf("replayed %d inputs\n", count);
    return 0;
}
