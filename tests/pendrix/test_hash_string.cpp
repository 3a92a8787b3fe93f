// CHashString and the digest classes: published vectors for every algorithm,
// agreement with openssl and rhash on random inputs around every block and
// padding boundary, the output formats and the file source.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <sys/stat.h>

#include "Crc32.h"
#include "Gost94.h"
#include "HashString.h"
#include "Md2.h"
#include "Md4.h"
#include "Md5.h"
#include "Sha1.h"
#include "Sha2.h"
#include "TestSupport.h"

using pendrix::CHashString;

namespace {

// The digest of the text (source 1) or of the file named by input (source 2).
std::string Hash(int algorithm, const std::string& input, int format = 1, int sha2Bits = 256, int source = 1)
{
    CHashString hash;
    hash.SetSource(source);
    hash.SetAlgorithm(algorithm);
    hash.SetSha2Bits(sha2Bits);
    hash.SetOutputFormat(format);
    (source == 2 ? hash.SetFileName(input) : hash.SetText(input));
    return hash.Compute();
}

std::string HashFile(int algorithm, const std::string& fileName, int sha2Bits = 256)
{
    return Hash(algorithm, fileName, 1, sha2Bits, 2);
}

std::string RandomBytes(std::mt19937& rng, size_t n)
{
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng() & 0xff);
    return s;
}

struct Algo {
    const char* name;
    int algorithm;
    int bits;
    const char* peer; // command that digests the files named after it, one "digest ... file" line each
};

// Every algorithm a real peer on this system has: openssl for the MD and SHA
// families, rhash for CRC-32 and GOST R 34.11-94. MD2 has none here; its
// published vectors cover it.
const Algo kPeerAlgos[] = {
    {"CRC-32", 1, 256, "rhash --simple --crc32"},
    {"GOST R 34.11-94", 2, 256, "rhash --simple --gost94"},
    {"MD4", 4, 256, "openssl dgst -md4 -provider legacy -provider default -r"},
    {"MD5", 5, 256, "openssl dgst -md5 -r"},
    {"SHA-1", 6, 256, "openssl dgst -sha1 -r"},
    {"SHA-256", 7, 256, "openssl dgst -sha256 -r"},
    {"SHA-384", 7, 384, "openssl dgst -sha384 -r"},
    {"SHA-512", 7, 512, "openssl dgst -sha512 -r"},
};

// Runs the peer over the files; file name -> digest.
std::map<std::string, std::string> PeerDigests(const std::string& command,
                                               const std::vector<std::filesystem::path>& files)
{
    std::string line = command;
    for (auto& f : files)
        line += " " + f.string();
    int status = -1;
    std::string out = testsupport::RunCommand(line + " 2>&1", &status);
    EXPECT_EQ(status, 0) << line << "\n" << out;
    std::map<std::string, std::string> result;
    std::istringstream in(out);
    std::string digest, name;
    while (in >> digest >> name) {
        if (!name.empty() && name[0] == '*')
            name.erase(0, 1);
        result[name] = digest;
    }
    return result;
}

} // namespace

