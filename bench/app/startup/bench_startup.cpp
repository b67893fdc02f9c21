// bench_startup: start-up of the desktop program to its main window's first paint, against a
// plain QMainWindow program built the same way with the same menu bar, a toolbar with two icons
// and a status bar text, in the same run. Each probe is launched as a
// child process many times (offscreen), timed from the spawn to its exit, which it makes at its
// first paint. Prints the ratio of the medians.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWarmUps = 2;
constexpr int kRounds = 41;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds from spawn to exit; negative when the probe could not run or failed.
double TimeLaunch(const std::string& program) {
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    // Qt's start-up warnings (no XDG_RUNTIME_DIR, offscreen limits) would bury the figures.
    posix_spawn_file_actions_t quiet;
    ::posix_spawn_file_actions_init(&quiet);
    ::posix_spawn_file_actions_addopen(&quiet, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&quiet, STDOUT_FILENO, STDERR_FILENO);
    pid_t pid = 0;
    const auto t0 = Clock::now();
    const int spawned = ::posix_spawn(&pid, program.c_str(), &quiet, nullptr, argv, environ);
    ::posix_spawn_file_actions_destroy(&quiet);
    if (spawned != 0) {
        std::fprintf(stderr, "cannot start %s\n", program.c_str());
        return -1;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    const auto t1 = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s ended with status %d\n", program.c_str(), status);
        return -1;
    }
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

}  // namespace

int main() {
    // The probes sit in startup/ beside this program.
    std::error_code error;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        std::perror("/proc/self/exe");
        return 1;
    }
    const std::string dir = (self.parent_path() / "startup").string();
    const std::string bankquill = dir + "/startup_probe_bankquill";
    const std::string minimal = dir + "/startup_probe_minimal";
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    std::vector<double> real;
    std::vector<double> bare;
    // Interleaved, so that both see the same machine state; the first rounds fill the caches.
    for (int round = 0; round < kWarmUps + kRounds; ++round) {
        const double a = TimeLaunch(bankquill);
        const double b = TimeLaunch(minimal);
        if (a < 0 || b < 0) {
            std::fprintf(stderr, "a probe failed in round %d\n", round);
            return 1;
        }
        if (round >= kWarmUps) {
            real.push_back(a);
            bare.push_back(b);
        }
    }
    const double realMedian = Median(real);
    const double bareMedian = Median(bare);
    std::printf("rounds: %d\n", kRounds);
    std::printf("bankquill_startup_median_ms: %.1f\n", realMedian);
    std::printf("minimal_startup_median_ms: %.1f\n", bareMedian);
    std::printf("startup_vs_minimal_ratio: %.2f\n", realMedian / bareMedian);
    return 0;
}
