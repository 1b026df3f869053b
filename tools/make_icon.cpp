// Draws the program's icon (16, 32 and 48 pixels, 32-bit colour with alpha) from the shapes below
// and writes it as an .ico file.
// Usage: make_icon OUTPUT.ico
#include <cstdint>
#include <cstdio>

namespace {

// The picture, on a 32-unit square: a blue page holding the loop "[>]" and a caret below it.
struct Colour {
    uint8_t b, g, r, a;
};

enum class Kind { kBox, kStroke };

struct Shape {
    Kind kind;
    double x0, y0, x1, y1;  // a box's corners, or a stroke's ends
    double radius;          // a box's corner rounding, or half a stroke's width
    Colour colour;
};

constexpr Colour kShadow = {0, 0, 0, 80};
constexpr Colour kBlack = {0, 0, 0, 255};
constexpr Colour kNavy = {128, 0, 0, 255};
constexpr Colour kBlue = {230, 110, 30, 255};
constexpr Colour kWhite = {255, 255, 255, 255};
constexpr Colour kYellow = {40, 215, 255, 255};

// Later shapes are drawn over earlier ones.
const Shape kShapes[] = {
    {Kind::kBox, 3.5, 2.5, 31, 31.5, 3, kShadow},
    {Kind::kBox, 2, 1, 30, 30, 3, kBlack},
    {Kind::kBox, 3, 2, 29, 29, 2.5, kNavy},
    {Kind::kBox, 4, 3, 28, 28, 2, kBlue},
    {Kind::kBox, 6, 6, 8.5, 24, 0, kWhite},      // [
    {Kind::kBox, 6, 6, 11, 8.5, 0, kWhite},
    {Kind::kBox, 6, 21.5, 11, 24, 0, kWhite},
    {Kind::kBox, 23.5, 6, 26, 24, 0, kWhite},    // ]
    {Kind::kBox, 21, 6, 26, 8.5, 0, kWhite},
    {Kind::kBox, 21, 21.5, 26, 24, 0, kWhite},
    {Kind::kStroke, 13, 10, 19, 15, 1.6, kYellow},  // >
    {Kind::kStroke, 19, 15, 13, 20, 1.6, kYellow},
    {Kind::kBox, 6, 25.5, 20, 27.5, 0, kWhite},  // the caret
};

constexpr double kUnits = 32;
constexpr int kSamples = 4;  // per pixel and axis, for smooth edges
constexpr int kSizes[] = {16, 32, 48};
constexpr int kImages = sizeof kSizes / sizeof kSizes[0];

bool insideBox(const Shape& s, double x, double y) {
    if (x < s.x0 || x > s.x1 || y < s.y0 || y > s.y1) return false;
    double dx = x < s.x0 + s.radius ? s.x0 + s.radius - x : x > s.x1 - s.radius ? x - (s.x1 - s.radius) : 0;
    double dy = y < s.y0 + s.radius ? s.y0 + s.radius - y : y > s.y1 - s.radius ? y - (s.y1 - s.radius) : 0;
    return dx * dx + dy * dy <= s.radius * s.radius;
}

bool insideStroke(const Shape& s, double x, double y) {
    double ex = s.x1 - s.x0, ey = s.y1 - s.y0;
    double t = ((x - s.x0) * ex + (y - s.y0) * ey) / (ex * ex + ey * ey);
    t = t < 0 ? 0 : t > 1 ? 1 : t;
    double dx = s.x0 + t * ex - x, dy = s.y0 + t * ey - y;
    return dx * dx + dy * dy <= s.radius * s.radius;
}

// The colour at one point of the picture, transparent outside every shape.
Colour colourAt(double x, double y) {
    Colour c = {0, 0, 0, 0};
    for (const Shape& s : kShapes) {
        bool inside = s.kind == Kind::kBox ? insideBox(s, x, y) : insideStroke(s, x, y);
        if (inside) c = s.colour;
    }
    return c;
}

// One pixel: the average of its samples, colours weighted by their cover.
Colour pixel(int size, int px, int py) {
    unsigned b = 0, g = 0, r = 0, a = 0;
    for (int sy = 0; sy < kSamples; ++sy)
        for (int sx = 0; sx < kSamples; ++sx) {
            double step = kUnits / (size * kSamples);
            Colour c = colourAt((px * kSamples + sx + 0.5) * step, (py * kSamples + sy + 0.5) * step);
            b += c.b * c.a; g += c.g * c.a; r += c.r * c.a; a += c.a;
        }
    if (a == 0) return {0, 0, 0, 0};
    return {uint8_t(b / a), uint8_t(g / a), uint8_t(r / a), uint8_t(a / (kSamples * kSamples))};
}

constexpr unsigned maskRowBytes(int size) { return unsigned(size + 31) / 32 * 4; }
constexpr unsigned imageBytes(int size) {
    return 40 + unsigned(size * size) * 4 + maskRowBytes(size) * unsigned(size);
}
constexpr unsigned fileBytes() {
    unsigned total = 6;
    for (int size : kSizes) total += 16 + imageBytes(size);
    return total;
}

void put16(uint8_t*& p, unsigned v) { *p++ = uint8_t(v); *p++ = uint8_t(v >> 8); }
void put32(uint8_t*& p, unsigned v) { put16(p, v & 0xFFFF); put16(p, v >> 16); }

// BITMAPINFOHEADER, the colours bottom-up, then the mask (set where fully transparent).
void putImage(uint8_t*& p, int size) {
    put32(p, 40); put32(p, unsigned(size)); put32(p, unsigned(size) * 2);  // colour + mask height
    put16(p, 1); put16(p, 32); put32(p, 0); put32(p, imageBytes(size) - 40);
    put32(p, 0); put32(p, 0); put32(p, 0); put32(p, 0);
    for (int y = size - 1; y >= 0; --y)
        for (int x = 0; x < size; ++x) {
            Colour c = pixel(size, x, y);
            *p++ = c.b; *p++ = c.g; *p++ = c.r; *p++ = c.a;
        }
    for (int y = size - 1; y >= 0; --y)
        for (unsigned byte = 0; byte < maskRowBytes(size); ++byte) {
            uint8_t bits = 0;
            for (int i = 0; i < 8; ++i) {
                int x = int(byte) * 8 + i;
                if (x >= size || pixel(size, x, y).a == 0) bits |= uint8_t(0x80 >> i);
            }
            *p++ = bits;
        }
}

void buildIcon(uint8_t* out) {
    uint8_t* p = out;
    put16(p, 0); put16(p, 1); put16(p, kImages);  // ICONDIR: icon, its images
    unsigned offset = 6 + 16 * kImages;
    for (int size : kSizes) {                      // ICONDIRENTRY each
        *p++ = uint8_t(size); *p++ = uint8_t(size); *p++ = 0; *p++ = 0;
        put16(p, 1); put16(p, 32); put32(p, imageBytes(size)); put32(p, offset);
        offset += imageBytes(size);
    }
    for (int size : kSizes) putImage(p, size);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) { std::fprintf(stderr, "usage: make_icon OUTPUT.ico\n"); return 2; }
    static uint8_t icon[fileBytes()];
    buildIcon(icon);
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) { std::perror(argv[1]); return 1; }
    bool ok = std::fwrite(icon, 1, sizeof icon, f) == sizeof icon;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) { std::perror(argv[1]); return 1; }
    return 0;
}
