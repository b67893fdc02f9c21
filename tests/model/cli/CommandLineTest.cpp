// The command-line programs' option parser: what getopt_long is asked and what the programs
// are told, the help's layout and the manual page's escaping.

#include "tools/cli/CommandLine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace bq::cli {
namespace {

enum { kOutput, kQuiet, kRate, kHelp };

const Program kProgram = {
    "prog",
    "usage: prog [-q] [-o FILE] FILE...\n",
    "\nDoes things.\n\n",
    16,
    {
        {kOutput, "output", 'o', true, "FILE", "where to\nwrite", "a file name"},
        {kQuiet, "quiet", 'q', false, nullptr, "say nothing"},
        {kRate, "rate", 0, true, "BYTES_PER_SECOND", "how fast"},
        {kHelp, nullptr, 'h', false, nullptr, nullptr},
    },
    "\nEnd.\n",
    Complete::PcgFiles,
};

Parsed ParseArgs(std::vector<const char*> args, bool expected = true) {
    args.insert(args.begin(), "prog");
    Parsed parsed;
    EXPECT_EQ(Parse(kProgram, static_cast<int>(args.size()), args.data(), &parsed), expected)
        << parsed.error;
    return parsed;
}

TEST(CommandLine, ParsesEveryFormAndStopsAtTheFirstOperand) {
    Parsed p =
        ParseArgs({"-qo", "a.pcg", "--output=b.pcg", "--rate", "-5", "--qui", "x.pcg", "-q"});
    ASSERT_EQ(p.options.size(), 5u);
    EXPECT_EQ(p.options[0].id, kQuiet);
    EXPECT_EQ(p.options[1].value, "a.pcg");
    EXPECT_EQ(p.options[1].typed, "-o");
    EXPECT_EQ(p.options[2].value, "b.pcg");
    EXPECT_EQ(p.options[2].typed, "--output");
    EXPECT_EQ(p.options[3].value, "-5") << "a value may start with '-'";
    EXPECT_EQ(p.options[4].id, kQuiet) << "an abbreviation that names one option";
    EXPECT_EQ(p.operands, (std::vector<std::string>{"x.pcg", "-q"}));

    p = ParseArgs({"--", "-q", "-"});
    EXPECT_TRUE(p.options.empty());
    EXPECT_EQ(p.operands, (std::vector<std::string>{"-q", "-"}));
    EXPECT_EQ(ParseArgs({"-h"}).options.at(0).id, kHelp) << "a letter without a long form";
}

TEST(CommandLine, SaysWhatIsWrongWithTheOptionAsTyped) {
    EXPECT_EQ(ParseArgs({"--colour"}, false).error, "unknown option --colour");
    EXPECT_EQ(ParseArgs({"--quiet=yes"}, false).error, "unknown option --quiet=yes");
    EXPECT_EQ(ParseArgs({"-qx"}, false).error, "unknown option -x");
    EXPECT_EQ(ParseArgs({"--help"}, false).error, "unknown option --help")
        << "only the letter is known";
    EXPECT_EQ(ParseArgs({"--output"}, false).error, "--output needs a file name");
    EXPECT_EQ(ParseArgs({"-q", "-o"}, false).error, "-o needs a file name");
    EXPECT_EQ(ParseArgs({"--rate"}, false).error, "--rate needs a value");
    // Each parse starts afresh, also after one that stopped part way.
    EXPECT_EQ(ParseArgs({"-o", "c.pcg"}).options.at(0).value, "c.pcg");
}

TEST(CommandLine, HelpPutsALongLabelOnALineOfItsOwnAndLeavesOutUnlistedOptions) {
    EXPECT_EQ(HelpText(kProgram),
              "usage: prog [-q] [-o FILE] FILE...\n"
              "\nDoes things.\n\n"
              "  -o, --output FILE\n"
              "                where to\n"
              "                write\n"
              "  -q, --quiet   say nothing\n"
              "  --rate BYTES_PER_SECOND\n"
              "                how fast\n"
              "\nEnd.\n");
}

TEST(CommandLine, ManualOptionsEscapeHyphensAndFillTheHelpAsOneLine) {
    Program program = kProgram;
    program.options = {{kRate, "dry-run", 0, false, nullptr, ".first line\n  then --more"}};
    EXPECT_EQ(ManualOptions(program),
              ".TP\n\\fB\\-\\-dry\\-run\\fR\n\\&.first line then \\-\\-more\n");
}

}  // namespace
}  // namespace bq::cli
