// Reading which JACK server a client reached from jack_get_version_string().

#include <gtest/gtest.h>

#include "midi/JackServerInfo.h"

namespace bq::midi {
namespace {

TEST(JackServerInfo, PipeWireAndJackdTextsAreToldApart) {
    const auto pipewire = ParseJackVersion("3.0.0.0 (using PipeWire 0.3.65)");
    ASSERT_TRUE(pipewire.has_value());
    EXPECT_TRUE(pipewire->pipeWire);
    EXPECT_EQ(pipewire->major, 0);
    EXPECT_EQ(pipewire->minor, 3);
    EXPECT_EQ(pipewire->micro, 65);
    EXPECT_EQ(DescribeJackServer("3.0.0.0 (using PipeWire 0.3.65)", "ignored"), "PipeWire 0.3.65");

    const auto jackd = ParseJackVersion("1.9.21");
    ASSERT_TRUE(jackd.has_value());
    EXPECT_FALSE(jackd->pipeWire);
    EXPECT_EQ(jackd->minor, 9);
    EXPECT_EQ(jackd->micro, 21);
    EXPECT_EQ(DescribeJackServer("1.9.21", "studio"), "jackd (JACK 1.9.21), server studio");
    EXPECT_EQ(DescribeJackServer("1.9.21", ""), "jackd (JACK 1.9.21), server default");

    for (const char* bad :
         {"", "PipeWire", "using PipeWire x.y", "1", "1.x", "1.9.", "-1.2.3", "abc"}) {
        EXPECT_FALSE(ParseJackVersion(bad).has_value()) << bad;
    }
    EXPECT_EQ(DescribeJackServer("mystery", "default"), "JACK (version \"mystery\")");
    const auto twoNumbers = ParseJackVersion("3.0.0.0 (using PipeWire 1.4)");
    ASSERT_TRUE(twoNumbers.has_value());
    EXPECT_EQ(twoNumbers->minor, 4);
    EXPECT_EQ(twoNumbers->micro, 0);
}

TEST(JackServerInfo, OnlyPipeWire140To162DropsSplitSysExAndOnlyThereIsAWarning) {
    struct Case {
        const char* text;
        bool drops;
    };
    for (const Case& c : {Case{"3.0.0.0 (using PipeWire 0.3.65)", false},
                          Case{"3.0.0.0 (using PipeWire 1.2.7)", false},
                          Case{"3.0.0.0 (using PipeWire 1.3.99)", false},
                          Case{"3.0.0.0 (using PipeWire 1.4.0)", true},
                          Case{"3.0.0.0 (using PipeWire 1.4.3)", true},
                          Case{"3.0.0.0 (using PipeWire 1.5.81)", true},
                          Case{"3.0.0.0 (using PipeWire 1.6.2)", true},
                          Case{"3.0.0.0 (using PipeWire 1.6.3)", false},
                          Case{"3.0.0.0 (using PipeWire 2.0.0)", false}, Case{"1.9.21", false},
                          Case{"1.4.2", false},  // jackd's own numbers are not PipeWire's
                          Case{"garbage", false}}) {
        const auto version = ParseJackVersion(c.text);
        EXPECT_EQ(version && DropsSplitSysEx(*version), c.drops) << c.text;
        const std::string warning = SplitSysExWarning(c.text);
        EXPECT_EQ(!warning.empty(), c.drops) << c.text;
        if (c.drops) {
            EXPECT_EQ(warning.find('\n'), std::string::npos);
            std::string named = c.text;
            named = named.substr(named.find("PipeWire"));
            named.pop_back();  // ")"
            EXPECT_EQ(warning.rfind(named + " drops SysEx", 0), 0u) << warning;
            EXPECT_NE(warning.find("1.6.3"), std::string::npos) << "says which work: " << warning;
        }
    }
}

}  // namespace
}  // namespace bq::midi
