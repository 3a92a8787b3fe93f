// The AVI reader on our own clip and on clips written for each case: frame
// order, palettes (a count of 0 is 256 colours), every index checked, and
// truncated or malformed files failing with an error instead of reading on.
#include <gtest/gtest.h>

#include <cstring>

#include "AviFile.h"
#include "TestSupport.h"

using testsupport::TempDir;

namespace {

AviSpec Paletted(int w, int h, std::vector<uint32_t> palette, std::vector<std::vector<uint32_t>> frames)
{
    AviSpec spec;
    spec.width = w;
    spec.height = h;
    spec.bitCount = 8;
    spec.palette = std::move(palette);
    spec.frames = std::move(frames);
    spec.msPerFrame = 50;
    return spec;
}

HRESULT LoadBytes(AviClip& clip, const std::string& bytes)
{
    return clip.Load(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

} // namespace

TEST(AviClip, OurBusyClipDecodes)
{
    AviClip clip;
    ASSERT_EQ(clip.Open((testsupport::SourceDir() / "res/avi/255.avi").string()), S_OK);
    EXPECT_EQ(clip.FrameCount(), 12);
    EXPECT_EQ(clip.Width(), 48);
    EXPECT_EQ(clip.Height(), 48);
    EXPECT_EQ(clip.BitCount(), 8);
    EXPECT_EQ(clip.TotalTimeMs(), 12 * 80);
    // The corners are the transparent green, and so is the first pixel byte.
    EXPECT_EQ(clip.FirstFrameColour(), RGB(0, 255, 0));
    for (int f = 0; f < clip.FrameCount(); ++f) {
        const uint32_t* frame = clip.Frame(f);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame[0], 0x00FF00u);
        EXPECT_EQ(frame[48 * 48 - 1], 0x00FF00u);
    }
    // The bright dot runs round: consecutive frames differ, and the clip loops
    // back to a picture like its first after twelve steps.
    for (int f = 1; f < clip.FrameCount(); ++f)
        EXPECT_NE(0, std::memcmp(clip.Frame(f - 1), clip.Frame(f), 48 * 48 * 4)) << f;
    // Frame 0 has its brightest dot at the top of the ring.
    const uint32_t* first = clip.Frame(0);
    uint32_t top = first[(24 - 16) * 48 + 24];
    uint32_t bottom = first[(24 + 16) * 48 + 24];
    auto blue = [](uint32_t rgb) { return static_cast<int>((rgb >> 16) & 0xFF); };
    EXPECT_LT(blue(top), blue(bottom)); // darker blue = brighter dot (less red)
    EXPECT_EQ(clip.Frame(12), nullptr);
    EXPECT_EQ(clip.Frame(-1), nullptr);
}

TEST(AviClip, RowsComeTopFirstAndPaletteCountZeroMeansAll256)
{
    std::vector<uint32_t> palette(256);
    for (uint32_t i = 0; i < 256; ++i)
        palette[i] = i * 0x010101u;
    palette[255] = 0x123456;
    // 3 x 2: top row 255 1 2, bottom row 3 4 5.
    AviSpec spec = Paletted(3, 2, palette, {{255, 1, 2, 3, 4, 5}});
    spec.writePaletteCount = false;
    AviClip clip;
    ASSERT_EQ(LoadBytes(clip, AviWriteUncompressed(spec)), S_OK);
    const uint32_t* f = clip.Frame(0);
    EXPECT_EQ(f[0], 0x123456u);
    EXPECT_EQ(f[2], 0x020202u);
    EXPECT_EQ(f[3], 0x030303u);
    // The first pixel byte of the stored (bottom-up) picture is the bottom
    // left one: palette entry 3.
    EXPECT_EQ(clip.FirstFrameColour(), RGB(3, 3, 3));
}

TEST(AviClip, IndexOutsideThePaletteIsRefused)
{
    AviSpec spec = Paletted(2, 2, {0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00}, {{0, 1, 2, 3}, {0, 7, 1, 1}});
    AviClip clip;
    EXPECT_EQ(LoadBytes(clip, AviWriteUncompressed(spec)), AVIERR_BADFORMAT);
    EXPECT_FALSE(clip.IsOpen());
    EXPECT_EQ(clip.FrameCount(), 0);
}

TEST(AviClip, TrueColourFramesAndTheirTransparentColour)
{
    for (int bits : {24, 32}) {
        AviSpec spec;
        spec.width = 5; // 24-bit rows need padding
        spec.height = 1;
        spec.bitCount = bits;
        spec.frames = {{0xFF0000, 0x00FF00, 0x0000FF, 0x102030, 0xABCDEF}};
        AviClip clip;
        ASSERT_EQ(LoadBytes(clip, AviWriteUncompressed(spec)), S_OK) << bits;
        EXPECT_EQ(clip.Frame(0)[0], 0xFF0000u);
        EXPECT_EQ(clip.Frame(0)[4], 0xABCDEFu);
        // Only 8-bit frames name their first colour.
        EXPECT_EQ(clip.FirstFrameColour(), RGB(0, 255, 0));
    }
}

TEST(AviClip, EveryTruncationFailsCleanly)
{
    AviSpec spec = Paletted(4, 3, {0x000000, 0xFFFFFF},
                            {{0, 1, 0, 1, 1, 0, 1, 0, 0, 0, 1, 1}, {1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1}});
    std::string bytes = AviWriteUncompressed(spec);
    AviClip full;
    ASSERT_EQ(LoadBytes(full, bytes), S_OK);
    ASSERT_EQ(full.FrameCount(), 2);
    // Cut anywhere before the second frame's end: never S_OK with broken
    // frames; copies on the heap let the sanitizers see any overread.
    size_t moviEnd = bytes.find("idx1");
    ASSERT_NE(moviEnd, std::string::npos);
    for (size_t cut = 0; cut < moviEnd; ++cut) {
        std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<long>(cut));
        AviClip clip;
        HRESULT hr = clip.Load(prefix.data(), prefix.size());
        if (hr == S_OK) {
            // Only whole frames count.
            EXPECT_EQ(clip.FrameCount(), 1) << cut;
        } else {
            EXPECT_FALSE(clip.IsOpen()) << cut;
        }
    }
}

