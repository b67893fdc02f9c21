// bench_pcg_load: times CKorgPCGFile::Load of a full-size Karma PCG file against one plain
// read of the whole file, both from the page cache, and prints the ratio of the medians.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "model/KorgPCGFile.h"
#include "tools/demo-pcg/DemoPcg.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRounds = 201;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// What a program that holds the whole file in memory would do instead.
bool ReadWhole(const char* path, std::vector<unsigned char>& buffer) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat st = {};
    bool ok = ::fstat(fd, &st) == 0;
    if (ok) {
        buffer.resize(static_cast<std::size_t>(st.st_size));
        std::size_t got = 0;
        while (ok && got < buffer.size()) {
            const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
            ok = n > 0;
            got += ok ? static_cast<std::size_t>(n) : 0;
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace

int main() {
    std::string dir = (std::filesystem::temp_directory_path() / "bq-bench-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = dir + "/full.pcg";
    if (!bq::demo::WriteDemoPcg(path)) {
        std::perror(path.c_str());
        return 1;
    }
    const auto fileSize = std::filesystem::file_size(path);

    std::vector<double> loads;
    std::vector<double> reads;
    std::vector<unsigned char> buffer;
    int failures = 0;
    // Interleaved, so that both see the same machine state; round 0 warms the cache.
    for (int round = 0; round <= kRounds; ++round) {
        const auto t0 = Clock::now();
        {
            CKorgPCGFile file;
            failures += FAILED(file.Load(path.c_str()));
        }
        const auto t1 = Clock::now();
        failures += !ReadWhole(path.c_str(), buffer);
        const auto t2 = Clock::now();
        if (round > 0) {
            loads.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
            reads.push_back(std::chrono::duration<double, std::micro>(t2 - t1).count());
        }
    }
    std::filesystem::remove_all(dir);
    if (failures != 0) {
        std::fprintf(stderr, "%d loads or reads failed\n", failures);
        return 1;
    }
    const double load = Median(loads);
    const double read = Median(reads);
    std::printf("file_bytes: %llu\n", static_cast<unsigned long long>(fileSize));
    std::printf("rounds: %d\n", kRounds);
    std::printf("load_median_us: %.1f\n", load);
    std::printf("read_median_us: %.1f\n", read);
    std::printf("pcg_load_vs_read_ratio: %.2f\n", load / read);
    return 0;
}
