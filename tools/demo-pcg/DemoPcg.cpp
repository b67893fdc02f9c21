#include "tools/demo-pcg/DemoPcg.h"

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string_view>

namespace bq::demo {

namespace {

using Bytes = std::vector<unsigned char>;

// 32 x 48 = 1536 = 2 kinds x 6 banks x 128 slots: every item gets its own pair.
constexpr std::string_view kAdjectives[] = {
    "Amber", "Brisk", "Cobalt", "Dusty", "Elder", "Frosty", "Gilded", "Hollow",
    "Inky",  "Jade",  "Kindly", "Lunar", "Misty", "Nimble", "Opal",   "Pale",
    "Quiet", "Rusty", "Silver", "Tidal", "Umber", "Velvet", "Windy",  "Young",
    "Zesty", "Ashen", "Bold",   "Coral", "Dim",   "Early",  "Faint",  "Grand"};
constexpr std::string_view kNouns[] = {
    "Anvil",  "Beacon", "Canyon",  "Delta",  "Ember",   "Fjord",   "Glacier", "Harbor",
    "Island", "Jetty",  "Kettle",  "Lagoon", "Meadow",  "Nebula",  "Orchard", "Prairie",
    "Quarry", "River",  "Summit",  "Tundra", "Upland",  "Valley",  "Willow",  "Yarrow",
    "Zephyr", "Arbor",  "Bramble", "Cinder", "Dune",    "Estuary", "Fern",    "Grove",
    "Heath",  "Inlet",  "Juniper", "Knoll",  "Lantern", "Marsh",   "Nook",    "Oasis",
    "Pebble", "Quill",  "Ridge",   "Spire",  "Thicket", "Umbra",   "Vale",    "Wharf"};
constexpr int kAdjectiveCount = sizeof kAdjectives / sizeof kAdjectives[0];
constexpr int kNounCount = sizeof kNouns / sizeof kNouns[0];
static_assert(kAdjectiveCount * kNounCount == 2 * kBanks * kSlots);

std::string Name(int index) {
    std::string name(kAdjectives[index % kAdjectiveCount]);
    name += ' ';
    name += kNouns[index / kAdjectiveCount];
    return name;
}

// A small deterministic generator, so that the file is the same on every build.
Bytes Pattern(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    std::uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (unsigned char& b : out) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<unsigned char>(x & 0x7F);  // parameter values stay in MIDI range
    }
    return out;
}

Bytes Record(std::size_t size, const std::string& name, std::uint32_t seed) {
    Bytes record = Pattern(size, seed);
    for (std::size_t i = 0; i < 16; ++i) {
        record[i] = i < name.size() ? static_cast<unsigned char>(name[i]) : ' ';
    }
    return record;
}

void Put32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<unsigned char>(v >> shift));
    }
}

void Append(Bytes& out, const Bytes& more) {
    out.insert(out.end(), more.begin(), more.end());
}

Bytes Chunk(std::string_view tag, const Bytes& content) {
    Bytes out(tag.begin(), tag.end());
    Put32(out, static_cast<std::uint32_t>(content.size()));
    Append(out, content);
    return out;
}

Bytes Container(std::string_view tag, std::initializer_list<Bytes> children) {
    Bytes content;
    for (const Bytes& c : children) {
        Append(content, c);
    }
    return Chunk(tag, content);
}

Bytes Leaf(std::string_view tag, std::uint32_t count, std::uint32_t second, std::uint32_t bank,
           const Bytes& payload) {
    Bytes content;
    Put32(content, count);
    Put32(content, second);
    Put32(content, bank);
    Append(content, payload);
    return Chunk(tag, content);
}

template <typename MakeRecord>
Bytes BankChunk(std::string_view tag, std::uint32_t recordSize, int bank, MakeRecord make) {
    Bytes payload;
    payload.reserve(recordSize * kSlots);
    for (int slot = 0; slot < kSlots; ++slot) {
        Append(payload, make(bank, slot));
    }
    return Leaf(tag, kSlots, recordSize, static_cast<std::uint32_t>(bank), payload);
}

