// JPEG encode and decode speed on a 4000 x 3000 photo-like picture (smooth gradients, rings and
// fine texture), in Mpx/s, beside libjpeg-turbo's own tjbench on the same files when tjbench is
// on PATH. Settings on both sides: quality 95, 4:2:0, accurate integer DCT, blue-green-red pixels.
//   bench_jpeg_large_photo [folder] [repetitions]
// The folder receives photo.ppm and photo.jpg for tjbench and keeps them; without one, a scratch
// folder in the temporary folder is used and removed.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codecs/jpegfilt.h"
#include "platform/iesystem.h"

namespace {

using namespace quirelle;
using Clock = std::chrono::steady_clock;

constexpr int32_t kWidth = 4000, kHeight = 3000;

void DrawPhoto(TIEBitmap& bitmap) {
    uint32_t seed = 1;
    for (int32_t y = 0; y < kHeight; ++y) {
        uint8_t* row = bitmap.RowAddress(y);
        const double fy = static_cast<double>(y) / kHeight;
        for (int32_t x = 0; x < kWidth; ++x) {
            const double fx = static_cast<double>(x) / kWidth;
            const double ring = 0.5 + 0.5 * std::sin(60.0 * std::hypot(fx - 0.6, fy - 0.4));
            const double sky = 1.0 - fy;
            seed = seed * 1664525u + 1013904223u;
            const double grain = static_cast<double>(seed >> 28) - 7.5;  // sensor-like noise
            const double r = 30 + 170 * fx * (0.6 + 0.4 * ring) + 40 * sky + grain;
            const double g = 50 + 140 * fy * (0.7 + 0.3 * std::cos(12.0 * fx)) + grain;
            const double b = 90 + 130 * sky - 60 * fx * fy + 25 * ring + grain;
            auto clampByte = [](double v) { return static_cast<uint8_t>(std::lround(std::min(255.0, std::max(0.0, v)))); };
            row[3 * x] = clampByte(b);
            row[3 * x + 1] = clampByte(g);
            row[3 * x + 2] = clampByte(r);
        }
    }
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const bool keep = argc > 1;
    const std::filesystem::path dir =
        keep ? std::filesystem::path(argv[1]) : std::filesystem::path(IETempDirectory()) / "quirelle-jpeg-bench";
    const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 7;
    std::filesystem::create_directories(dir);
    const double mpx = static_cast<double>(kWidth) * kHeight / 1e6;

    TIEBitmap picture(kWidth, ie24RGB, kHeight);
    DrawPhoto(picture);
    TIOParamsVals params;
    params.JpegQualityLevel = 95;
    params.JpegChromaSampling = 1;  // 4:2:0
    ProgressRecord progress;
    uint8_t cancel = 0;
    progress.CancelFlag = &cancel;

    std::vector<double> encode;
    TMemoryStream jpeg;
    for (int i = 0; i < repetitions; ++i) {
        jpeg.Clear();
        const auto start = Clock::now();
        SaveJpegToStream(jpeg, picture, params, progress);
        encode.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }

    std::vector<double> decode;
    TIEBitmap decoded;
    for (int i = 0; i < repetitions; ++i) {
        TIEMemoryReadStream in(jpeg.Memory(), jpeg.Size());
        TIOParamsVals readParams;
        const auto start = Clock::now();
        LoadJpegFromStream(in, nullptr, decoded, false, -1, true, true, false, true, false, false, progress, readParams);
        decode.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    if (cancel || decoded.Width() != kWidth) {
        std::fprintf(stderr, "the round trip failed\n");
        return 1;
    }
    std::printf("JPEG %d x %d, quality 95, 4:2:0, %.1f KiB\n", kWidth, kHeight, jpeg.Size() / 1024.0);
    std::printf("  encode  %7.1f Mpx/s  (median %.1f ms of %d)\n", mpx / Median(encode), Median(encode) * 1e3, repetitions);
    std::printf("  decode  %7.1f Mpx/s  (median %.1f ms of %d)\n", mpx / Median(decode), Median(decode) * 1e3, repetitions);

    // The same picture and JPEG for tjbench.
    const auto ppm = dir / "photo.ppm";
    const auto jpg = dir / "photo.jpg";
    {
        std::ofstream out(ppm, std::ios::binary);
        out << "P6\n" << kWidth << " " << kHeight << "\n255\n";
        std::vector<char> row(static_cast<size_t>(kWidth) * 3);
        for (int32_t y = 0; y < kHeight; ++y) {
            const uint8_t* bgr = picture.RowAddress(y);
            for (int32_t x = 0; x < kWidth; ++x) {
                row[3 * static_cast<size_t>(x)] = static_cast<char>(bgr[3 * x + 2]);
                row[3 * static_cast<size_t>(x) + 1] = static_cast<char>(bgr[3 * x + 1]);
                row[3 * static_cast<size_t>(x) + 2] = static_cast<char>(bgr[3 * x]);
            }
            out.write(row.data(), static_cast<std::streamsize>(row.size()));
        }
        std::ofstream(jpg, std::ios::binary).write(reinterpret_cast<const char*>(jpeg.Memory()), jpeg.Size());
    }
    if (std::system("command -v tjbench >/dev/null 2>&1") == 0) {
        std::printf("tjbench (libjpeg-turbo) on the same files:\n");
        std::fflush(stdout);
        const std::string compress = "tjbench '" + ppm.string() + "' 95 -subsamp 420 -bgr -accuratedct -quiet -nowrite -benchtime 2";
        const std::string decompress = "tjbench '" + jpg.string() + "' -bgr -accuratedct -quiet -nowrite -benchtime 2";
        if (std::system(compress.c_str()) != 0 || std::system(decompress.c_str()) != 0)
            std::printf("  tjbench failed\n");
    } else {
        std::printf("tjbench is not installed: compare with  cjpeg -quality 95 -sample 2x2 %s  and  djpeg %s\n",
                    ppm.c_str(), jpg.c_str());
    }
    if (!keep) {
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
    return 0;
}
