// bench_catalog_find: the model's find as a view would run it while the user types: 20
// catalogues of the full-size demo file (30,720 items), each searched for a two-letter text
// with its own result buffer kept between keystrokes. Prints the median of one keystroke.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "model/ItemCatalog.h"
#include "model/KorgPCGFile.h"
#include "tools/demo-pcg/DemoPcg.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kSources = 20;
constexpr int kRounds = 201;

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    std::string dir = (std::filesystem::temp_directory_path() / "bq-bench-XXXXXX").string();
    if (::mkdtemp(dir.data()) == nullptr) {
        std::perror("mkdtemp");
        return 1;
    }
    const std::string path = dir + "/full.pcg";
    const bool written = bq::demo::WriteDemoPcg(path);
    std::vector<std::unique_ptr<CKorgPCGFile>> files;
    for (int i = 0; written && i < kSources; ++i) {
        files.push_back(std::make_unique<CKorgPCGFile>());
        if (FAILED(files.back()->Load(path.c_str()))) {
            files.clear();
            break;
        }
    }
    std::filesystem::remove_all(dir);
    if (files.empty()) {
        std::fprintf(stderr, "the demo file could not be written or loaded\n");
        return 1;
    }

    const auto b0 = Clock::now();
    std::vector<bq::ItemCatalog> catalogs;
    for (const auto& f : files) {
        catalogs.push_back(bq::ItemCatalog::FromRoot(*f->GetRootContainer()));
    }
    const auto b1 = Clock::now();

    std::vector<std::vector<std::uint32_t>> hits(catalogs.size());
    const char* const texts[] = {"er", "ZE", "an", "xq"};
    std::vector<double> keystrokes;
    std::size_t items = 0;
    std::size_t matches = 0;
    for (int round = 0; round <= kRounds; ++round) {
        const char* text = texts[round % 4];
        const auto t0 = Clock::now();
        for (std::size_t i = 0; i < catalogs.size(); ++i) {
            catalogs[i].Find(text, hits[i]);
        }
        const auto t1 = Clock::now();
        if (round > 0) {
            keystrokes.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        }
        if (round % 4 == 0) {
            matches = 0;
            items = 0;
            for (std::size_t i = 0; i < catalogs.size(); ++i) {
                matches += hits[i].size();
                items += catalogs[i].Size();
            }
        }
    }
    std::printf("items: %zu, matches for \"er\": %zu\n", items, matches);
    std::printf("catalogues_made_ms: %.2f\n",
                std::chrono::duration<double, std::milli>(b1 - b0).count());
    std::printf("catalog_find_ms: %.3f\n", Median(keystrokes));
    return 0;
}
