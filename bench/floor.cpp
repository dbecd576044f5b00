// The benchmark's floor: what converting IN cannot go below.  It decodes IN
// with libpng exactly as pixtab does (strip-16, packing, interlace
// handling, one buffer for the whole image) and then writes as many bytes
// as pixtab's table of IN has, from a ready buffer, to OUT.
//
// usage: floor IN OUT

#include <png.h>

#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        fprintf(stderr, "usage: floor IN OUT\n");
        return 2;
    }
    FILE *fin = fopen(argv[1], "rb");
    if (fin == nullptr) {
        perror(argv[1]);
        return 1;
    }
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)))
        return 1;
    png_init_io(png, fin);
    png_read_info(png, info);
    png_uint_32 width, height;
    int depth, colortype;
    png_get_IHDR(png, info, &width, &height, &depth, &colortype, nullptr, nullptr, nullptr);
    if (depth == 16)
        png_set_strip_16(png);
    png_set_packing(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    size_t rowbytes = png_get_rowbytes(png, info);
    png_bytep *rows = new png_bytep[height];
    unsigned char *pixels = new unsigned char[rowbytes * height];
    for (png_uint_32 y = 0; y < height; y++)
        rows[y] = pixels + y * rowbytes;
    png_read_image(png, rows);
    png_read_end(png, info);
    png_destroy_read_struct(&png, &info, nullptr);
    fclose(fin);
    delete[] rows;

    // The table's size: per pixel one token and its space, per row "\n".
    size_t token;
    if (colortype == PNG_COLOR_TYPE_GRAY || colortype == PNG_COLOR_TYPE_PALETTE)
        token = depth <= 2 ? 1 : depth == 4 ? 2 : 3;
    else
        token = 2 * (colortype == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                     : colortype == PNG_COLOR_TYPE_RGB      ? 3
                                                            : 4);
    size_t total = (static_cast<size_t>(width) * (token + 1) + 1) * height;

    std::vector<char> block(1 << 20, '0');
    FILE *fout = fopen(argv[2], "w");
    if (fout == nullptr) {
        perror(argv[2]);
        return 1;
    }
    for (size_t left = total; left > 0;) {
        size_t n = left < block.size() ? left : block.size();
        if (fwrite(block.data(), 1, n, fout) != n)
            return 1;
        left -= n;
    }
    if (fclose(fout) != 0)
        return 1;
    delete[] pixels;
    return 0;
}
