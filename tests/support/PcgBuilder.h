#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

// PCG files made byte by byte for tests: every tag, size and sub-header is written exactly as
// given, so malformed files are as easy to make as valid ones.
namespace bq::test {

using Bytes = std::vector<unsigned char>;

Bytes Cat(std::initializer_list<Bytes> parts);
Bytes BigEndian(std::uint32_t value);
// The four characters of a tag as they stand in the file.
Bytes Tag(std::string_view tag);

// The 16-byte file header: "KORG", the product byte, byte 6 zero.
Bytes FileHeader(unsigned char product = 0x5D);

// A chunk: tag, size, content. The size is the content's length unless given.
Bytes Chunk(std::string_view tag, const Bytes& content);
Bytes ChunkWithSize(std::string_view tag, std::uint32_t size, const Bytes& content);
// A container chunk holding the given chunks one after the other.
Bytes Container(std::string_view tag, std::initializer_list<Bytes> children);
// A leaf chunk: sub-header (count, second word, bank index) and payload.
Bytes SubHeader(std::uint32_t count, std::uint32_t bank, std::uint32_t second = 0);
Bytes Leaf(std::string_view tag, std::uint32_t count, std::uint32_t bank, const Bytes& payload);

// Records of 804 (PCM Program) and 996 (Combination) bytes: the name padded with spaces to 16
// bytes (longer names are cut), then a pattern that depends on `seed`.
Bytes ProgramRecord(std::string_view name, unsigned seed = 0);
Bytes CombiRecord(std::string_view name, unsigned seed = 0);
// A timbre of a Combination record: its number (1 to 8), the Program's bank byte and slot,
// and byte 2 (status in bits 5 to 7, MIDI channel in bits 0 to 4).
struct TimbreBytes {
    int number;
    unsigned char bank;
    unsigned char slot;
    unsigned char statusChannel;
};
constexpr unsigned char kTimbreInt = 0x00;
constexpr unsigned char kTimbreOff = 0x20;
constexpr unsigned char kTimbreBoth = 0x40;
// CombiRecord with every timbre Off (byte 2 = 0x20), but for the timbres given, which are
// written at byte 772 + 28 * (number - 1).
Bytes CombiWithTimbres(std::string_view name, std::initializer_list<TimbreBytes> timbres,
                       unsigned seed = 0);
// "PBK1" / "CBK1" chunks holding one record per name, seeds 0, 1, ...
Bytes ProgramBank(std::uint32_t bank, const std::vector<std::string>& names);
Bytes CombiBank(std::uint32_t bank, const std::vector<std::string>& names);

// A whole file: the header, then a "PCG1" root chunk whose size fits the content exactly.
Bytes PcgFile(const Bytes& rootContent, unsigned char product = 0x5D);

// A file in a fresh temporary directory; both are removed with the object.
class TempFile {
public:
    explicit TempFile(const Bytes& content, std::string_view name = "test.pcg");
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;
    ~TempFile();
    const std::string& Path() const { return m_path; }
    const char* c_str() const { return m_path.c_str(); }

private:
    std::string m_dir;
    std::string m_path;
};

}  // namespace bq::test
