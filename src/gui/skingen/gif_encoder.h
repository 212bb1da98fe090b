#pragma once
// A small GIF89a writer for the skin generator: one global palette, full-size frames of
// palette indices, per-frame delay and disposal, endless looping. Qt reads GIF but cannot
// write it, and the wait animation has to be a GIF.

#include <cstdint>
#include <string>
#include <vector>

namespace fd {

struct GifColor {
    uint8_t r, g, b;
};

struct GifFrame {
    std::vector<uint8_t> indices;  // width * height palette indices, row by row
    int delayCs = 10;              // hundredths of a second
    int disposal = 1;              // 0 none, 1 keep, 2 background, 3 previous
};

// Returns the file image; empty when the input is inconsistent (no frames, a frame of the
// wrong size, an index outside the palette, more than 256 colours).
std::vector<uint8_t> EncodeGif(int width, int height, const std::vector<GifColor>& palette,
                               const std::vector<GifFrame>& frames, bool loop = true);

bool WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace fd
