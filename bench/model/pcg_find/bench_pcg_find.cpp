// bench_pcg_find: `bankquill-pcg --find` over a folder of 200 full-size PCG files against
// `cat` of the same files, both writing to /dev/null, the files in the page cache; prints the
// ratio of the medians. The in-process load of the same files is printed beside them, to show
// how much of the search is the reader.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "model/KorgPCGFile.h"
#include "tools/demo-pcg/DemoPcg.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<unsigned char>;
constexpr int kFiles = 200;
constexpr int kRounds = 15;
const char* const kText = "er";

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

std::uint32_t BigEndian32(const Bytes& b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) |
           (std::uint32_t{b[at + 2]} << 8) | std::uint32_t{b[at + 3]};
}

// Every name of the demo file, Programs then Combinations.
std::vector<std::string> DemoNames() {
    std::vector<std::string> names;
    for (int b = 0; b < bq::demo::kBanks; ++b) {
        for (int s = 0; s < bq::demo::kSlots; ++s) {
            names.push_back(bq::demo::ProgramName(b, s));
        }
    }
    for (int b = 0; b < bq::demo::kBanks; ++b) {
        for (int s = 0; s < bq::demo::kSlots; ++s) {
            names.push_back(bq::demo::CombiName(b, s));
        }
    }
    return names;
}

// Gives the records of the chunks in [at, end) the demo names shifted by `shift`, so that
// every file of the folder holds its own arrangement.
void Rename(Bytes& file, std::size_t at, std::size_t end, const std::vector<std::string>& names,
            std::size_t shift) {
    while (at + 8 <= end) {
        const std::string tag(file.begin() + at, file.begin() + at + 4);
        const std::size_t content = at + 8;
        const std::size_t size = BigEndian32(file, at + 4);
        if (tag == "PCG1" || tag == "PRG1" || tag == "CMB1" || tag == "DKT1" || tag == "ARP1") {
            Rename(file, content, content + size, names, shift);
        } else if (tag == "PBK1" || tag == "CBK1") {
            const std::size_t recordSize = tag == "PBK1" ? 804 : 996;
            const std::size_t count = BigEndian32(file, content);
            const std::size_t bank = BigEndian32(file, content + 8);
            for (std::size_t i = 0; i < count; ++i) {
                const std::size_t place = (tag == "CBK1" ? 768 : 0) + bank * 128 + i;
                std::string name = names[(place + shift) % names.size()];
                name.resize(16, ' ');
                std::copy(name.begin(), name.end(), file.begin() + content + 12 + i * recordSize);
            }
        }
        at = content + size;
    }
}

// Runs a program with its standard output on /dev/null; its exit status, or -1. `cpuMs` gets
// its user and system time, which other work on a shared machine disturbs less than the
// wall-clock time.
int Run(const std::vector<std::string>& args, double* cpuMs) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return -1;
    }
    int status = 0;
    struct rusage usage = {};
    if (::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status)) {
        return -1;
    }
    *cpuMs = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
             (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return WEXITSTATUS(status);
}

double Milliseconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

}  // namespace

int main() {
    std::string dir = (std::filesystem::temp_directory_path() / "bq-bench-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const Bytes demo = bq::demo::MakeDemoPcg();
    const std::vector<std::string> names = DemoNames();
    std::vector<std::string> paths;
    std::uintmax_t bytes = 0;
    for (int f = 0; f < kFiles; ++f) {
        Bytes file = demo;
        Rename(file, 16, file.size(), names, static_cast<std::size_t>(f) * 211);
        char name[32];
        std::snprintf(name, sizeof name, "/set-%03d.pcg", f);
        paths.push_back(dir + name);
        std::ofstream out(paths.back(), std::ios::binary);
        out.write(reinterpret_cast<const char*>(file.data()),
                  static_cast<std::streamsize>(file.size()));
        bytes += file.size();
    }
    std::vector<std::string> cat = {"cat"};
    cat.insert(cat.end(), paths.begin(), paths.end());
    const std::vector<std::string> find = {BQ_PCG_LISTER, "--find", kText, dir};

    std::vector<double> finds;
    std::vector<double> cats;
    std::vector<double> loads;
    std::vector<double> findCpu;
    std::vector<double> catCpu;
    int failures = 0;
    // Interleaved, so that all three see the same machine; round 0 warms the cache.
    for (int round = 0; round <= kRounds; ++round) {
        double cpu[2] = {};
        const auto t0 = Clock::now();
        failures += Run(find, &cpu[0]) != 0;
        const auto t1 = Clock::now();
        failures += Run(cat, &cpu[1]) != 0;
        const auto t2 = Clock::now();
        for (const std::string& p : paths) {
            CKorgPCGFile file;
            failures += FAILED(file.Load(p.c_str()));
        }
        const auto t3 = Clock::now();
        if (round > 0) {
            finds.push_back(Milliseconds(t0, t1));
            cats.push_back(Milliseconds(t1, t2));
            loads.push_back(Milliseconds(t2, t3));
            findCpu.push_back(cpu[0]);
            catCpu.push_back(cpu[1]);
        }
    }
    std::filesystem::remove_all(dir);
    if (failures != 0) {
        std::fprintf(stderr, "%d runs or loads failed\n", failures);
        return 1;
    }
    const double findMs = Median(finds);
    const double catMs = Median(cats);
    std::printf("files: %d (%ju bytes)\n", kFiles, bytes);
    std::printf("rounds: %d\n", kRounds);
    std::printf("find_median_ms: %.1f\n", findMs);
    std::printf("cat_median_ms: %.1f\n", catMs);
    std::printf("load_in_process_median_ms: %.1f\n", Median(loads));
    std::printf("find_cpu_median_ms: %.1f\n", Median(findCpu));
    std::printf("cat_cpu_median_ms: %.1f\n", Median(catCpu));
    std::printf("find_vs_cat_ratio: %.2f\n", findMs / catMs);
    return 0;
}
