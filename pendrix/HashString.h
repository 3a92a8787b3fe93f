#pragma once
#include <string>

namespace pendrix {

// Digest settings: what to digest (a text or a file), with which algorithm,
// and how to print it.
//   algorithms: 1 CRC-32, 2 GOST R 34.11-94, 3 MD2, 4 MD4, 5 MD5, 6 SHA-1,
//               7 SHA-2 (256, 384 or 512 bits by SetSha2Bits)
//   formats:    1 lower-case hex, 2 the same with a blank after every second
//               digit (the last pair included), 3 upper-case, 4 upper-case
//               with the blanks
//   sources:    1 the text, 2 the file (read in binary, 16000 bytes at a
//               time). No file name, a file that cannot be opened or a read
//               error give an empty result, never a digest of partial data.
// An unknown algorithm gives an empty result too.
class CHashString {
public:
    void SetSource(int source); // 1 the text, 2 the file; else 1
    void SetText(const std::string& text);
    void SetFileName(const std::string& fileName);
    void SetOutputFormat(int format); // 1 to 4; else 1
    void SetAlgorithm(int algorithm);
    void SetSha2Bits(int bits); // 256, 384 or 512; else 256
    std::string Compute();

private:
    std::string m_text;
    int m_algorithm = 6;
    std::string m_fileName;
    int m_outputFormat = 1;
    int m_source = 1;
    int m_sha2Bits = 256;
    std::string m_scratch;
};

} // namespace pendrix
