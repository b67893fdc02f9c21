#pragma once

// Runs the built bankquill-pcg with its output in temporary files.
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/PcgBuilder.h"

namespace bq::test {

inline const char* const kUsage =
    "usage: bankquill-pcg FILE...\n"
    "       bankquill-pcg --find TEXT PATH...\n"
    "       bankquill-pcg --compare A B\n"
    "       bankquill-pcg --csv FILE...\n"
    "       bankquill-pcg --timbres FILE...\n";

struct ListerRun {
    std::string out;
    std::string err;
    int status = -1;
};

inline std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline std::string Quote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

inline ListerRun Lister(const std::vector<std::string>& args) {
    const TempFile scratch(Bytes{}, "scratch");
    const std::string out = scratch.Path() + ".out";
    const std::string err = scratch.Path() + ".err";
    std::string command = Quote(BQ_PCG_LISTER);
    for (const std::string& a : args) {
        command += " " + Quote(a);
    }
    command += " >" + Quote(out) + " 2>" + Quote(err);
    const int raw = std::system(command.c_str());
    ListerRun r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = Slurp(out);
    r.err = Slurp(err);
    return r;
}

}  // namespace bq::test
