// Draws the program's icon (32x32, 16 colours) from the picture below and writes it as an .ico file.
// Usage: make_icon OUTPUT.ico
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kSize = 32;
constexpr int kColours = 16;

// The standard 16-colour palette, as B, G, R.
const uint8_t kPalette[kColours][3] = {
    {0, 0, 0},       {0, 0, 128},     {0, 128, 0},     {0, 128, 128},
    {128, 0, 0},     {128, 0, 128},   {128, 128, 0},   {192, 192, 192},
    {128, 128, 128}, {0, 0, 255},     {0, 255, 0},     {0, 255, 255},
    {255, 0, 0},     {255, 0, 255},   {255, 255, 0},   {255, 255, 255},
};

// One character a pixel: '.' transparent, 'k' black, 'n' navy, 'b' blue, 'w' white,
// 'y' yellow, 'g' grey. The picture: a blue page holding the loop "[>]" and a caret.
const char* const kPicture[kSize] = {
    "................................",
    "...kkkkkkkkkkkkkkkkkkkkkkkkkk...",
    "..knnnnnnnnnnnnnnnnnnnnnnnnnnk..",
    "..knbbbbbbbbbbbbbbbbbbbbbbbbnk..",
    "..knbbbbbbbbbbbbbbbbbbbbbbbbnk..",
    "..knbbbbbbbbbbbbbbbbbbbbbbbbnk..",
    "..knbbwwwwbbbbbbbbbbbbwwwwbbnk..",
    "..knbbwwwwbbbbbbbbbbbbwwwwbbnk..",
    "..knbbwwbbbbbbbbbbbbbbbbwwbbnk..",
    "..knbbwwbbbbyybbbbbbbbbbwwbbnk..",
    "..knbbwwbbbbyyyybbbbbbbbwwbbnk..",
    "..knbbwwbbbbyyyyyybbbbbbwwbbnk..",
    "..knbbwwbbbbbbyyyyyybbbbwwbbnk..",
    "..knbbwwbbbbbbbbyyyyyybbwwbbnk..",
    "..knbbwwbbbbbbbbbbyyyyybwwbbnk..",
    "..knbbwwbbbbbbbbyyyyyybbwwbbnk..",
    "..knbbwwbbbbbbyyyyyybbbbwwbbnk..",
    "..knbbwwbbbbyyyyyybbbbbbwwbbnk..",
    "..knbbwwbbbbyyyybbbbbbbbwwbbnk..",
    "..knbbwwbbbbyybbbbbbbbbbwwbbnk..",
    "..knbbwwbbbbbbbbbbbbbbbbwwbbnk..",
    "..knbbwwwwbbbbbbbbbbbbwwwwbbnk..",
    "..knbbwwwwbbbbbbbbbbbbwwwwbbnk..",
    "..knbbbbbbbbbbbbbbbbbbbbbbbbnk..",
    "..knbbbbbbbbbbbbbbbbbbbbbbbbnk..",
    "..knbbwwwwwwwwwwwwwwbbbbbbbbnk..",
    "..knbbwwwwwwwwwwwwwwbbbbbbbbnk..",
    "..knbbbbbbbbbbbbbbbbbbbbbbbbnk..",
    "..knnnnnnnnnnnnnnnnnnnnnnnnnnk..",
    "...kkkkkkkkkkkkkkkkkkkkkkkkkk...",
    "....gggggggggggggggggggggggggg..",
    "................................",
};

int colourIndex(char c) {
    switch (c) {
    case 'k': return 0;
    case 'n': return 1;
    case 'g': return 8;
    case 'b': return 12;
    case 'y': return 11;
    case 'w': return 15;
    default: return 0;
    }
}

void put16(uint8_t*& p, unsigned v) { *p++ = uint8_t(v); *p++ = uint8_t(v >> 8); }
void put32(uint8_t*& p, unsigned v) { put16(p, v & 0xFFFF); put16(p, v >> 16); }

constexpr unsigned kXorBytes = kSize * kSize / 2;
constexpr unsigned kAndBytes = kSize * kSize / 8;
constexpr unsigned kImageBytes = 40 + kColours * 4 + kXorBytes + kAndBytes;
constexpr unsigned kFileBytes = 6 + 16 + kImageBytes;

void buildIcon(uint8_t* out) {
    uint8_t* p = out;
    put16(p, 0); put16(p, 1); put16(p, 1);                 // ICONDIR: icon, one image
    *p++ = kSize; *p++ = kSize; *p++ = kColours; *p++ = 0;  // ICONDIRENTRY
    put16(p, 1); put16(p, 4); put32(p, kImageBytes); put32(p, 6 + 16);
    put32(p, 40); put32(p, kSize); put32(p, kSize * 2);     // BITMAPINFOHEADER, XOR+AND height
    put16(p, 1); put16(p, 4); put32(p, 0); put32(p, kXorBytes + kAndBytes);
    put32(p, 0); put32(p, 0); put32(p, 0); put32(p, 0);
    for (const auto& c : kPalette) { *p++ = c[0]; *p++ = c[1]; *p++ = c[2]; *p++ = 0; }
    for (int row = kSize - 1; row >= 0; --row)              // bottom-up
        for (int x = 0; x < kSize; x += 2)
            *p++ = uint8_t(colourIndex(kPicture[row][x]) << 4 | colourIndex(kPicture[row][x + 1]));
    for (int row = kSize - 1; row >= 0; --row)
        for (int x = 0; x < kSize; x += 8) {
            uint8_t bits = 0;
            for (int i = 0; i < 8; ++i)
                if (kPicture[row][x + i] == '.') bits |= uint8_t(0x80 >> i);
            *p++ = bits;
        }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) { std::fprintf(stderr, "usage: make_icon OUTPUT.ico\n"); return 2; }
    static uint8_t icon[kFileBytes];
    buildIcon(icon);
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) { std::perror(argv[1]); return 1; }
    bool ok = std::fwrite(icon, 1, sizeof icon, f) == sizeof icon;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) { std::perror(argv[1]); return 1; }
    return 0;
}
