// Writes the benchmark's photo-like test images: smooth gradients with
// noise, so that they compress like photographs and not like flat colour.
// Deterministic: the same size always gives the same files.
//
// usage: gen_images DIR [WIDTH HEIGHT]

#include <png.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Noise {
    uint64_t state = 0x9e3779b97f4a7c15ull;
    // xorshift64*: cheap, deterministic and good enough for texture
    uint32_t next()
    {
        state ^= state >> 12;
        state ^= state << 25;
        state ^= state >> 27;
        return static_cast<uint32_t>((state * 0x2545f4914f6cdd1dull) >> 32);
    }
    // uniform in [-amp, amp]
    double jitter(double amp) { return (next() / 4294967295.0 * 2.0 - 1.0) * amp; }
};

// A smooth scene in [0, 1] per channel: broad gradients and soft blobs.
double scene(int channel, double u, double v)
{
    double phase = channel * 1.7;
    double s = 0.45 + 0.25 * std::sin(3.1 * u + phase) * std::cos(2.3 * v - phase) +
               0.2 * (u * (1 - v)) + 0.1 * std::sin(11.0 * (u + v) + phase);
    return s < 0 ? 0 : (s > 1 ? 1 : s);
}

int clampInt(double x, int maxval)
{
    long v = std::lround(x);
    return v < 0 ? 0 : (v > maxval ? maxval : static_cast<int>(v));
}

struct Kind {
    const char *name;
    int colortype;
    int depth;
    bool interlaced;
};

bool writeImage(const std::string &path, const Kind &kind, int width, int height)
{
    int channels = kind.colortype == PNG_COLOR_TYPE_RGB         ? 3
                   : kind.colortype == PNG_COLOR_TYPE_RGB_ALPHA ? 4
                   : kind.colortype == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                 : 1;
    int maxval = (1 << kind.depth) - 1;
    int bytes_per_sample = kind.depth == 16 ? 2 : 1;
    size_t rowbytes = kind.depth >= 8
                          ? static_cast<size_t>(width) * channels * bytes_per_sample
                          : (static_cast<size_t>(width) * kind.depth + 7) / 8;

    std::vector<unsigned char> pixels(rowbytes * height);
    Noise noise;
    for (int y = 0; y < height; y++) {
        unsigned char *row = &pixels[rowbytes * y];
        double v = static_cast<double>(y) / height;
        for (int x = 0; x < width; x++) {
            double u = static_cast<double>(x) / width;
            for (int c = 0; c < channels; c++) {
                double level = scene(c, u, v);
                if (channels == 4 && c == 3)
                    level = 0.5 + 0.5 * u;  // alpha: a plain ramp
                // noise of a few levels, dithering for the low depths
                double amp = kind.depth < 8 ? 0.6 : maxval * 0.03;
                int value = clampInt(level * maxval + noise.jitter(amp), maxval);
                if (kind.depth == 16) {
                    size_t at = (static_cast<size_t>(x) * channels + c) * 2;
                    row[at] = static_cast<unsigned char>(value >> 8);
                    row[at + 1] = static_cast<unsigned char>(value & 0xff);
                } else if (kind.depth == 8) {
                    row[static_cast<size_t>(x) * channels + c] =
                        static_cast<unsigned char>(value);
                } else {
                    size_t bit = static_cast<size_t>(x) * kind.depth;
                    int shift = 8 - kind.depth - static_cast<int>(bit % 8);
                    row[bit / 8] |= static_cast<unsigned char>(value << shift);
                }
            }
        }
    }

    FILE *f = fopen(path.c_str(), "wb");
    if (f == nullptr) {
        perror(path.c_str());
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, width, height, kind.depth, kind.colortype,
                 kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (kind.colortype == PNG_COLOR_TYPE_PALETTE) {
        png_color palette[16];
        for (int i = 0; i < 16; i++) {
            palette[i].red = static_cast<png_byte>(i * 17);
            palette[i].green = static_cast<png_byte>(255 - i * 13);
            palette[i].blue = static_cast<png_byte>(i * 7 + 40);
        }
        png_set_PLTE(png, info, palette, 16);
    }
    png_write_info(png, info);
    std::vector<png_bytep> rows(height);
    for (int y = 0; y < height; y++)
        rows[y] = &pixels[rowbytes * y];
    png_write_image(png, rows.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return fclose(f) == 0;
}

}  // namespace

int main(int argc, char *argv[])
{
    if (argc != 2 && argc != 4) {
        fprintf(stderr, "usage: gen_images DIR [WIDTH HEIGHT]\n");
        return 2;
    }
    std::string dir = argv[1];
    int width = argc == 4 ? atoi(argv[2]) : 4000;
    int height = argc == 4 ? atoi(argv[3]) : 3000;

    const Kind kinds[] = {
        {"rgb8", PNG_COLOR_TYPE_RGB, 8, false},
        {"grey8", PNG_COLOR_TYPE_GRAY, 8, false},
        {"grey1", PNG_COLOR_TYPE_GRAY, 1, false},
        {"palette4", PNG_COLOR_TYPE_PALETTE, 4, false},
        {"rgba16", PNG_COLOR_TYPE_RGB_ALPHA, 16, false},
        {"rgb8-interlaced", PNG_COLOR_TYPE_RGB, 8, true},
    };
    for (const Kind &kind : kinds) {
        std::string path = dir + "/" + kind.name + ".png";
        if (!writeImage(path, kind, width, height))
            return 1;
        printf("%s\n", path.c_str());
    }
    return 0;
}
