#include "midi/HandleTable.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace bq::midi {
namespace {

// A backend's two tables, drawing from one source as the backends' do.
struct Tables {
    HandleSource source;
    HandleTable<std::string> inputs{source};
    HandleTable<int> outputs{source};
};

// The action's result when it ran, and a marker that it did.
MidiResult Touch(HandleTable<std::string>& table, std::uint32_t handle, bool* ran) {
    *ran = false;
    return table.With(handle, [ran](std::string& entry) {
        *ran = true;
        return entry.empty() ? MMSYSERR_ERROR : MMSYSERR_NOERROR;
    });
}

TEST(HandleTable, OnlyOpenHandlesOfItsOwnTableReachTheirEntry) {
    Tables tables;
    const std::uint32_t input = tables.inputs.Add("In One");
    const std::uint32_t output = tables.outputs.Add(7);
    EXPECT_NE(input, 0u);
    EXPECT_NE(output, input) << "an input's handle never names an output";

    bool ran = false;
    EXPECT_EQ(Touch(tables.inputs, input, &ran), MMSYSERR_NOERROR);
    EXPECT_TRUE(ran);
    for (const std::uint32_t refused : {0u, output, input + output + 1}) {
        EXPECT_EQ(Touch(tables.inputs, refused, &ran), MMSYSERR_INVALHANDLE) << refused;
        EXPECT_FALSE(ran) << "the action never runs for a handle that is not open";
    }
    EXPECT_EQ(tables.outputs.With(input, [](int&) { return MMSYSERR_NOERROR; }),
              MMSYSERR_INVALHANDLE);
    EXPECT_TRUE(tables.inputs.Any([](const std::string& name) { return name == "In One"; }));
    EXPECT_FALSE(tables.inputs.Any([](const std::string& name) { return name == "In Two"; }));
}

TEST(HandleTable, AClosedHandleStaysClosedWhenItsDeviceIsOpenedAgain) {
    Tables tables;
    const std::uint32_t first = tables.inputs.Add("In One");
    const std::uint32_t other = tables.inputs.Add("In Two");
    // Closed from inside its own call, as a backend's close does.
    EXPECT_EQ(tables.inputs.With(first,
                                 [&](std::string&) {
                                     EXPECT_EQ(tables.inputs.Take(first), "In One");
                                     return MMSYSERR_NOERROR;
                                 }),
              MMSYSERR_NOERROR);
    EXPECT_FALSE(tables.inputs.Take(first).has_value()) << "closed once";
    EXPECT_FALSE(tables.inputs.Remove(first));

    const std::uint32_t reserved = tables.inputs.Reserve();  // a port named before it exists
    tables.inputs.Insert(reserved, "In One");
    EXPECT_NE(reserved, first);
    bool ran = false;
    EXPECT_EQ(Touch(tables.inputs, first, &ran), MMSYSERR_INVALHANDLE)
        << "the stale handle does not reach the device opened again";
    EXPECT_EQ(Touch(tables.inputs, reserved, &ran), MMSYSERR_NOERROR);
    EXPECT_EQ(Touch(tables.inputs, other, &ran), MMSYSERR_NOERROR);
    EXPECT_EQ(tables.inputs.Size(), 2u);
}

TEST(HandleTable, HandlesSkipZeroWhenTheCountWrapsAround) {
    HandleSource source(std::numeric_limits<std::uint32_t>::max());
    HandleTable<int> table(source);
    EXPECT_EQ(table.Add(1), std::numeric_limits<std::uint32_t>::max());
    EXPECT_EQ(table.Add(2), 1u);
    EXPECT_EQ(table.Size(), 2u);
}

}  // namespace
}  // namespace bq::midi