// Skipped data: the MOSS bank, drum kits, arpeggio patterns and global settings.
Bytes Skipped(std::string_view tag, std::uint32_t count, std::uint32_t itemSize, std::uint32_t bank,
              std::uint32_t seed) {
    return Leaf(tag, count, itemSize, bank, Pattern(std::size_t{count} * itemSize, seed));
}

}  // namespace

std::string ProgramName(int bank, int slot) {
    return Name(bank * kSlots + slot);
}
std::string CombiName(int bank, int slot) {
    return Name((kBanks + bank) * kSlots + slot);
}

Bytes ProgramRecord(int bank, int slot) {
    return Record(804, ProgramName(bank, slot), static_cast<std::uint32_t>(bank * kSlots + slot));
}

namespace {

// One timbre of a Combination: status (0 Int, 1 Off, 2 Both), channel (16: the global one),
// the Program it plays, its key and velocity ranges.
void PutTimbre(Bytes& record, int timbre, int status, int channel, int programBank,
               int programSlot, int topKey, int bottomKey) {
    unsigned char* t = record.data() + 772 + 28 * (timbre - 1);
    t[0] = static_cast<unsigned char>(programSlot);
    t[1] = static_cast<unsigned char>(programBank);
    t[2] = static_cast<unsigned char>((status << 5) | channel);
    t[21] = static_cast<unsigned char>(topKey);
    t[22] = static_cast<unsigned char>(bottomKey);
    t[24] = 127;
    t[25] = 1;
}

}  // namespace

Bytes CombiRecord(int bank, int slot) {
    Bytes record = Record(996, CombiName(bank, slot),
                          static_cast<std::uint32_t>(0x10000 + bank * kSlots + slot));
    // Timbres as a musician sets them up, so that the Programs a Combination plays are real
    // ones: the whole keyboard on a Program of a bank A to E, a split above middle C on another
    // (the MOSS bank F among them), every fourth Combination a GM Program too; the rest off.
    PutTimbre(record, 1, 0, 16, bank % 5, slot, 127, 0);
    PutTimbre(record, 2, 2, 0, (bank + 1 + slot % 3) % 6, (slot * 5 + 3) % kSlots, 127, 60);
    for (int timbre = 3; timbre <= 8; ++timbre) {
        const bool gm = timbre == 3 && slot % 4 == 0;
        PutTimbre(record, timbre, gm ? 0 : 1, gm ? 9 : 16, gm ? 6 : 0, gm ? slot : 0, 127, 0);
    }
    return record;
}

Bytes MakeDemoPcg() {
    Bytes programs;
    for (int b = 0; b < kBanks; ++b) {
        Append(programs, BankChunk("PBK1", 804, b, &ProgramRecord));
    }
    Append(programs, Skipped("MBK1", kSlots, 416, 5, 1));
    Bytes combis;
    for (int b = 0; b < kBanks; ++b) {
        Append(combis, BankChunk("CBK1", 996, b, &CombiRecord));
    }
    Bytes root;
    Append(root, Skipped("DIV1", 1, 32, 0, 2));
    Append(root, Chunk("PRG1", programs));
    Append(root, Chunk("CMB1", combis));
    Append(root, Container("DKT1", {Skipped("DBK1", 16, 1024, 0, 3)}));
    Append(root, Container("ARP1", {Skipped("ABK1", 64, 640, 0, 4)}));
    Append(root, Skipped("GLB1", 1, 3072, 0, 5));
    Append(root, Skipped("CSM1", 1, 16, 0, 6));

    Bytes file = {'K', 'O', 'R', 'G', 0x5D, 0x00, 0x00, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    Append(file, Chunk("PCG1", root));
    return file;
}

bool WriteDemoPcg(const std::string& path) {
    const Bytes bytes = MakeDemoPcg();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return (std::fclose(out) == 0) && written;
}

}  // namespace bq::demo
