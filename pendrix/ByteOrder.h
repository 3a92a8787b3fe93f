#pragma once
// Words as the digests lay them out in bytes, most significant byte first
// (big-endian) or least significant first, and the rotations they mix with.
#include <cstddef>
#include <cstdint>

namespace pendrix {

template <typename Word> Word Rotl(Word x, int n) { return (x << n) | (x >> (8 * sizeof(Word) - n)); }
template <typename Word> Word Rotr(Word x, int n) { return (x >> n) | (x << (8 * sizeof(Word) - n)); }

// `count` words read from `bytes`.
template <typename Word> void LoadWords(const uint8_t* bytes, Word* words, size_t count, bool bigEndian)
{
    for (size_t i = 0; i < count; ++i) {
        Word w = 0;
        for (size_t b = 0; b < sizeof(Word); ++b)
            w |= static_cast<Word>(bytes[i * sizeof(Word) + b]) << (8 * (bigEndian ? sizeof(Word) - 1 - b : b));
        words[i] = w;
    }
}

// The first `size` bytes of `words` written to `bytes`.
template <typename Word> void StoreWords(const Word* words, size_t size, uint8_t* bytes, bool bigEndian)
{
    for (size_t i = 0; i < size; ++i) {
        const size_t b = i % sizeof(Word);
        bytes[i] = static_cast<uint8_t>(words[i / sizeof(Word)] >> (8 * (bigEndian ? sizeof(Word) - 1 - b : b)));
    }
}

} // namespace pendrix
