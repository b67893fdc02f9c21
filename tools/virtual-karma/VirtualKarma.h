#pragma once

// A stand-in for the Karma workstation: its memory and its answers to the SysEx messages this
// program sends. Used in-process behind the loopback MIDI services and by the JACK program.
//
// Thread-safety: every public member may be called from any thread. HandleMessage runs on the
// MIDI backend's thread while tests read memory or change fault modes; one mutex guards all
// state. The answer log is called on the thread of HandleMessage, outside the lock.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "midi/MidiDevice.h"
#include "model/Result.h"

class CKarmaRootContainer;

namespace bq {

class VirtualKarma final : public midi::IMidiDevice {
public:
    static constexpr int kBanks = 6;
    static constexpr int kSlots = 128;
    static constexpr int kMossBank = 5;  // Program bank F holds MOSS Programs
    static constexpr std::size_t kPcmProgramSize = 804;
    static constexpr std::size_t kMossProgramSize = 416;
    static constexpr std::size_t kCombiSize = 996;

    // The serialised memory (SerializeMemory, WriteMemory): raw records back to back, with
    // nothing else in between: Program banks A to E (128 x 804 bytes each, slot 0 first),
    // Program bank F (128 x 416), Combination banks A to F (128 x 996 each), then the current
    // Combination (996). 1,333,732 bytes in all.
    static constexpr std::size_t kMemorySize = 5 * kSlots * kPcmProgramSize +
                                               kSlots * kMossProgramSize +
                                               kBanks * kSlots * kCombiSize + kCombiSize;

    // What the instrument does wrong, for tests of the program's failure paths.
    struct Faults {
        // Both apply to the writes of Combinations and of Programs.
        bool failWrites = false;     // answer Item Writes with a Failed Reply, store nothing
        bool errorWrites = false;    // answer Item Writes with an Error Reply, store nothing
        std::uint8_t errorCode = 0;  //   ... carrying this code (bit 7 is dropped)
        // Store this many writes (counted from SetFaults), then fail the later ones as
        // failWrites does.
        std::optional<std::size_t> failAfterWrites;
        bool silent = false;       // answer only Identity Requests (so it can be found)
        bool refuseDumps = false;  // answer dump requests with a Failed Reply
        bool pauseDumps = false;   // pause a dump after pauseAfterBytes for pauseMs
        std::size_t pauseAfterBytes = 0;
        std::uint32_t pauseMs = 0;
        std::vector<std::uint8_t> stray;  // sent before every reply to a dump request or write
    };

    // Starts with generated records in every slot and in the current Combination.
    VirtualKarma();

    // Global channel 0..15 (higher bits are dropped); default 0.
    void SetChannel(std::uint8_t channel);
    std::uint8_t Channel() const;

    void SetFaults(const Faults& faults);
    Faults GetFaults() const;

    // Called with one line for each request answered (and each refused or malformed one).
    using AnswerLog = std::function<void(const std::string& line)>;
    void SetAnswerLog(AnswerLog log);

    // Generated records everywhere again.
    void ResetMemory();
    // Generated records, then the items of the container over them (PBK1 banks to Program
    // banks, CBK1 banks to Combination banks); slots the container leaves empty keep theirs.
    void LoadFromRoot(CKarmaRootContainer* root);
    // The same, from a PCG file, and bank F from its MBK1 chunk when it carries one (a
    // backup's MOSS records); memory is unchanged when loading fails.
    HRESULT LoadPCG(const char* path);

    // One record, a copy; empty for a bank or slot out of range.
    std::vector<std::uint8_t> ProgramRecord(int bank, int slot) const;
    std::vector<std::uint8_t> CombiRecord(int bank, int slot) const;
    std::vector<std::uint8_t> CurrentCombi() const;
    // The 128 records of a bank back to back, as a dump of it unpacks to; empty out of range.
    std::vector<std::uint8_t> ProgramBank(int bank) const;
    std::vector<std::uint8_t> CombiBank(int bank) const;
    // False when the bank or slot is out of range or the size is not the record size.
    bool SetProgramRecord(int bank, int slot, const std::uint8_t* record, std::size_t size);
    bool SetCombiRecord(int bank, int slot, const std::uint8_t* record, std::size_t size);
    bool SetCurrentCombi(const std::uint8_t* record, std::size_t size);

    std::vector<std::uint8_t> SerializeMemory() const;
    // Writes SerializeMemory() to a file; false when it cannot be written completely.
    bool WriteMemory(const char* path) const;

    // The messages it sends, for comparison by tests; empty out of range.
    std::vector<std::uint8_t> ProgramBankDump(int bank) const;
    std::vector<std::uint8_t> CombiBankDump(int bank) const;
    std::vector<std::uint8_t> CurrentCombiDump() const;
    std::vector<std::uint8_t> IdentityReply() const;

    // Record generated for an empty slot: a name such as "Combi C-017" padded to 16 bytes,
    // then deterministic bytes of every value. Record size by kind; empty out of range.
    static std::vector<std::uint8_t> GeneratedProgram(int bank, int slot);
    static std::vector<std::uint8_t> GeneratedCombi(int bank, int slot);

    void HandleMessage(const std::uint8_t* message, std::size_t length,
                       std::vector<midi::MidiTimedBytes>* reply) override;

private:
    std::size_t ProgramSize(int bank) const;
    std::uint8_t* ProgramSlot(int bank, int slot);
    const std::uint8_t* ProgramSlot(int bank, int slot) const;
    std::uint8_t* CombiSlot(int bank, int slot);
    const std::uint8_t* CombiSlot(int bank, int slot) const;
    std::vector<std::uint8_t> BuildDump(std::uint8_t function, std::uint8_t bankByte,
                                        const std::uint8_t* data, std::size_t size) const;
    void ResetLocked();
    std::string HandleLocked(const std::uint8_t* message, std::size_t length,
                             std::vector<midi::MidiTimedBytes>* reply);
    // An Item Write of a Combination or of a Program: stored and answered with a Completed
    // Reply, or refused (malformed, or by a fault) and stored nowhere.
    std::string HandleWriteLocked(const std::uint8_t* message, std::size_t length, bool program,
                                  std::vector<midi::MidiTimedBytes>* reply);
    void AppendReply(std::vector<std::uint8_t> bytes, bool isDump,
                     std::vector<midi::MidiTimedBytes>* reply) const;

    mutable std::mutex m_mutex;
    std::uint8_t m_channel = 0;
    Faults m_faults;
    std::size_t m_writesStored = 0;  // since SetFaults
    AnswerLog m_log;
    std::vector<std::uint8_t> m_programs;  // banks A..E (804-byte records), then F (416)
    std::vector<std::uint8_t> m_combis;    // banks A..F
    std::vector<std::uint8_t> m_current;   // the current Combination
};

}  // namespace bq
