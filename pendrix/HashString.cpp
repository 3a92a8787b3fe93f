#include "HashString.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "Crc32.h"
#include "Gost94.h"
#include "Md2.h"
#include "Md4.h"
#include "Md5.h"
#include "Sha1.h"
#include "Sha2.h"

namespace pendrix {
namespace {

constexpr size_t kFileBlock = 16000;

std::unique_ptr<Digest> MakeDigest(int algorithm, int sha2Bits)
{
    switch (algorithm) {
    case 1: return std::make_unique<Crc32>();
    case 2: return std::make_unique<Gost94>();
    case 3: return std::make_unique<Md2>();
    case 4: return std::make_unique<Md4>();
    case 5: return std::make_unique<Md5>();
    case 6: return std::make_unique<Sha1>();
    case 7: return std::make_unique<Sha2>(sha2Bits);
    default: return nullptr;
    }
}

// Feeds the whole file to the digest; false when it cannot be opened or read.
bool DigestFile(const std::string& fileName, Digest& digest)
{
    FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file)
        return false;
    std::vector<char> block(kFileBlock);
    size_t got;
    do {
        got = std::fread(block.data(), 1, block.size(), file);
        digest.Update(block.data(), got);
    } while (got == block.size());
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

} // namespace

void CHashString::SetSource(int source) { m_source = source == 2 ? 2 : 1; }
void CHashString::SetText(const std::string& text) { m_text = text; }
void CHashString::SetFileName(const std::string& fileName) { m_fileName = fileName; }
void CHashString::SetOutputFormat(int format) { m_outputFormat = format >= 1 && format <= 4 ? format : 1; }
void CHashString::SetAlgorithm(int algorithm) { m_algorithm = algorithm; }
void CHashString::SetSha2Bits(int bits) { m_sha2Bits = bits == 384 || bits == 512 ? bits : 256; }

std::string CHashString::Compute()
{
    m_scratch.clear();
    std::unique_ptr<Digest> digest = MakeDigest(m_algorithm, m_sha2Bits);
    if (!digest)
        return m_scratch;
    if (m_source == 2) {
        if (m_fileName.empty() || !DigestFile(m_fileName, *digest))
            return m_scratch;
    } else {
        digest->Update(m_text.data(), m_text.size());
    }
    uint8_t bytes[64];
    digest->Final(bytes);

    const bool blanks = m_outputFormat == 2 || m_outputFormat == 4;
    const bool upper = m_outputFormat == 3 || m_outputFormat == 4;
    static const char hex[] = "0123456789abcdef";
    for (size_t i = 0; i < digest->Size(); ++i) {
        m_scratch += hex[bytes[i] >> 4];
        m_scratch += hex[bytes[i] & 15];
        if (blanks)
            m_scratch += ' ';
    }
    if (upper)
        for (auto& c : m_scratch)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return m_scratch;
}

} // namespace pendrix
