// The AVI reader on arbitrary bytes: it either refuses them or yields frames
// whose every pixel can be read.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "AviFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // A heap copy of exactly size bytes, so any overread is caught.
    std::vector<uint8_t> bytes(data, data + size);
    AviClip clip;
    HRESULT hr = clip.Load(bytes.data(), bytes.size());
    if (hr != S_OK) {
        if (clip.IsOpen() || clip.FrameCount() != 0)
            std::abort();
        return 0;
    }
    if (clip.FrameCount() <= 0 || clip.TotalTimeMs() < 1 || clip.Width() <= 0 || clip.Height() <= 0)
        std::abort();
    const size_t pixels = static_cast<size_t>(clip.Width()) * static_cast<size_t>(clip.Height());
    for (int f = 0; f < clip.FrameCount(); ++f) {
        const uint32_t* frame = clip.Frame(f);
        if (frame == nullptr)
            std::abort();
        for (size_t i = 0; i < pixels; ++i)
            if (frame[i] > 0xFFFFFFu) // pixels are 0x00RRGGBB
                std::abort();
    }
    return 0;
}