TEST(AviClip, MalformedAndUnsupportedFiles)
{
    AviSpec spec = Paletted(2, 2, {0x000000, 0xFFFFFF}, {{0, 1, 1, 0}});
    const std::string good = AviWriteUncompressed(spec);
    AviClip clip;

    std::string notAvi = good;
    notAvi.replace(8, 4, "WAVE");
    EXPECT_EQ(LoadBytes(clip, notAvi), AVIERR_BADFORMAT);

    // Compressed frames (biCompression at strf + 16).
    std::string compressed = good;
    size_t strf = compressed.find("strf");
    ASSERT_NE(strf, std::string::npos);
    compressed[strf + 8 + 16] = 1;
    EXPECT_EQ(LoadBytes(clip, compressed), AVIERR_UNSUPPORTED);

    // A palette count above 256.
    std::string bigPalette = good;
    bigPalette[strf + 8 + 32] = 0;
    bigPalette[strf + 8 + 33] = 2; // 512
    EXPECT_EQ(LoadBytes(clip, bigPalette), AVIERR_BADFORMAT);

    // A palette count the format chunk cannot hold (2 entries stored).
    std::string shortPalette = good;
    shortPalette[strf + 8 + 32] = 3;
    EXPECT_EQ(LoadBytes(clip, shortPalette), AVIERR_BADFORMAT);

    // No frames at all.
    AviSpec empty = spec;
    empty.frames.clear();
    EXPECT_EQ(LoadBytes(clip, AviWriteUncompressed(empty)), AVIERR_NODATA);

    TempDir dir;
    EXPECT_EQ(clip.Open((dir / "missing.avi").string()), AVIERR_FILEOPEN);
    testsupport::WriteFile(dir / "empty.avi", "");
    EXPECT_EQ(clip.Open((dir / "empty.avi").string()), AVIERR_BADFORMAT);
}

TEST(AviClip, EmptyChunksRepeatAndRecordListsCount)
{
    // 4 x 2, three frames: a picture, an empty chunk (the same picture
    // again) and one inside a "rec " list.
    AviClip clip;
    ASSERT_EQ(clip.Open((testsupport::SourceDir() / "tests/fuzz/seeds/fuzz_avi/tiny.avi").string()), S_OK);
    ASSERT_EQ(clip.FrameCount(), 3);
    EXPECT_EQ(0, std::memcmp(clip.Frame(0), clip.Frame(1), 8 * 4));
    EXPECT_NE(0, std::memcmp(clip.Frame(1), clip.Frame(2), 8 * 4));
    EXPECT_EQ(clip.Frame(2)[0], 0xFFFFFFu); // top row of the last frame: index 1
    EXPECT_EQ(clip.FirstFrameColour(), RGB(0, 0, 0));
    EXPECT_EQ(clip.TotalTimeMs(), 300);
}
