#include "midi/RestoreWrite.h"

#include <utility>

#include "midi/BackupDownload.h"

namespace bq::midi {
namespace {

// "16 of 140 slots were written", "1 of 1 slot was written".
std::string WrittenText(std::size_t written, std::size_t items) {
    return std::to_string(written) + " of " + std::to_string(items) +
           (items == 1 ? " slot " : " slots ") + (written == 1 ? "was" : "were") + " written";
}

// A write sent and never answered: the instrument may hold it or not.
std::string UnknownText(std::size_t written, std::size_t items) {
    return WrittenText(written, items) +
           " before it, and whether the Karma holds that slot now is "
           "not known";
}

}  // namespace

RestoreStatus RestoreWrite::Write(const RestorePlan& plan, const pcg::KarmaMemory& file,
                                  const ProgressFn& progress) {
    RestoreStatus status;
    const std::size_t items = plan.writes.size();
    auto fail = [&](RestoreError error, const RestoreSlot& slot, std::string reason) {
        status.error = error;
        status.failed = slot;
        status.reason = std::move(reason);
        return status;
    };
    if (!m_link.Connected()) {
        return fail(RestoreError::NotConnected, {-1, -1},
                    "not connected to the Karma; " + WrittenText(0, items));
    }
    RestoreProgress state;
    state.items = items;
    state.totalBytes = plan.sendBytes;
    auto report = [&] {
        if (progress) {
            progress(state);
        }
    };

    for (std::size_t i = 0; i < items; ++i) {
        const RestoreSlot& slot = plan.writes[i];
        if (Cancelled()) {
            return fail(RestoreError::Cancelled, slot, "cancelled; " + WrittenText(i, items));
        }
        const std::string name = RestoreSlotName(slot);
        std::vector<std::uint8_t> message = RestoreWriteMessage(file, slot);
        if (message.empty()) {
            return fail(RestoreError::NoRecord, slot,
                        "the file holds no record for " + name + "; " + WrittenText(i, items));
        }
        const std::size_t length = message.size();
        state.item = i + 1;
        state.slot = slot;
        state.done = false;
        state.bankDone = false;
        report();

        // An unanswered write is sent again: storing the same record twice is harmless, and
        // the answer may be what was lost.
        const std::string unanswered =
            "the Karma did not answer the write of " + name + " within " + SilenceText(m_silenceMs);
        ExchangeResult result;
        for (int attempt = 1; attempt <= kTries; ++attempt) {
            if (attempt > 1) {
                if (Cancelled()) {
                    result.end = ExchangeEnd::Abandoned;
                    break;
                }
                state.again = unanswered + "; sending it again (" + std::to_string(attempt) +
                              " of " + std::to_string(kTries) + ")";
                report();
                state.again.clear();
            }
            m_link.TakeFailures();
            m_link.Write(message, m_silenceMs);
            result = m_link.Await();
            if (result.end != ExchangeEnd::Silent) {
                break;
            }
        }
        switch (result.end) {
            case ExchangeEnd::Completed:
                break;
            case ExchangeEnd::Refused:
                status.reply = result.status;
                status.errorCode = result.errorCode;
                return fail(
                    RestoreError::Refused, slot,
                    "the Karma refused the write of " + name +
                        (result.status == sysex::ReplyKind::Error
                             ? " (Error Reply, code " + std::to_string(result.errorCode) + ")"
                             : " (Failed Reply)") +
                        "; " + WrittenText(i, items));
            case ExchangeEnd::NotSent: {
                const std::vector<LinkFailure> failures = m_link.TakeFailures();
                const LinkFailure failure = failures.empty() ? LinkFailure{} : failures.back();
                status.midi = failure.result;
                // A send given up on may have gone out in part or whole.
                status.unknown = failure.timedOut;
                return fail(RestoreError::NotSent, slot,
                            "cannot send the write of " + name + ": " +
                                m_link.Services().OutGetErrorText(failure.result) + "; " +
                                (failure.timedOut ? UnknownText(i, items) : WrittenText(i, items)));
            }
            case ExchangeEnd::Abandoned:
                status.unknown = true;
                return fail(RestoreError::Abandoned, slot,
                            "cancelled while writing " + name + "; " + UnknownText(i, items));
            default:
                status.unknown = true;
                return fail(RestoreError::Silent, slot,
                            unanswered + "; sent " + std::to_string(kTries) + " times; " +
                                UnknownText(i, items));
        }
        status.written = i + 1;
        state.done = true;
        state.bankDone = i + 1 == items || plan.writes[i + 1].bank != slot.bank;
        state.bytes += length;
        report();
    }
    return status;
}

}  // namespace bq::midi
