#include "AviFile.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>

namespace {

uint32_t U32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
bool Is(const uint8_t* p, const char* fourcc) { return std::memcmp(p, fourcc, 4) == 0; }

struct Chunk {
    const uint8_t* id;
    const uint8_t* data;
    size_t size;
};

// Walks the chunks between begin and end; false when one overruns the range.
template <typename Fn> bool ForEachChunk(const uint8_t* begin, const uint8_t* end, Fn&& fn)
{
    const uint8_t* p = begin;
    while (end - p >= 8) {
        Chunk chunk{p, p + 8, U32(p + 4)};
        if (chunk.size > static_cast<size_t>(end - chunk.data))
            return false;
        if (!fn(chunk))
            return true;
        size_t step = 8 + chunk.size + (chunk.size & 1);
        if (step > static_cast<size_t>(end - p))
            break; // a pad byte missing at the very end is tolerated
        p += step;
    }
    return true;
}

struct VideoFormat {
    bool found = false;
    int streamIndex = -1;
    uint32_t scale = 0, rate = 0, start = 0, length = 0;
    const uint8_t* strf = nullptr;
    size_t strfSize = 0;
};

} // namespace

void AviClip::Clear()
{
    m_width = m_height = m_bitCount = 0;
    m_totalMs = 0;
    m_firstColour = RGB(0, 255, 0);
    m_frames.clear();
    m_frameMap.clear();
}

const uint32_t* AviClip::Frame(int index) const
{
    if (index < 0 || index >= FrameCount())
        return nullptr;
    return m_frames[static_cast<size_t>(m_frameMap[static_cast<size_t>(index)])].data();
}

HRESULT AviClip::Open(const std::string& path)
{
    Clear();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return AVIERR_FILEOPEN;
    in.seekg(0, std::ios::end);
    std::streamoff size = in.tellg();
    if (size < 0)
        return AVIERR_FILEREAD;
    if (static_cast<size_t>(size) > kMaxFileSize)
        return AVIERR_BADFORMAT;
    in.seekg(0);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size))
        return AVIERR_FILEREAD;
    return Load(bytes.data(), bytes.size());
}

