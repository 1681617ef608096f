/*
 * qv_icon: draws the application icon from its description, at build time.
 *
 *     qv_icon <description> <output.ico>
 *
 * The description (VADedeVeZovid.icon) lists the sizes and the shapes, painted in order
 * in a unit square; its head says the format. Each image is drawn with 8 x 8 samples a
 * pixel (4 x 4 from 128 pixels up), so that edges are smooth at every size, and is
 * stored as Windows stores icon images: up to 128 pixels a 32-bit DIB (colours with
 * their opacity, bottom row first, then the 1-bit mask of the transparent pixels),
 * larger ones as a PNG, which Windows reads from Vista on (the manifest asks for 10).
 *
 * A problem is reported as "file:line: error: ..." and makes qv_icon exit with status 1
 * without writing the output, which fails the build; the output is written to a
 * temporary file and renamed into place.
 */
#include <zlib.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace
{

struct Shape {
    bool ellipse;
    double a, b, c, d, radius; /* rect: x0 y0 x1 y1 radius; ellipse: cx cy rx ry */
    double rgba[4];            /* each 0 to 1 */
};

struct Description {
    std::vector<int> sizes;
    std::vector<Shape> shapes;
};

/* "#RRGGBB" or "#RRGGBBAA" into rgba; false when it is neither. */
bool parse_colour(const std::string &text, double rgba[4])
{
    if ((text.size() != 7 && text.size() != 9) || text[0] != '#' ||
        text.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)
        return false;
    unsigned long value = std::stoul(text.substr(1), nullptr, 16);
    if (text.size() == 7)
        value = value << 8 | 0xFF;
    for (int i = 0; i < 4; i++)
        rgba[i] = ((value >> (24 - 8 * i)) & 0xFF) / 255.0;
    return true;
}

/* One line of the description into d; an empty text when it is good, else the problem. */
std::string parse_line(const std::string &line, Description *d)
{
    std::istringstream words(line);
    std::string keyword, colour, extra;
    if (!(words >> keyword) || keyword[0] == '#')
        return "";
    if (keyword == "sizes") {
        int size;
        while (words >> size) {
            if (size < 1 || size > 256)
                return "a size runs from 1 to 256 pixels";
            d->sizes.push_back(size);
        }
        return words.eof() && !d->sizes.empty() ? "" : "sizes takes whole numbers";
    }
    Shape s = {};
    s.ellipse = keyword == "ellipse";
    if (!s.ellipse && keyword != "rect")
        return "unknown keyword '" + keyword + "'";
    if (!(words >> s.a >> s.b >> s.c >> s.d) || (!s.ellipse && !(words >> s.radius)))
        return keyword + " lacks a number";
    if (!(words >> colour) || !parse_colour(colour, s.rgba) || (words >> extra))
        return keyword + " ends with one colour, #RRGGBB or #RRGGBBAA";
    bool sane = s.ellipse ? s.c > 0 && s.d > 0
                          : s.a < s.c && s.b < s.d && s.radius >= 0 &&
                                2 * s.radius <= std::fmin(s.c - s.a, s.d - s.b);
    if (!sane)
        return s.ellipse ? "an ellipse's radii must be positive"
                         : "a rect runs from its lesser corner to its greater one, its "
                           "radius at most half its shorter side";
    d->shapes.push_back(s);
    return "";
}

bool inside(const Shape &s, double x, double y)
{
    if (s.ellipse) {
        double dx = (x - s.a) / s.c, dy = (y - s.b) / s.d;
        return dx * dx + dy * dy <= 1;
    }
    if (x < s.a || x > s.c || y < s.b || y > s.d)
        return false;
    /* The nearest point of the rectangle shrunk by the radius is within the radius. */
    double nx = std::fmin(std::fmax(x, s.a + s.radius), s.c - s.radius);
    double ny = std::fmin(std::fmax(y, s.b + s.radius), s.d - s.radius);
    return (x - nx) * (x - nx) + (y - ny) * (y - ny) <= s.radius * s.radius;
}

/* The image of size pixels a side, top row first, as straight RGBA bytes. */
std::vector<uint8_t> draw(const Description &d, int size)
{
    const int n = size >= 128 ? 4 : 8; /* samples a side of a pixel */
    std::vector<uint8_t> rgba(static_cast<size_t>(size) * size * 4);
    for (int py = 0; py < size; py++)
        for (int px = 0; px < size; px++) {
            double premultiplied[4] = {0, 0, 0, 0};
            for (const Shape &s : d.shapes) {
                int hits = 0;
                for (int sy = 0; sy < n; sy++)
                    for (int sx = 0; sx < n; sx++)
                        hits += inside(s, (px + (sx + 0.5) / n) / size,
                                       (py + (sy + 0.5) / n) / size);
                double alpha = s.rgba[3] * hits / (n * n); /* "over" the pixel so far */
                for (int i = 0; i < 3; i++)
                    premultiplied[i] = s.rgba[i] * alpha + premultiplied[i] * (1 - alpha);
                premultiplied[3] = alpha + premultiplied[3] * (1 - alpha);
            }
            uint8_t *out = &rgba[(static_cast<size_t>(py) * size + px) * 4];
            double a = premultiplied[3];
            for (int i = 0; i < 3; i++)
                out[i] = static_cast<uint8_t>(a > 0 ? std::lround(255 * premultiplied[i] / a) : 0);
            out[3] = static_cast<uint8_t>(std::lround(255 * a));
        }
    return rgba;
}

void put16(std::string *out, unsigned v)
{
    out->push_back(static_cast<char>(v & 0xFF));
    out->push_back(static_cast<char>(v >> 8 & 0xFF));
}

void put32(std::string *out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

void put32_big(std::string *out, uint32_t v)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out->push_back(static_cast<char>(v >> shift & 0xFF));
}

/* A 32-bit DIB as an icon holds it: the header gives twice the height (colours and
 * mask), the colours are BGRA from the bottom row up, then the mask, rows of 4 bytes. */
std::string dib(const std::vector<uint8_t> &rgba, int size)
{
    const size_t mask_row = (static_cast<size_t>(size) + 31) / 32 * 4;
    std::string out;
    put32(&out, 40);
    put32(&out, size);
    put32(&out, 2 * size);
    put16(&out, 1);  /* planes */
    put16(&out, 32); /* bits per pixel */
    put32(&out, 0);  /* BI_RGB */
    put32(&out, static_cast<uint32_t>(size * size * 4 + mask_row * size));
    for (int i = 0; i < 4; i++)
        put32(&out, 0); /* resolution, palette */
    std::string mask;
    for (int y = size - 1; y >= 0; y--) {
        std::string row(mask_row, '\0');
        for (int x = 0; x < size; x++) {
            const uint8_t *p = &rgba[(static_cast<size_t>(y) * size + x) * 4];
            out.push_back(static_cast<char>(p[2]));
            out.push_back(static_cast<char>(p[1]));
            out.push_back(static_cast<char>(p[0]));
            out.push_back(static_cast<char>(p[3]));
            if (p[3] == 0)
                row[x / 8] = static_cast<char>(row[x / 8] | 0x80 >> (x % 8));
        }
        mask += row;
    }
    return out + mask;
}

void png_chunk(std::string *out, const char *type, const std::string &data)
{
    put32_big(out, static_cast<uint32_t>(data.size()));
    std::string body = std::string(type, 4) + data;
    *out += body;
    put32_big(out, crc32(0, reinterpret_cast<const Bytef *>(body.data()),
                         static_cast<uInt>(body.size())));
}

/* An RGBA PNG, every row unfiltered; empty when zlib fails. */
std::string png(const std::vector<uint8_t> &rgba, int size)
{
    std::string raw;
    for (int y = 0; y < size; y++) {
        raw.push_back('\0'); /* filter: none */
        raw.append(reinterpret_cast<const char *>(&rgba[static_cast<size_t>(y) * size * 4]),
                   static_cast<size_t>(size) * 4);
    }
    uLongf packed_size = compressBound(static_cast<uLong>(raw.size()));
    std::string packed(packed_size, '\0');
    if (compress2(reinterpret_cast<Bytef *>(&packed[0]), &packed_size,
                  reinterpret_cast<const Bytef *>(raw.data()), static_cast<uLong>(raw.size()),
                  Z_BEST_COMPRESSION) != Z_OK)
        return "";
    packed.resize(packed_size);
    std::string header;
    put32_big(&header, static_cast<uint32_t>(size));
    put32_big(&header, static_cast<uint32_t>(size));
    header += std::string("\x08\x06\x00\x00\x00", 5); /* 8 bits, RGBA, no interlacing */
    std::string out("\x89PNG\r\n\x1a\n", 8);
    png_chunk(&out, "IHDR", header);
    png_chunk(&out, "IDAT", packed);
    png_chunk(&out, "IEND", "");
    return out;
}

/* The .ico: its directory, then the images in the order of the sizes. */
std::string icon_file(const Description &d)
{
    std::vector<std::string> images;
    for (int size : d.sizes) {
        std::vector<uint8_t> rgba = draw(d, size);
        images.push_back(size > 128 ? png(rgba, size) : dib(rgba, size));
        if (images.back().empty())
            return "";
    }
    std::string out;
    put16(&out, 0);
    put16(&out, 1); /* an icon */
    put16(&out, static_cast<unsigned>(images.size()));
    size_t offset = 6 + 16 * images.size();
    for (size_t i = 0; i < images.size(); i++) {
        out.push_back(static_cast<char>(d.sizes[i] & 0xFF)); /* 256 is written 0 */
        out.push_back(static_cast<char>(d.sizes[i] & 0xFF));
        put16(&out, 0);  /* no palette */
        put16(&out, 1);  /* planes */
        put16(&out, 32); /* bits per pixel */
        put32(&out, static_cast<uint32_t>(images[i].size()));
        put32(&out, static_cast<uint32_t>(offset));
        offset += images[i].size();
    }
    for (const std::string &image : images)
        out += image;
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: qv_icon <description> <output.ico>\n");
        return 1;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        fprintf(stderr, "%s: error: cannot open the file\n", argv[1]);
        return 1;
    }
    Description d;
    std::string line;
    for (int number = 1; std::getline(in, line); number++) {
        std::string problem = parse_line(line, &d);
        if (!problem.empty()) {
            fprintf(stderr, "%s:%d: error: %s\n", argv[1], number, problem.c_str());
            return 1;
        }
    }
    if (d.sizes.empty() || d.shapes.empty()) {
        fprintf(stderr, "%s: error: no sizes or no shapes\n", argv[1]);
        return 1;
    }
    std::string ico = icon_file(d);
    std::string temporary = std::string(argv[2]) + ".tmp";
    std::ofstream out(temporary, std::ios::binary);
    if (ico.empty() || !(out << ico) || (out.close(), !out) ||
        std::rename(temporary.c_str(), argv[2]) != 0) {
        fprintf(stderr, "%s: error: cannot write the icon\n", argv[2]);
        std::remove(temporary.c_str());
        return 1;
    }
    return 0;
}
