#include "Sha2.h"

#include <cstring>

#include "ByteOrder.h"

namespace pendrix {
namespace {

const uint32_t kK256[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

const uint64_t kK512[80] = {
    0x428a2f98d728ae22, 0x7137449123ef65cd, 0xb5c0fbcfec4d3b2f, 0xe9b5dba58189dbbc, 0x3956c25bf348b538,
    0x59f111f1b605d019, 0x923f82a4af194f9b, 0xab1c5ed5da6d8118, 0xd807aa98a3030242, 0x12835b0145706fbe,
    0x243185be4ee4b28c, 0x550c7dc3d5ffb4e2, 0x72be5d74f27b896f, 0x80deb1fe3b1696b1, 0x9bdc06a725c71235,
    0xc19bf174cf692694, 0xe49b69c19ef14ad2, 0xefbe4786384f25e3, 0x0fc19dc68b8cd5b5, 0x240ca1cc77ac9c65,
    0x2de92c6f592b0275, 0x4a7484aa6ea6e483, 0x5cb0a9dcbd41fbd4, 0x76f988da831153b5, 0x983e5152ee66dfab,
    0xa831c66d2db43210, 0xb00327c898fb213f, 0xbf597fc7beef0ee4, 0xc6e00bf33da88fc2, 0xd5a79147930aa725,
    0x06ca6351e003826f, 0x142929670a0e6e70, 0x27b70a8546d22ffc, 0x2e1b21385c26c926, 0x4d2c6dfc5ac42aed,
    0x53380d139d95b3df, 0x650a73548baf63de, 0x766a0abb3c77b2a8, 0x81c2c92e47edaee6, 0x92722c851482353b,
    0xa2bfe8a14cf10364, 0xa81a664bbc423001, 0xc24b8b70d0f89791, 0xc76c51a30654be30, 0xd192e819d6ef5218,
    0xd69906245565a910, 0xf40e35855771202a, 0x106aa07032bbd1b8, 0x19a4c116b8d2d0c8, 0x1e376c085141ab53,
    0x2748774cdf8eeb99, 0x34b0bcb5e19b48a8, 0x391c0cb3c5c95a63, 0x4ed8aa4ae3418acb, 0x5b9cca4f7763e373,
    0x682e6ff3d6b2b8a3, 0x748f82ee5defb2fc, 0x78a5636f43172f60, 0x84c87814a1f0ab72, 0x8cc702081a6439ec,
    0x90befffa23631e28, 0xa4506cebde82bde9, 0xbef9a3f7b2c67915, 0xc67178f2e372532b, 0xca273eceea26619c,
    0xd186b8c721c0c207, 0xeada7dd6cde0eb1e, 0xf57d4f7fee6ed178, 0x06f067aa72176fba, 0x0a637dc5a2c898a6,
    0x113f9804bef90dae, 0x1b710b35131c471b, 0x28db77f523047d84, 0x32caab7b40c72493, 0x3c9ebe0a15c9bebc,
    0x431d67c49c100d4c, 0x4cc5d4becb3e42b6, 0x597f299cfc657e2a, 0x5fcb6fab3ad6faec, 0x6c44198c4a475817,
};

const uint32_t kInit256[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
const uint64_t kInit384[8] = {0xcbbb9d5dc1059ed8, 0x629a292a367cd507, 0x9159015a3070dd17, 0x152fecd8f70e5939,
                              0x67332667ffc00b31, 0x8eb44a8768581511, 0xdb0c2e0d64f98fa7, 0x47b5481dbefa4fa4};
const uint64_t kInit512[8] = {0x6a09e667f3bcc908, 0xbb67ae8584caa73b, 0x3c6ef372fe94f82b, 0xa54ff53a5f1d36f1,
                              0x510e527fade682d1, 0x9b05688c2b3e6c1f, 0x1f83d9abfb41bd6b, 0x5be0cd19137e2179};

// Rotation and shift counts of one SHA-2 width: the message schedule's two
// mixes (rotate, rotate, shift) and the round's two sums (three rotations).
struct Sigmas {
    int schedule0[3];
    int schedule1[3];
    int round0[3];
    int round1[3];
};
constexpr Sigmas kSigmas256{{7, 18, 3}, {17, 19, 10}, {2, 13, 22}, {6, 11, 25}};
constexpr Sigmas kSigmas512{{1, 8, 7}, {19, 61, 6}, {28, 34, 39}, {14, 18, 41}};

template <typename Word> Word Mix(Word x, const int (&n)[3]) { return Rotr(x, n[0]) ^ Rotr(x, n[1]) ^ (x >> n[2]); }

template <typename Word> Word Sum(Word x, const int (&n)[3]) { return Rotr(x, n[0]) ^ Rotr(x, n[1]) ^ Rotr(x, n[2]); }

// One compression of a block into the state, for either word width.
template <typename Word, int Rounds>
void Compress(Word (&state)[8], const uint8_t* block, const Word (&k)[Rounds], const Sigmas& sg)
{
    Word w[Rounds];
    LoadWords(block, w, 16, true);
    for (int i = 16; i < Rounds; ++i)
        w[i] = w[i - 16] + Mix(w[i - 15], sg.schedule0) + w[i - 7] + Mix(w[i - 2], sg.schedule1);
    Word v[8];
    std::memcpy(v, state, sizeof v);
    for (int i = 0; i < Rounds; ++i) {
        Word ch = (v[4] & v[5]) ^ (~v[4] & v[6]);
        Word t1 = v[7] + Sum(v[4], sg.round1) + ch + k[i] + w[i];
        Word maj = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
        Word t2 = Sum(v[0], sg.round0) + maj;
        std::memmove(v + 1, v, 7 * sizeof v[0]);
        v[4] += t1;
        v[0] = t1 + t2;
    }
    for (int i = 0; i < 8; ++i)
        state[i] += v[i];
}

} // namespace

Sha2::Sha2(int bits)
    : BlockDigest(bits == 384 || bits == 512 ? 128 : 64)
    , m_size(bits == 384   ? 48
             : bits == 512 ? 64
                           : 32)
{
    std::memcpy(m_state32, kInit256, sizeof m_state32);
    std::memcpy(m_state64, m_size == 48 ? kInit384 : kInit512, sizeof m_state64);
}

void Sha2::Transform(const uint8_t* block)
{
    if (m_size == 32)
        Compress(m_state32, block, kK256, kSigmas256);
    else
        Compress(m_state64, block, kK512, kSigmas512);
}

void Sha2::Final(uint8_t* digest)
{
    // The length field is 64 bits for SHA-256 and 128 bits for the others.
    PadWithLength(m_size == 32 ? 8 : 16, true);
    if (m_size == 32)
        StoreWords(m_state32, m_size, digest, true);
    else
        StoreWords(m_state64, m_size, digest, true);
}

} // namespace pendrix