HRESULT AviClip::Load(const uint8_t* data, size_t size)
{
    Clear();
    if (data == nullptr || size < 12 || !Is(data, "RIFF") || !Is(data + 8, "AVI "))
        return AVIERR_BADFORMAT;
    size_t riffEnd = std::min(size, static_cast<size_t>(U32(data + 4)) + 8);
    if (riffEnd < 12)
        return AVIERR_BADFORMAT;
    const uint8_t* end = data + riffEnd;

    VideoFormat video;
    uint32_t microSecPerFrame = 0;
    const uint8_t* movi = nullptr;
    size_t moviSize = 0;
    bool ok = ForEachChunk(data + 12, end, [&](const Chunk& c) {
        if (Is(c.id, "LIST") && c.size >= 4 && Is(c.data, "hdrl")) {
            int streamOrdinal = 0;
            bool inner = ForEachChunk(c.data + 4, c.data + c.size, [&](const Chunk& h) {
                if (Is(h.id, "avih") && h.size >= 4) {
                    microSecPerFrame = U32(h.data);
                } else if (Is(h.id, "LIST") && h.size >= 4 && Is(h.data, "strl")) {
                    int ordinal = streamOrdinal++;
                    if (video.found)
                        return true;
                    VideoFormat candidate;
                    bool strl = ForEachChunk(h.data + 4, h.data + h.size, [&](const Chunk& s) {
                        if (Is(s.id, "strh") && s.size >= 36) {
                            if (Is(s.data, "vids")) {
                                candidate.found = true;
                                candidate.scale = U32(s.data + 20);
                                candidate.rate = U32(s.data + 24);
                                candidate.start = U32(s.data + 28);
                                candidate.length = U32(s.data + 32);
                            }
                        } else if (Is(s.id, "strf")) {
                            candidate.strf = s.data;
                            candidate.strfSize = s.size;
                        }
                        return true;
                    });
                    if (strl && candidate.found && candidate.strf != nullptr) {
                        video = candidate;
                        video.streamIndex = ordinal;
                    }
                }
                return true;
            });
            return inner;
        }
        if (Is(c.id, "LIST") && c.size >= 4 && Is(c.data, "movi")) {
            movi = c.data + 4;
            moviSize = c.size - 4;
            return false; // the index after it is not needed
        }
        return true;
    });
    if (!ok || !video.found || movi == nullptr)
        return AVIERR_BADFORMAT;

    // The frame format.
    if (video.strfSize < 40)
        return AVIERR_BADFORMAT;
    const uint8_t* bih = video.strf;
    uint32_t headerSize = U32(bih);
    int32_t width = static_cast<int32_t>(U32(bih + 4));
    int32_t height = static_cast<int32_t>(U32(bih + 8));
    uint16_t bitCount = U16(bih + 14);
    uint32_t compression = U32(bih + 16);
    uint32_t clrUsed = U32(bih + 32);
    if (headerSize < 40 || headerSize > video.strfSize)
        return AVIERR_BADFORMAT;
    if (compression != 0)
        return AVIERR_UNSUPPORTED;
    if (bitCount != 8 && bitCount != 24 && bitCount != 32)
        return AVIERR_UNSUPPORTED;
    const bool topDown = height < 0;
    if (height == INT32_MIN || width <= 0 || width > kMaxSide)
        return AVIERR_BADFORMAT;
    if (topDown)
        height = -height;
    if (height == 0 || height > kMaxSide)
        return AVIERR_BADFORMAT;

    std::vector<uint32_t> palette;
    if (bitCount == 8) {
        // A palette count of 0 means all 256 colours.
        uint32_t count = clrUsed == 0 ? 256 : clrUsed;
        if (count > 256 || static_cast<size_t>(count) * 4 > video.strfSize - headerSize)
            return AVIERR_BADFORMAT;
        const uint8_t* entries = bih + headerSize;
        for (size_t i = 0; i < count; ++i) {
            const uint8_t* q = entries + i * 4; // blue, green, red, reserved
            palette.push_back((uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0]);
        }
    }

    const size_t stride = ((static_cast<size_t>(width) * bitCount + 31) / 32) * 4;
    const size_t frameBytes = stride * static_cast<size_t>(height);
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    const uint8_t wanted[2] = {static_cast<uint8_t>('0' + (video.streamIndex / 10) % 10),
                               static_cast<uint8_t>('0' + video.streamIndex % 10)};

    HRESULT failure = S_OK;
    size_t decodedPixels = 0;
    bool firstSeen = false;
    std::function<bool(const uint8_t*, const uint8_t*, int)> walk;
    walk = [&](const uint8_t* begin, const uint8_t* stop, int depth) {
        return ForEachChunk(begin, stop, [&](const Chunk& c) {
            if (Is(c.id, "LIST") && c.size >= 4 && Is(c.data, "rec ")) {
                // "rec " lists group chunks; they are never nested deeply.
                if (depth >= 4 || !walk(c.data + 4, c.data + c.size, depth + 1))
                    failure = AVIERR_BADFORMAT;
                return failure == S_OK;
            }
            if (c.id[0] != wanted[0] || c.id[1] != wanted[1] || c.id[2] != 'd' || (c.id[3] != 'b' && c.id[3] != 'c'))
                return true;
            if (m_frameMap.size() >= static_cast<size_t>(kMaxFrames)) {
                failure = AVIERR_BADFORMAT;
                return false;
            }
            if (c.size == 0) {
                // An empty chunk repeats the frame before it.
                if (m_frameMap.empty()) {
                    failure = AVIERR_BADFORMAT;
                    return false;
                }
                m_frameMap.push_back(m_frameMap.back());
                return true;
            }
            if (c.size < frameBytes) {
                failure = AVIERR_BADFORMAT;
                return false;
            }
            if (decodedPixels + pixels > kMaxPixels) {
                failure = AVIERR_BADFORMAT;
                return false;
            }
            std::vector<uint32_t> frame(pixels);
            for (int y = 0; y < height; ++y) {
                const uint8_t* row = c.data + stride * static_cast<size_t>(topDown ? y : height - 1 - y);
                uint32_t* out = frame.data() + static_cast<size_t>(y) * static_cast<size_t>(width);
                for (int x = 0; x < width; ++x) {
                    if (bitCount == 8) {
                        uint8_t index = row[x];
                        if (index >= palette.size()) {
                            failure = AVIERR_BADFORMAT;
                            return false;
                        }
                        out[x] = palette[index];
                    } else {
                        const uint8_t* q = row + static_cast<size_t>(x) * (bitCount / 8);
                        out[x] = (uint32_t(q[2]) << 16) | (uint32_t(q[1]) << 8) | q[0];
                    }
                }
            }
            if (!firstSeen) {
                firstSeen = true;
                if (bitCount == 8) {
                    uint32_t rgb = palette[c.data[0]];
                    m_firstColour = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
                }
            }
            decodedPixels += pixels;
            m_frames.push_back(std::move(frame));
            m_frameMap.push_back(static_cast<int>(m_frames.size() - 1));
            return true;
        });
    };
    if (!walk(movi, movi + moviSize, 0) && failure == S_OK)
        failure = AVIERR_BADFORMAT;
    if (failure != S_OK) {
        Clear();
        return failure;
    }
    if (video.length > 0 && m_frameMap.size() > video.length)
        m_frameMap.resize(video.length);
    if (m_frameMap.empty()) {
        Clear();
        return AVIERR_NODATA;
    }

    // Play time of (start + frames) samples.
    double samples = static_cast<double>(video.start) + static_cast<double>(m_frameMap.size());
    double ms;
    if (video.rate != 0 && video.scale != 0)
        ms = samples * video.scale * 1000.0 / video.rate;
    else if (microSecPerFrame != 0)
        ms = samples * microSecPerFrame / 1000.0;
    else {
        Clear();
        return AVIERR_BADFORMAT;
    }
    if (ms > 24.0 * 3600 * 1000) {
        Clear();
        return AVIERR_BADFORMAT;
    }
    m_totalMs = ms < 1.0 ? 1 : static_cast<long>(ms);
    m_width = width;
    m_height = height;
    m_bitCount = bitCount;
    return S_OK;
}

