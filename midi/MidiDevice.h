#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bq::midi {

// Bytes an instrument sends, after a pause of `delayMs` from the previous run.
struct MidiTimedBytes {
    std::uint32_t delayMs = 0;
    std::vector<std::uint8_t> bytes;
};

// Something on the far side of a MIDI cable: the virtual Karma, or a test's script. The
// loopback services hand it every complete message sent to its output port.
class IMidiDevice {
public:
    virtual ~IMidiDevice() = default;
    // Consumes one complete message (F0 ... F7) and appends what goes back, in order.
    virtual void HandleMessage(const std::uint8_t* message, std::size_t length,
                               std::vector<MidiTimedBytes>* reply) = 0;
};

}  // namespace bq::midi
