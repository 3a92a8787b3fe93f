#pragma once
// Uncompressed AVI clips: a reader for the first video stream of a RIFF AVI
// file (8-bit palettised, 24-bit and 32-bit frames without compression) and a
// writer of such clips. The reader checks every size and palette index
// against the file and fails with an AVI error code instead of reading past
// it.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using HRESULT = int32_t;

constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT AVIERR_UNSUPPORTED = static_cast<HRESULT>(0x80044065u);
constexpr HRESULT AVIERR_BADFORMAT = static_cast<HRESULT>(0x80044066u);
constexpr HRESULT AVIERR_FILEREAD = static_cast<HRESULT>(0x8004406Du);
constexpr HRESULT AVIERR_FILEOPEN = static_cast<HRESULT>(0x8004406Fu);
constexpr HRESULT AVIERR_NODATA = static_cast<HRESULT>(0x80044070u);

// A Windows colour value: 0x00BBGGRR.
using COLORREF = uint32_t;
constexpr COLORREF RGB(unsigned r, unsigned g, unsigned b)
{
    return (r & 0xFF) | ((g & 0xFF) << 8) | ((b & 0xFF) << 16);
}

class AviClip {
public:
    // Limits of what the reader accepts.
    static constexpr int kMaxSide = 4096;
    static constexpr size_t kMaxPixels = size_t{16} * 1024 * 1024; // over all decoded frames
    static constexpr size_t kMaxFileSize = size_t{256} * 1024 * 1024;
    static constexpr int kMaxFrames = 100000;

    // Reads a file / bytes; S_OK or an AVIERR_* code (the clip is then empty).
    HRESULT Open(const std::string& path);
    HRESULT Load(const uint8_t* data, size_t size);
    void Clear();

    bool IsOpen() const { return !m_frameMap.empty(); }
    int FrameCount() const { return static_cast<int>(m_frameMap.size()); }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    int BitCount() const { return m_bitCount; }
    // Play time of the stream, start and all frames, in milliseconds (>= 1).
    long TotalTimeMs() const { return m_totalMs; }
    // Pixels of frame index, top row first, 0x00RRGGBB each; nullptr when
    // the index is out of range.
    const uint32_t* Frame(int index) const;
    // The colour of the first frame's first pixel byte as a palette index
    // when the frame is 8-bit; green (0x00FF00) for any other frame.
    COLORREF FirstFrameColour() const { return m_firstColour; }

private:
    int m_width = 0;
    int m_height = 0;
    int m_bitCount = 0;
    long m_totalMs = 0;
    COLORREF m_firstColour = RGB(0, 255, 0);
    std::vector<std::vector<uint32_t>> m_frames; // decoded distinct frames
    std::vector<int> m_frameMap;                 // frame index -> decoded frame
};

// What AviWriteUncompressed writes.
struct AviSpec {
    int width = 0;
    int height = 0;                // positive: rows stored bottom-up
    int bitCount = 8;              // 8, 24 or 32
    std::vector<uint32_t> palette; // 0x00RRGGBB entries (8-bit only)
    bool writePaletteCount = true; // false writes biClrUsed 0 ("all 256")
    int msPerFrame = 100;
    // Each frame: top-down pixels, one palette index (8-bit) or 0x00RRGGBB.
    std::vector<std::vector<uint32_t>> frames;
};

// The bytes of an uncompressed AVI file with one video stream.
std::string AviWriteUncompressed(const AviSpec& spec);
