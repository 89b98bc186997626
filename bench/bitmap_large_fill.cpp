// Fills every row of a 20000 x 20000 ie24RGB image (1.2 GB) with the memory threshold at 64 MiB,
// so the rows live in the temporary file, and reports wall time, peak resident memory and whether
// the file is gone afterwards.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "image/ieutils.h"

int main(int argc, char** argv) {
    using namespace quirelle;
    const int32_t side = argc > 1 ? std::atoi(argv[1]) : 20000;
    MemoryThresholdOverride = 64LL * 1024 * 1024;
    std::filesystem::path file;
    const auto start = std::chrono::steady_clock::now();
    {
        TIEBitmap b;
        if (!b.Allocate(side, side, ie24RGB)) {
            std::fprintf(stderr, "allocation failed\n");
            return 1;
        }
        file = b.TempFileName();
        std::printf("location: %s, file: %s\n", b.Location() == ieTempFile ? "temporary file" : "memory",
                    file.c_str());
        for (int32_t y = 0; y < b.Height(); ++y) std::memset(b.RowAddress(y), y & 255, static_cast<size_t>(b.RowLength()));
        // Read back a few rows to check the data went to the file.
        for (int32_t y : {0, side / 2, side - 1})
            if (b.RowAddress(y)[7] != static_cast<uint8_t>(y & 255)) {
                std::fprintf(stderr, "row %d does not read back\n", y);
                return 1;
            }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const bool gone = file.empty() || !std::filesystem::exists(file);
    std::printf("image: %d x %d ie24RGB (%.2f GB)\n", side, side, 3.0 * side * side / 1e9);
    std::printf("wall time: %.2f s (%.0f rows/s)\n", seconds, side / seconds);
    std::printf("peak resident memory: %.1f MiB\n", usage.ru_maxrss / 1024.0);
    std::printf("temporary file removed: %s\n", gone ? "yes" : "NO");
    return gone ? 0 : 1;
}
