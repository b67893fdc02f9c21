#pragma once

// The posted messages of the Workstation window, as Qt events. They are posted with
// QCoreApplication::postEvent (safe from the MIDI backend's thread) and own what they carry,
// so a buffer changes owner with its event and is freed even when the event is dropped.

#include <QEvent>

#include <cstdint>
#include <vector>

namespace bq::ws {

// Numbered as the window messages WM_USER + 0 ... + 4 they stand for.
inline constexpr QEvent::Type WM_WS_CONNECT = static_cast<QEvent::Type>(QEvent::User + 0);
inline constexpr QEvent::Type WM_WS_SYSEX_CHUNK = static_cast<QEvent::Type>(QEvent::User + 1);
inline constexpr QEvent::Type WM_WS_DUMP_RECEIVED = static_cast<QEvent::Type>(QEvent::User + 2);
inline constexpr QEvent::Type WM_WS_REPLY = static_cast<QEvent::Type>(QEvent::User + 3);
inline constexpr QEvent::Type WM_WS_REQUEUE_BUFFER = static_cast<QEvent::Type>(QEvent::User + 4);

// The bytes of one returned input buffer, copied on the backend's thread.
class SysExChunkEvent final : public QEvent {
public:
    explicit SysExChunkEvent(std::vector<std::uint8_t> chunk)
        : QEvent(WM_WS_SYSEX_CHUNK), m_chunk(std::move(chunk)) {}
    const std::vector<std::uint8_t>& Chunk() const { return m_chunk; }

private:
    std::vector<std::uint8_t> m_chunk;
};

// A complete message that is not a status reply; whoever takes the event may take the bytes.
class DumpReceivedEvent final : public QEvent {
public:
    explicit DumpReceivedEvent(std::vector<std::uint8_t> message)
        : QEvent(WM_WS_DUMP_RECEIVED), m_message(std::move(message)) {}
    std::size_t Length() const { return m_message.size(); }
    const std::vector<std::uint8_t>& Message() const { return m_message; }
    std::vector<std::uint8_t> TakeMessage() { return std::move(m_message); }

private:
    std::vector<std::uint8_t> m_message;
};

// A status reply: success (Completed), or failure with the code of an Error Reply (else 0).
class ReplyEvent final : public QEvent {
public:
    ReplyEvent(bool success, std::uint8_t code)
        : QEvent(WM_WS_REPLY), m_success(success), m_code(code) {}
    bool Success() const { return m_success; }
    std::uint8_t Code() const { return m_code; }

private:
    bool m_success;
    std::uint8_t m_code;
};

}  // namespace bq::ws
