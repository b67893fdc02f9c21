#include "tests/support/PcgBuilder.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace bq::test {

namespace {

Bytes Record(std::size_t size, std::string_view name, unsigned seed) {
    Bytes record(size);
    for (std::size_t i = 0; i < size; ++i) {
        record[i] = static_cast<unsigned char>((i * 31 + seed * 17 + 5) & 0xFF);
    }
    for (std::size_t i = 0; i < 16; ++i) {
        record[i] = i < name.size() ? static_cast<unsigned char>(name[i]) : ' ';
    }
    return record;
}

Bytes Bank(std::string_view tag, std::uint32_t bank, const std::vector<std::string>& names,
           Bytes (*make)(std::string_view, unsigned)) {
    Bytes payload;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const Bytes r = make(names[i], static_cast<unsigned>(i));
        payload.insert(payload.end(), r.begin(), r.end());
    }
    return Leaf(tag, static_cast<std::uint32_t>(names.size()), bank, payload);
}

}  // namespace

Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

Bytes BigEndian(std::uint32_t value) {
    return {static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
            static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
}

Bytes Tag(std::string_view tag) {
    Bytes out(4, ' ');
    for (std::size_t i = 0; i < 4 && i < tag.size(); ++i) {
        out[i] = static_cast<unsigned char>(tag[i]);
    }
    return out;
}

Bytes FileHeader(unsigned char product) {
    Bytes h = {'K', 'O', 'R', 'G', product, 0x01, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0};
    return h;
}

Bytes ChunkWithSize(std::string_view tag, std::uint32_t size, const Bytes& content) {
    return Cat({Tag(tag), BigEndian(size), content});
}

Bytes Chunk(std::string_view tag, const Bytes& content) {
    return ChunkWithSize(tag, static_cast<std::uint32_t>(content.size()), content);
}

Bytes Container(std::string_view tag, std::initializer_list<Bytes> children) {
    return Chunk(tag, Cat(children));
}

Bytes SubHeader(std::uint32_t count, std::uint32_t bank, std::uint32_t second) {
    return Cat({BigEndian(count), BigEndian(second), BigEndian(bank)});
}

Bytes Leaf(std::string_view tag, std::uint32_t count, std::uint32_t bank, const Bytes& payload) {
    return Chunk(tag, Cat({SubHeader(count, bank), payload}));
}

Bytes ProgramRecord(std::string_view name, unsigned seed) {
    return Record(804, name, seed);
}
Bytes CombiRecord(std::string_view name, unsigned seed) {
    return Record(996, name, seed);
}

Bytes CombiWithTimbres(std::string_view name, std::initializer_list<TimbreBytes> timbres,
                       unsigned seed) {
    Bytes record = CombiRecord(name, seed);
    for (std::size_t t = 0; t < 8; ++t) {
        record[772 + 28 * t + 2] = kTimbreOff;
    }
    for (const TimbreBytes& t : timbres) {
        const std::size_t at = 772 + 28 * static_cast<std::size_t>(t.number - 1);
        record[at] = t.slot;
        record[at + 1] = t.bank;
        record[at + 2] = t.statusChannel;
    }
    return record;
}

Bytes ProgramBank(std::uint32_t bank, const std::vector<std::string>& names) {
    return Bank("PBK1", bank, names, &ProgramRecord);
}

Bytes CombiBank(std::uint32_t bank, const std::vector<std::string>& names) {
    return Bank("CBK1", bank, names, &CombiRecord);
}

Bytes PcgFile(const Bytes& rootContent, unsigned char product) {
    return Cat({FileHeader(product), Chunk("PCG1", rootContent)});
}

TempFile::TempFile(const Bytes& content, std::string_view name) {
    std::string pattern = (std::filesystem::temp_directory_path() / "bq-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::abort();  // no temporary directory: no test can run meaningfully
    }
    m_dir = pattern;
    m_path = (std::filesystem::path(m_dir) / name).string();
    std::ofstream out(m_path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(content.data()),
              static_cast<std::streamsize>(content.size()));
}

TempFile::~TempFile() {
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

}  // namespace bq::test
