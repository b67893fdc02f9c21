#include "midi/JackRingIO.h"

#include <algorithm>
#include <cstdint>

namespace bq::midi {

bool JackEventsToRing(void* portBuffer, jack_ringbuffer_t* ring, bool* lost) {
    const jack_nframes_t count = jack_midi_get_event_count(portBuffer);
    if (*lost) {
        if (jack_ringbuffer_write_space(ring) < 1) {
            return count == 0;
        }
        const char mark = static_cast<char>(kJackLostBytesMark);
        jack_ringbuffer_write(ring, &mark, 1);
        *lost = false;
    }
    for (jack_nframes_t i = 0; i < count; ++i) {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, portBuffer, i) != 0) {
            continue;
        }
        if (jack_ringbuffer_write_space(ring) < event.size) {
            *lost = true;
            return false;
        }
        jack_ringbuffer_write(ring, reinterpret_cast<const char*>(event.buffer), event.size);
    }
    return true;
}

std::size_t JackRingToEvents(jack_ringbuffer_t* ring, void* portBuffer) {
    std::size_t moved = 0;
    for (;;) {
        const std::size_t readable = jack_ringbuffer_read_space(ring);
        // Asking for more than max_event_size would make JACK log from this thread. Short of
        // it, headroom grows with the events already in the buffer (see JackRingIO.h).
        const std::size_t room = jack_midi_max_event_size(portBuffer);
        const std::size_t headroom =
            kJackEventHeadroom + kJackEventOverhead * jack_midi_get_event_count(portBuffer);
        if (room <= headroom) {
            break;
        }
        std::size_t size = std::min({readable, room - headroom, kJackMaxEventBytes});
        if (size == 0) {
            break;
        }
        jack_ringbuffer_data_t parts[2];
        jack_ringbuffer_get_read_vector(ring, parts);
        std::size_t scanned = 0;
        for (const auto& part : parts) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(part.buf);
            const std::size_t span = std::min(part.len, size - scanned);
            const auto* end = std::find(bytes, bytes + span, std::uint8_t{0xF7});
            if (end != bytes + span) {
                size = scanned + static_cast<std::size_t>(end - bytes) + 1;
                break;
            }
            scanned += span;
            if (scanned >= size) {
                break;
            }
        }
        jack_midi_data_t* event = jack_midi_event_reserve(portBuffer, 0, size);
        if (event == nullptr) {
            break;
        }
        jack_ringbuffer_read(ring, reinterpret_cast<char*>(event), size);
        moved += size;
    }
    return moved;
}

}  // namespace bq::midi
