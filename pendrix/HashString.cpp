#include "HashString.h"

#include <cctype>
#include <cstdint>

#include "Md5.h"

namespace pendrix {

void CHashString::SetSource(int source) { m_source = source == 2 ? 2 : 1; }
void CHashString::SetText(const std::string& text) { m_text = text; }
void CHashString::SetFileName(const std::string& fileName) { m_fileName = fileName; }
void CHashString::SetOutputFormat(int format) { m_outputFormat = format >= 1 && format <= 4 ? format : 1; }
void CHashString::SetAlgorithm(int algorithm) { m_algorithm = algorithm; }
void CHashString::SetSha2Bits(int bits) { m_sha2Bits = bits; }

std::string CHashString::Compute()
{
    m_scratch.clear();
    if (m_algorithm != 5)
        return m_scratch;
    Md5 md5;
    md5.Update(m_text.data(), m_text.size());
    uint8_t digest[16];
    md5.Final(digest);
    static const char hex[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        m_scratch += hex[digest[i] >> 4];
        m_scratch += hex[digest[i] & 15];
    }
    if (m_outputFormat == 3 || m_outputFormat == 4)
        for (auto& c : m_scratch)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return m_scratch;
}

} // namespace pendrix
