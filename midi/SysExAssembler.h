#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace bq::midi {

// Complete SysEx messages from the chunks that an input hands back. Bytes outside a message are
// passed over, another status byte breaks the message being received, and a message longer
// than the limit is dropped (a device that never sends F7 cannot make it grow without bound).
class SysExAssembler {
public:
    // Far above the largest dump (about 146 KB).
    static constexpr std::size_t kLimit = 256 * 1024;

    void Feed(const std::uint8_t* bytes, std::size_t count,
              std::vector<std::vector<std::uint8_t>>* complete);
    // Drops what is half received; bytes are passed over up to the next F0.
    void Clear();
    std::size_t Pending() const { return m_message.size(); }

private:
    std::vector<std::uint8_t> m_message;
    bool m_inside = false;
};

}  // namespace bq::midi
