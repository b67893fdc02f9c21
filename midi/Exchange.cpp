#include "midi/Exchange.h"

#include <utility>

namespace bq::midi {
namespace {

// Every message of the Karma on this connection begins F0 42 3g 5D.
bool IsKarmaMessage(const Bytes& message, std::uint8_t channel) {
    return message.size() >= 4 && message[0] == sysex::kSysExStart &&
           message[1] == sysex::kKorgId && message[2] == sysex::ChannelByte(channel) &&
           message[3] == sysex::kKarmaModel;
}

}  // namespace

bool Exchange::Begin(ExchangeKind kind, Millis, int silenceMs) {
    if (Running()) {
        return false;
    }
    m_kind = kind;
    m_result = ExchangeResult{};
    m_result.kind = kind;
    m_actions.clear();
    m_silenceMs = silenceMs > 0 ? silenceMs : 0;
    m_lastTraffic.reset();
    m_awaitingSend = false;
    m_turnEnds.reset();
    m_outputOpen = false;
    // Whatever is half received answers an earlier request.
    ForgetPartial();
    return true;
}

bool Exchange::BeginSearch(std::uint32_t outputs, Millis now, int windowMs) {
    if (!Begin(ExchangeKind::Search, now, 0)) {
        return false;
    }
    m_outputs = outputs;
    m_asking = 0;
    m_windowMs = windowMs > 0 ? windowMs : kSearchWindowMs;
    if (outputs == 0) {
        Finish(ExchangeEnd::NotFound);
    } else {
        AskOutput(now);
    }
    return true;
}

bool Exchange::BeginIdentify(Millis now, int silenceMs) {
    if (!Begin(ExchangeKind::Identify, now, silenceMs)) {
        return false;
    }
    const auto request = sysex::IdentityRequest();
    m_actions.push_back(
        {ExchangeAction::Kind::Send, kConnectionOutput, Bytes(request.begin(), request.end())});
    m_awaitingSend = true;
    return true;
}

bool Exchange::BeginDump(Bytes request, Millis now, int silenceMs) {
    if (request.size() < 3 || !Begin(ExchangeKind::Dump, now, silenceMs)) {
        return false;
    }
    request[2] = sysex::ChannelByte(m_channel);
    m_actions.push_back({ExchangeAction::Kind::Send, kConnectionOutput, std::move(request)});
    m_awaitingSend = true;
    return true;
}

bool Exchange::BeginWrite(Bytes message, Millis now, int silenceMs) {
    if (message.size() < 3 || !Begin(ExchangeKind::Write, now, silenceMs)) {
        return false;
    }
    sysex::ApplyChannel(message.data(), message.size(), m_channel);
    m_actions.push_back({ExchangeAction::Kind::Send, kConnectionOutput, std::move(message)});
    m_awaitingSend = true;
    return true;
}

std::vector<ExchangeAction> Exchange::TakeActions() {
    return std::exchange(m_actions, {});
}

void Exchange::AskOutput(Millis) {
    const auto request = sysex::IdentityRequest();
    m_actions.push_back({ExchangeAction::Kind::Open, m_asking, {}});
    m_actions.push_back(
        {ExchangeAction::Kind::Send, m_asking, Bytes(request.begin(), request.end())});
    m_outputOpen = true;
    m_awaitingSend = true;
    m_turnEnds.reset();
}

void Exchange::NextOutput(Millis now) {
    if (m_outputOpen) {
        m_actions.push_back({ExchangeAction::Kind::Close, m_asking, {}});
        m_outputOpen = false;
    }
    if (++m_asking >= m_outputs) {
        Finish(ExchangeEnd::NotFound);
        return;
    }
    AskOutput(now);
}

void Exchange::Sent(Millis now) {
    if (!Running() || !m_awaitingSend) {
        return;
    }
    m_awaitingSend = false;
    if (m_kind == ExchangeKind::Search) {
        m_turnEnds = now + m_windowMs;
    } else {
        m_lastTraffic = now;
    }
}

void Exchange::SendFailed(Millis now) {
    if (!Running() || !m_awaitingSend) {
        return;
    }
    if (m_kind == ExchangeKind::Search) {
        // Whether it went out does not matter: silence moves the search on.
        Sent(now);
        return;
    }
    m_awaitingSend = false;
    Finish(ExchangeEnd::NotSent);
}

void Exchange::OutputUnavailable(Millis now) {
    if (!Running() || m_kind != ExchangeKind::Search) {
        return;
    }
    // Its request is not sent: the caller skips the Send asked for with the Open.
    m_outputOpen = false;
    m_awaitingSend = false;
    NextOutput(now);
}

void Exchange::Receive(std::uint32_t input, const std::uint8_t* bytes, std::size_t count,
                       Millis now) {
    Tick(now);
    if (!Running() || bytes == nullptr || count == 0) {
        return;
    }
    m_result.received += count;
    if (!m_awaitingSend) {
        m_lastTraffic = now;  // the instrument is not silent
    }
    std::vector<Bytes> messages;
    m_assemblers[input].Feed(bytes, count, &messages);
    for (const Bytes& message : messages) {
        if (!Running()) {
            break;  // one answer per exchange; what follows answers nothing
        }
        Message(input, message);
    }
}

void Exchange::ReceiveBroken(std::uint32_t input) {
    m_assemblers[input].Clear();
}

void Exchange::Message(std::uint32_t input, const Bytes& message) {
    switch (m_kind) {
        case ExchangeKind::Search:
        case ExchangeKind::Identify: {
            std::uint8_t deviceId = 0;
            if (!sysex::MatchIdentityReply(message.data(), message.size(), &deviceId)) {
                ++m_result.skipped;
                return;
            }
            m_result.input = input;
            m_result.channel = deviceId;
            if (m_kind == ExchangeKind::Search) {
                m_result.output = m_asking;
                // A turn asked for but not begun yet need not begin: its output is the answer.
                const auto untaken = std::erase_if(m_actions, [this](const ExchangeAction& a) {
                    return a.output == m_asking && a.kind != ExchangeAction::Kind::Close;
                });
                if (m_outputOpen && untaken == 0) {
                    m_actions.push_back({ExchangeAction::Kind::Close, m_asking, {}});
                }
                m_outputOpen = false;
            } else {
                m_result.output = kConnectionOutput;
            }
            Finish(ExchangeEnd::Found);
            return;
        }
        case ExchangeKind::Dump: {
            const sysex::Reply reply = sysex::Classify(message.data(), message.size(), m_channel);
            if (reply.kind != sysex::ReplyKind::Dump) {
                m_result.status = reply.kind;
                m_result.errorCode = reply.errorCode;
                Finish(ExchangeEnd::Refused);
            } else if (IsKarmaMessage(message, m_channel)) {
                m_result.message = message;
                Finish(ExchangeEnd::Dump);
            } else {
                ++m_result.skipped;  // another device on the same cable
            }
            return;
        }
        case ExchangeKind::Write: {
            const sysex::Reply reply = sysex::Classify(message.data(), message.size(), m_channel);
            if (reply.kind == sysex::ReplyKind::Completed) {
                Finish(ExchangeEnd::Completed);
            } else if (reply.kind != sysex::ReplyKind::Dump) {
                m_result.status = reply.kind;
                m_result.errorCode = reply.errorCode;
                Finish(ExchangeEnd::Refused);
            } else {
                ++m_result.skipped;  // a dump or another device's message answers no write
            }
            return;
        }
        case ExchangeKind::None:
            return;
    }
}

void Exchange::Tick(Millis now) {
    if (!Running()) {
        return;
    }
    if (m_kind == ExchangeKind::Search) {
        if (m_turnEnds && now >= *m_turnEnds) {
            NextOutput(now);
        }
        return;
    }
    if (m_silenceMs > 0 && m_lastTraffic && now - *m_lastTraffic >= m_silenceMs) {
        Finish(ExchangeEnd::Silent);
    }
}

std::optional<Millis> Exchange::Deadline() const {
    if (!Running()) {
        return std::nullopt;
    }
    if (m_kind == ExchangeKind::Search) {
        return m_turnEnds;
    }
    if (m_silenceMs > 0 && m_lastTraffic) {
        return *m_lastTraffic + m_silenceMs;
    }
    return std::nullopt;
}

void Exchange::Abandon() {
    if (!Running()) {
        return;
    }
    if (m_kind == ExchangeKind::Search && m_outputOpen) {
        m_actions.push_back({ExchangeAction::Kind::Close, m_asking, {}});
        m_outputOpen = false;
    }
    Finish(ExchangeEnd::Abandoned);
}

void Exchange::Finish(ExchangeEnd end) {
    m_result.end = end;
    m_awaitingSend = false;
    // An answer ends with its F7; anything half received belongs to nothing asked, and the rest
    // of an answer given up on must not be taken for the next one.
    ForgetPartial();
}

void Exchange::ForgetPartial() {
    for (auto& [input, assembler] : m_assemblers) {
        assembler.Clear();
    }
}

ExchangeResult Exchange::TakeResult() {
    ExchangeResult result = std::move(m_result);
    m_result = ExchangeResult{};
    m_kind = ExchangeKind::None;
    return result;
}

}  // namespace bq::midi
