#include "skingen/gif_encoder.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <unordered_map>

namespace fd {

namespace {

void Put16(std::vector<uint8_t>& out, int v) {
    out.push_back(static_cast<uint8_t>(v & 0xff));
    out.push_back(static_cast<uint8_t>((v >> 8) & 0xff));
}

// Packs variable-width codes least significant bit first, as GIF wants.
class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t>& out) : m_out(out) {}
    void Write(uint32_t code, int bits) {
        m_acc |= code << m_count;
        m_count += bits;
        while (m_count >= 8) {
            m_out.push_back(static_cast<uint8_t>(m_acc & 0xff));
            m_acc >>= 8;
            m_count -= 8;
        }
    }
    void Flush() {
        if (m_count > 0) m_out.push_back(static_cast<uint8_t>(m_acc & 0xff));
        m_acc = 0;
        m_count = 0;
    }

private:
    std::vector<uint8_t>& m_out;
    uint32_t m_acc = 0;
    int m_count = 0;
};

std::vector<uint8_t> LzwCompress(const std::vector<uint8_t>& indices, int minCodeSize) {
    std::vector<uint8_t> raw;
    BitWriter bw(raw);
    const uint32_t clear = 1u << minCodeSize;
    const uint32_t eoi = clear + 1;
    std::unordered_map<uint32_t, uint32_t> dict;  // (prefix << 8 | byte) -> code
    uint32_t next = eoi + 1;
    int width = minCodeSize + 1;
    bw.Write(clear, width);
    if (indices.empty()) {
        bw.Write(eoi, width);
        bw.Flush();
        return raw;
    }
    uint32_t prefix = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        const uint8_t c = indices[i];
        const uint32_t key = (prefix << 8) | c;
        if (auto it = dict.find(key); it != dict.end()) {
            prefix = it->second;
            continue;
        }
        bw.Write(prefix, width);
        dict.emplace(key, next);
        if (next == (1u << width) && width < 12) ++width;
        ++next;
        if (next == 4096) {
            // Table full: start over rather than keep coding with a frozen table.
            bw.Write(clear, width);
            dict.clear();
            next = eoi + 1;
            width = minCodeSize + 1;
        }
        prefix = c;
    }
    bw.Write(prefix, width);
    bw.Write(eoi, width);
    bw.Flush();
    return raw;
}

}  // namespace

std::vector<uint8_t> EncodeGif(int width, int height, const std::vector<GifColor>& palette,
                               const std::vector<GifFrame>& frames, bool loop) {
    if (width <= 0 || height <= 0 || width > 0xffff || height > 0xffff) return {};
    if (frames.empty() || palette.empty() || palette.size() > 256) return {};
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    for (const GifFrame& f : frames) {
        if (f.indices.size() != pixels) return {};
        for (uint8_t idx : f.indices) {
            if (idx >= palette.size()) return {};
        }
    }
    int bits = 1;
    while ((1u << bits) < palette.size()) ++bits;
    const int tableSize = 1 << bits;

    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    Put16(out, width);
    Put16(out, height);
    out.push_back(static_cast<uint8_t>(0x80 | ((bits - 1) << 4) | (bits - 1)));
    out.push_back(0);  // background colour index
    out.push_back(0);  // no aspect ratio
    for (int i = 0; i < tableSize; ++i) {
        const GifColor c = i < static_cast<int>(palette.size()) ? palette[i] : GifColor{0, 0, 0};
        out.push_back(c.r);
        out.push_back(c.g);
        out.push_back(c.b);
    }
    if (loop && frames.size() > 1) {
        const uint8_t netscape[] = {0x21, 0xff, 0x0b, 'N', 'E',  'T',  'S',  'C',  'A', 'P',
                                    'E',  '2',  '.',  '0', 0x03, 0x01, 0x00, 0x00, 0x00};
        out.insert(out.end(), std::begin(netscape), std::end(netscape));
    }
    const int minCodeSize = bits < 2 ? 2 : bits;
    for (const GifFrame& f : frames) {
        out.push_back(0x21);
        out.push_back(0xf9);
        out.push_back(0x04);
        out.push_back(static_cast<uint8_t>((f.disposal & 7) << 2));
        Put16(out, f.delayCs < 0 ? 0 : f.delayCs);
        out.push_back(0);  // transparent index (unused)
        out.push_back(0);
        out.push_back(0x2c);
        Put16(out, 0);
        Put16(out, 0);
        Put16(out, width);
        Put16(out, height);
        out.push_back(0);  // no local table, not interlaced
        out.push_back(static_cast<uint8_t>(minCodeSize));
        const std::vector<uint8_t> data = LzwCompress(f.indices, minCodeSize);
        for (size_t pos = 0; pos < data.size(); pos += 255) {
            const size_t n = std::min<size_t>(255, data.size() - pos);
            out.push_back(static_cast<uint8_t>(n));
            out.insert(out.end(), data.begin() + static_cast<long>(pos),
                       data.begin() + static_cast<long>(pos + n));
        }
        out.push_back(0);
    }
    out.push_back(0x3b);
    return out;
}

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace fd
