#include "midi/SysExAssembler.h"

#include "midi/SysEx.h"

namespace bq::midi {

void SysExAssembler::Feed(const std::uint8_t* bytes, std::size_t count,
                          std::vector<std::vector<std::uint8_t>>* complete) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        if (byte >= 0xF8) {
            continue;  // real-time bytes may stand anywhere
        }
        if (byte == sysex::kSysExStart) {
            m_message.assign(1, byte);
            m_inside = true;
            continue;
        }
        if (!m_inside) {
            continue;
        }
        if ((byte & 0x80) != 0 && byte != sysex::kSysExEnd) {
            Clear();
            continue;
        }
        if (m_message.size() >= kLimit) {
            Clear();  // passed over up to the next F0
            continue;
        }
        m_message.push_back(byte);
        if (byte == sysex::kSysExEnd) {
            complete->push_back(std::move(m_message));
            Clear();
        }
    }
}

void SysExAssembler::Clear() {
    m_message = std::vector<std::uint8_t>();
    m_inside = false;
}

}  // namespace bq::midi