TEST(HashString, PublishedVectors)
{
    const std::string million(1000000, 'a');
    const std::string digits8 = "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
    const std::string alnum = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::string fips448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    const std::string fips896 =
        "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
        "mnopqrstnopqrstu";
    struct Vector {
        int algorithm;
        int bits;
        std::string text;
        const char* digest;
    };
    const Vector vectors[] = {
        // CRC-32: the catalogue check value, and common references.
        {1, 256, "123456789", "cbf43926"},
        {1, 256, "", "00000000"},
        {1, 256, "a", "e8b7be43"},
        {1, 256, "The quick brown fox jumps over the lazy dog", "414fa339"},
        // GOST R 34.11-94, test parameter set: RFC 5831 and the standard's examples.
        {2, 256, "", "ce85b99cc46752fffee35cab9a7b0278abb4c2d2055cff685af4912c49490f8d"},
        {2, 256, "a", "d42c539e367c66e9c88a801f6649349c21871b4344c6a573f849fdce62f314dd"},
        {2, 256, "abc", "f3134348c44fb1b2a277729e2285ebb5cb5e0f29c975bc753b70497c06a4d51d"},
        {2, 256, "message digest", "ad4434ecb18f2c99b60cbe59ec3d2469582b65273f48de72db2fde16a4889a4d"},
        {2, 256, "The quick brown fox jumps over the lazy dog",
         "77b7fa410c9ac58a25f49bca7d0468c9296529315eaca76bd1a10f376d1f4294"},
        {2, 256, "This is message, length=32 bytes",
         "b1c466d37519b82e8319819ff32595e047a28cb6f83eff1c6916a815a637fffa"},
        {2, 256, "Suppose the original message has length = 50 bytes",
         "471aba57a60a770d3a76130635c1fbea4ef14de51f78b4ae57dd893b62f55208"},
        {2, 256, std::string(128, 'U'), "53a3a3ed25180cef0c1d85a074273e551c25660a87062a52d926a9e8fe5733a4"},
        {2, 256, million, "5c00ccc2734cdd3332d3d4749576e3c1a7dbaf0e7ea74e9fa602413c90a129fa"},
        // MD2, RFC 1319.
        {3, 256, "", "8350e5a3e24c153df2275c9f80692773"},
        {3, 256, "a", "32ec01ec4a6dac72c0ab96fb34c0b5d1"},
        {3, 256, "abc", "da853b0d3f88d99b30283a69e6ded6bb"},
        {3, 256, "message digest", "ab4f496bfb2a530b219ff33031fe06b0"},
        {3, 256, "abcdefghijklmnopqrstuvwxyz", "4e8ddff3650292ab5a4108c3aa47940b"},
        {3, 256, alnum, "da33def2a42df13975352846c30338cd"},
        {3, 256, digits8, "d5976f79d83d3a0dc9806c3c66f3efd8"},
        // MD4, RFC 1320.
        {4, 256, "", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {4, 256, "a", "bde52cb31de33e46245e05fbdbd6fb24"},
        {4, 256, "abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {4, 256, "message digest", "d9130a8164549fe818874806e1c7014b"},
        {4, 256, "abcdefghijklmnopqrstuvwxyz", "d79e1c308aa5bbcdeea8ed63df412da9"},
        {4, 256, alnum, "043f8582f241db351ce627e153e7f0e4"},
        {4, 256, digits8, "e33b4ddc9c38f2199c3e7b164fcc0536"},
        // MD5, RFC 1321.
        {5, 256, "", "d41d8cd98f00b204e9800998ecf8427e"},
        {5, 256, "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {5, 256, digits8, "57edf4a22be3c955ac49da2e2107b67a"},
        // SHA-1 and SHA-2, the FIPS 180 examples.
        {6, 256, "", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
        {6, 256, "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {6, 256, fips448, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
        {6, 256, million, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
        {7, 256, "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {7, 256, "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {7, 256, fips448, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {7, 256, million, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        {7, 384, "abc",
         "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c825a7"},
        {7, 384, fips896,
         "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746039"},
        {7, 384, million,
         "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8985"},
        {7, 512, "abc",
         "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
         "454d4423643ce80e2a9ac94fa54ca49f"},
        {7, 512, fips896,
         "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433a"
         "c7d329eeb6dd26545e96e55b874be909"},
        {7, 512, million,
         "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31b"
         "eb009c5c2c49aa2e4eadb217ad8cc09b"},
    };
    for (const auto& v : vectors)
        EXPECT_EQ(Hash(v.algorithm, v.text, 1, v.bits), v.digest)
            << "algorithm " << v.algorithm << "/" << v.bits << " text of " << v.text.size()
            << " bytes: " << v.text.substr(0, 40);
}

// Random binary inputs (bytes 0 to 255) at every length around the block
// sizes (16, 32, 64, 128) and the padding limits (55/56 and 111/112), the
// same inputs as files for the peers.
TEST(HashString, AgreesWithOpensslAndRhashAroundBlockBoundaries)
{
    std::mt19937 rng(20240611);
    testsupport::TempDir dir;
    std::vector<std::filesystem::path> files;
    std::map<std::string, std::string> contents;
    const size_t lengths[] = {0,  1,  15, 16, 17,  31,  32,  33,  55,  56,  57,  63,   64,
                              65, 95, 96, 97, 111, 112, 113, 127, 128, 129, 191, 1000, 4099};
    for (size_t n : lengths) {
        auto path = dir / ("in" + std::to_string(n));
        contents[path.string()] = RandomBytes(rng, n);
        testsupport::WriteFile(path, contents[path.string()]);
        files.push_back(path);
    }
    for (const auto& algo : kPeerAlgos) {
        auto peer = PeerDigests(algo.peer, files);
        ASSERT_EQ(peer.size(), files.size()) << algo.name;
        for (const auto& [file, bytes] : contents)
            EXPECT_EQ(Hash(algo.algorithm, bytes, 1, algo.bits), peer[file])
                << algo.name << " over " << bytes.size() << " random bytes";
    }
}

TEST(HashString, StreamingInPiecesEqualsOneUpdate)
{
    std::mt19937 rng(7);
    using Make = std::unique_ptr<pendrix::Digest> (*)();
    const Make makers[] = {
        [] { return std::unique_ptr<pendrix::Digest>(new pendrix::Crc32); },
        [] { return std::unique_ptr<pendrix::Digest>(new pendrix::Gost94); },
        [] { return std::unique_ptr<pendrix::Digest>(new pendrix::Md2); },
        [] { return std::unique_ptr<pendrix::Digest>(new pendrix::Md4); },
        [] { return std::unique_ptr<pendrix::Digest>(new pendrix::Md5); },
        [] { return std::unique_ptr<pendrix::Digest>(new pendrix::Sha1); },
        [] { return std::unique_ptr<pendrix::Digest>(new pendrix::Sha2(256)); },
        [] { return std::unique_ptr<pendrix::Digest>(new pendrix::Sha2(384)); },
        [] { return std::unique_ptr<pendrix::Digest>(new pendrix::Sha2(512)); },
    };
    for (int round = 0; round < 20; ++round) {
        std::string data = RandomBytes(rng, rng() % 700);
        for (size_t m = 0; m < std::size(makers); ++m) {
            auto whole = makers[m]();
            whole->Update(data.data(), data.size());
            uint8_t expected[64];
            whole->Final(expected);

            auto pieces = makers[m]();
            for (size_t pos = 0; pos < data.size();) {
                size_t n = std::min<size_t>(rng() % 150, data.size() - pos);
                pieces->Update(data.data() + pos, n);
                pos += n;
            }
            uint8_t got[64];
            pieces->Final(got);
            EXPECT_EQ(std::string(reinterpret_cast<char*>(got), pieces->Size()),
                      std::string(reinterpret_cast<char*>(expected), whole->Size()))
                << "digest " << m << " over " << data.size() << " bytes";
        }
    }
}

TEST(HashString, OutputFormats)
{
    EXPECT_EQ(Hash(5, "abc", 1), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hash(5, "abc", 2), "90 01 50 98 3c d2 4f b0 d6 96 3f 7d 28 e1 7f 72 ");
    EXPECT_EQ(Hash(5, "abc", 3), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(Hash(5, "abc", 4), "90 01 50 98 3C D2 4F B0 D6 96 3F 7D 28 E1 7F 72 ");
    // CRC-32 prints as "%08x" does, leading zeros kept, then the same rules.
    EXPECT_EQ(Hash(1, "123456789", 2), "cb f4 39 26 ");
    EXPECT_EQ(Hash(1, "123456789", 4), "CB F4 39 26 ");
    EXPECT_EQ(Hash(1, "b", 3), "71BEEFF9");
    EXPECT_EQ(Hash(1, "", 3), "00000000");
    // Out-of-range formats fall back to lower-case hexadecimal.
    EXPECT_EQ(Hash(5, "abc", 0), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Hash(5, "abc", 5), "900150983cd24fb0d6963f7d28e17f72");
    // Every algorithm and size gives two digits per byte in each format.
    const std::pair<int, int> sizes[] = {{1, 4}, {2, 32}, {3, 16}, {4, 16}, {5, 16}, {6, 20}};
    for (auto [algorithm, bytes] : sizes) {
        EXPECT_EQ(Hash(algorithm, "x", 3).size(), size_t(2 * bytes)) << algorithm;
        EXPECT_EQ(Hash(algorithm, "x", 4).size(), size_t(3 * bytes)) << algorithm;
    }
}

TEST(HashString, SettingsAndTheirFallbacks)
{
    // A fresh object digests its text with SHA-1 by default.
    CHashString fresh;
    fresh.SetText("abc");
    EXPECT_EQ(fresh.Compute(), "a9993e364706816aba3e25717850c26c9cd0d89d");
    // SHA-2 sizes other than 384 and 512 give SHA-256.
    EXPECT_EQ(Hash(7, "abc", 1, 224), Hash(7, "abc", 1, 256));
    EXPECT_EQ(Hash(7, "abc", 1, 0).size(), 64u);
    // An unknown algorithm has no digest.
    EXPECT_EQ(Hash(0, "abc"), "");
    EXPECT_EQ(Hash(8, "abc"), "");
    // An unknown source means the text.
    CHashString hash;
    hash.SetAlgorithm(5);
    hash.SetText("abc");
    hash.SetFileName("/nonexistent");
    hash.SetSource(3);
    EXPECT_EQ(hash.Compute(), "900150983cd24fb0d6963f7d28e17f72");
    // The object can be reused: each Compute starts afresh.
    EXPECT_EQ(hash.Compute(), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(HashString, FileSourceReadsWholeFilesInBinary)
{
    std::mt19937 rng(16000);
    testsupport::TempDir dir;
    // Exactly one block, one block and a byte, several blocks with a short
    // tail, two whole blocks, and an empty file; CR LF and NUL bytes stay.
    const size_t lengths[] = {16000, 16001, 40000, 32000, 0};
    std::vector<std::filesystem::path> files;
    std::map<std::string, std::string> contents;
    for (size_t n : lengths) {
        auto path = dir / ("file" + std::to_string(n));
        std::string bytes = RandomBytes(rng, n);
        if (n > 10)
            bytes.replace(0, 5, std::string("\r\n\0\x1a\n", 5));
        testsupport::WriteFile(path, bytes);
        files.push_back(path);
        contents[path.string()] = bytes;
    }
    auto md5 = PeerDigests("openssl dgst -md5 -r", files);
    auto sha512 = PeerDigests("openssl dgst -sha512 -r", files);
    auto gost = PeerDigests("rhash --simple --gost94", files);
    for (const auto& [file, bytes] : contents) {
        EXPECT_EQ(HashFile(5, file), md5[file]) << bytes.size();
        EXPECT_EQ(HashFile(7, file, 512), sha512[file]) << bytes.size();
        EXPECT_EQ(HashFile(2, file), gost[file]) << bytes.size();
        EXPECT_EQ(HashFile(3, file), Hash(3, bytes)) << bytes.size();
    }
    EXPECT_EQ(HashFile(5, (dir / "file0").string()), "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(HashString, FileSourceWithoutAReadableFileGivesNoDigest)
{
    testsupport::TempDir dir;
    // No file name at all.
    EXPECT_EQ(HashFile(5, ""), "");
    // A file that does not exist: no digest, unlike an empty file, which has one.
    EXPECT_EQ(HashFile(5, (dir / "missing").string()), "");
    // A folder opens but cannot be read: no digest of the partial (empty) data.
    EXPECT_EQ(HashFile(5, dir.path().string()), "");
    EXPECT_EQ(HashFile(1, dir.path().string()), "");
    // A file without read permission (only meaningful when not running as root).
    auto locked = dir / "locked";
    testsupport::WriteFile(locked, "secret");
    ::chmod(locked.c_str(), 0);
    if (::geteuid() != 0)
        EXPECT_EQ(HashFile(5, locked.string()), "");
    else
        EXPECT_EQ(HashFile(5, locked.string()), Hash(5, "secret"));
}