namespace {

void Put32(std::string& out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put16(std::string& out, uint16_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>(v >> 8);
}
std::string ChunkOf(const char* id, const std::string& body)
{
    std::string out(id, 4);
    Put32(out, static_cast<uint32_t>(body.size()));
    out += body;
    if (body.size() & 1)
        out += '\0';
    return out;
}
std::string ListOf(const char* type, const std::string& body) { return ChunkOf("LIST", std::string(type, 4) + body); }

} // namespace

std::string AviWriteUncompressed(const AviSpec& spec)
{
    const uint32_t w = static_cast<uint32_t>(spec.width);
    const uint32_t h = static_cast<uint32_t>(spec.height);
    const uint32_t bits = static_cast<uint32_t>(spec.bitCount);
    const size_t stride = ((static_cast<size_t>(w) * bits + 31) / 32) * 4;
    const uint32_t frameBytes = static_cast<uint32_t>(stride * h);
    const uint32_t frames = static_cast<uint32_t>(spec.frames.size());
    const uint32_t paletteCount = bits == 8 ? static_cast<uint32_t>(spec.palette.size()) : 0;

    std::string avih;
    Put32(avih, static_cast<uint32_t>(spec.msPerFrame) * 1000); // microseconds per frame
    Put32(avih, frameBytes * 10);                               // max bytes per second
    Put32(avih, 0);                                             // padding granularity
    Put32(avih, 0x10);                                          // AVIF_HASINDEX
    Put32(avih, frames);
    Put32(avih, 0); // initial frames
    Put32(avih, 1); // streams
    Put32(avih, frameBytes);
    Put32(avih, w);
    Put32(avih, h);
    for (int i = 0; i < 4; ++i)
        Put32(avih, 0);

    std::string strh = "vids";
    Put32(strh, 0); // handler: none (DIB)
    Put32(strh, 0); // flags
    Put16(strh, 0);
    Put16(strh, 0);
    Put32(strh, 0);                                      // initial frames
    Put32(strh, static_cast<uint32_t>(spec.msPerFrame)); // scale
    Put32(strh, 1000);                                   // rate: scale/rate seconds per frame
    Put32(strh, 0);                                      // start
    Put32(strh, frames);                                 // length
    Put32(strh, frameBytes);                             // suggested buffer size
    Put32(strh, 0xFFFFFFFFu);                            // quality
    Put32(strh, 0);                                      // sample size
    Put16(strh, 0);
    Put16(strh, 0);
    Put16(strh, static_cast<uint16_t>(w));
    Put16(strh, static_cast<uint16_t>(h));

    std::string strf;
    Put32(strf, 40);
    Put32(strf, w);
    Put32(strf, h);
    Put16(strf, 1);
    Put16(strf, static_cast<uint16_t>(bits));
    Put32(strf, 0); // BI_RGB
    Put32(strf, frameBytes);
    Put32(strf, 2835);
    Put32(strf, 2835);
    Put32(strf, spec.writePaletteCount ? paletteCount : 0);
    Put32(strf, 0);
    for (uint32_t i = 0; i < paletteCount; ++i) {
        uint32_t rgb = spec.palette[i];
        strf += static_cast<char>(rgb & 0xFF);
        strf += static_cast<char>((rgb >> 8) & 0xFF);
        strf += static_cast<char>((rgb >> 16) & 0xFF);
        strf += '\0';
    }

    std::string hdrl =
        ListOf("hdrl", ChunkOf("avih", avih) + ListOf("strl", ChunkOf("strh", strh) + ChunkOf("strf", strf)));

    std::string moviBody;
    std::string idx1;
    for (const std::vector<uint32_t>& frame : spec.frames) {
        std::string bytes(frameBytes, '\0');
        for (uint32_t y = 0; y < h; ++y) {
            char* row = bytes.data() + stride * (h - 1 - y); // bottom-up
            for (uint32_t x = 0; x < w; ++x) {
                size_t i = static_cast<size_t>(y) * w + x;
                uint32_t v = i < frame.size() ? frame[i] : 0;
                if (bits == 8) {
                    row[x] = static_cast<char>(v & 0xFF);
                } else {
                    char* q = row + static_cast<size_t>(x) * (bits / 8);
                    q[0] = static_cast<char>(v & 0xFF);
                    q[1] = static_cast<char>((v >> 8) & 0xFF);
                    q[2] = static_cast<char>((v >> 16) & 0xFF);
                    if (bits == 32)
                        q[3] = '\0';
                }
            }
        }
        idx1 += "00db";
        Put32(idx1, 0x10); // key frame
        Put32(idx1, static_cast<uint32_t>(4 + moviBody.size()));
        Put32(idx1, frameBytes);
        moviBody += ChunkOf("00db", bytes);
    }
    std::string body = "AVI " + hdrl + ListOf("movi", moviBody) + ChunkOf("idx1", idx1);
    std::string out = "RIFF";
    Put32(out, static_cast<uint32_t>(body.size()));
    return out + body;
}
