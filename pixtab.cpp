// pixtab: writes the pixel values of one PNG image as a plain-text table.
//
// Greyscale and palette images become zero-padded decimal samples (palette
// indices for palette images), images with colour or alpha become the
// pixel's bytes in lowercase hexadecimal.  One line per image row, one
// space-terminated token per pixel.

#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

struct ImagePNG {
    int32_t width;
    int32_t height;
    int32_t bitdepth;   // 1, 2, 4 or 8; a 16-bit file is stored as 8
    int32_t colortype;  // the PNG colour-type code
    unsigned char *pixdata;  // one byte per sample, rows without gaps
};

// Decodes filename into image with one byte per sample: 16-bit samples are
// cut to their high byte, 1-, 2- and 4-bit samples unpacked with their
// values unchanged, interlaced images assembled.  Returns 0 on success and
// 1 after printing why on failure; on failure nothing is left allocated.
//
// libpng reports fatal errors by longjmp to the setjmp below, so every
// local that the recovery branch reads and that changes after setjmp is
// volatile, and no object with a destructor lives in this function.
static int loadPNG(const char *filename, ImagePNG &image)
{
    FILE *fin = fopen(filename, "rb");
    if (fin == nullptr) {
        fprintf(stderr, "soubor '%s' nelze otevrit\n", filename);
        return 1;
    }

    png_structp png_ptr =
        png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (png_ptr == nullptr) {
        fclose(fin);
        return 1;
    }
    png_infop info_ptr = png_create_info_struct(png_ptr);
    if (info_ptr == nullptr) {
        png_destroy_read_struct(&png_ptr, nullptr, nullptr);
        fclose(fin);
        return 1;
    }

    png_bytep *volatile row_pointers = nullptr;
    unsigned char *volatile pixdata = nullptr;

    if (setjmp(png_jmpbuf(png_ptr))) {
        png_destroy_read_struct(&png_ptr, &info_ptr, nullptr);
        fclose(fin);
        delete[] row_pointers;
        delete[] pixdata;
        return 1;
    }

    png_init_io(png_ptr, fin);
    // The table needs IHDR, PLTE and IDAT only.  Have libpng skip every
    // ancillary chunk except tRNS unread: otherwise a text, profile or other
    // chunk whose length field claims up to 2 GB makes libpng allocate and
    // clear that much memory before it finds the file too short, even for
    // a file of a few hundred bytes.
    png_set_keep_unknown_chunks(png_ptr, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_read_info(png_ptr, info_ptr);

    png_uint_32 width, height;
    int bit_depth, color_type, interlace_type;
    png_get_IHDR(png_ptr, info_ptr, &width, &height, &bit_depth, &color_type,
                 &interlace_type, nullptr, nullptr);

    if (bit_depth == 16) {
        png_set_strip_16(png_ptr);
        bit_depth = 8;
    }
    png_set_packing(png_ptr);
    png_set_interlace_handling(png_ptr);
    png_read_update_info(png_ptr, info_ptr);

    // A header can claim far more pixels than memory holds: refuse such an
    // image with a message of our own instead of dying in the allocator.
    size_t rowbytes = png_get_rowbytes(png_ptr, info_ptr);
    if (height == 0 || rowbytes <= SIZE_MAX / height) {
        row_pointers = new (std::nothrow) png_bytep[height];
        if (row_pointers != nullptr)
            pixdata = new (std::nothrow) unsigned char[rowbytes * height];
    }
    if (pixdata == nullptr) {
        fprintf(stderr, "obrazek je prilis velky\n");
        png_longjmp(png_ptr, 1);
    }

    for (png_uint_32 i = 0; i < height; i++)
        row_pointers[i] = pixdata + i * rowbytes;
    png_read_image(png_ptr, row_pointers);
    png_read_end(png_ptr, info_ptr);

    png_destroy_read_struct(&png_ptr, &info_ptr, nullptr);
    fclose(fin);
    delete[] row_pointers;

    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    image.bitdepth = bit_depth;
    image.colortype = color_type;
    image.pixdata = pixdata;
    return 0;
}

// The table is assembled in blocks of this size and handed to the stream
// whole, so the stream sees a few large writes instead of one per value.
constexpr size_t kBlockSize = 128 * 1024;

// Room after a block's end for a token store that runs past the token.
constexpr size_t kBlockSlack = 8;

// Writes the rows of a table whose tokens all have the same length step:
// format(out, pixel) stores the token of the pixel at pixel, followed by
// its space, at out and returns its end; it may store up to kBlockSlack
// bytes past that end, which the next token or line end overwrites.
// Stream errors are left for the caller to find with ferror.
template <typename Format>
static void writeRows(FILE *fout, const ImagePNG &image, size_t pixelbytes,
                      size_t step, Format format)
{
    char block[kBlockSize + kBlockSlack];
    size_t used = 0;
    const unsigned char *pixel = image.pixdata;
    for (int32_t y = 0; y < image.height; y++) {
        size_t left = static_cast<size_t>(image.width);
        while (left > 0) {
            size_t room = (kBlockSize - used) / step;
            if (room == 0) {
                fwrite(block, 1, used, fout);
                used = 0;
                continue;
            }
            size_t run = left < room ? left : room;
            char *out = block + used;
            for (size_t i = 0; i < run; i++) {
                out = format(out, pixel);
                pixel += pixelbytes;
            }
            used = static_cast<size_t>(out - block);
            left -= run;
        }
        if (used == kBlockSize) {
            fwrite(block, 1, used, fout);
            used = 0;
        }
        block[used++] = '\n';
    }
    if (used > 0)
        fwrite(block, 1, used, fout);
}

// One line per row; each sample in decimal with precision digits.
static void writeTablePalDec(FILE *fout, const ImagePNG &image, int32_t precision)
{
    // A sample is one byte: each of its 256 values is formatted once.  A
    // token of at most 3 digits and its space fits in 4 characters.
    char tokens[256][4];
    for (unsigned int pixel = 0; pixel < 256; pixel++) {
        char text[16] = {};
        snprintf(text, sizeof text, "%.*u ", precision, pixel);
        memcpy(tokens[pixel], text, sizeof tokens[pixel]);
    }
    size_t step = static_cast<size_t>(precision) + 1;
    writeRows(fout, image, 1, step, [&](char *out, const unsigned char *pixel) {
        memcpy(out, tokens[*pixel], sizeof tokens[*pixel]);
        return out + step;
    });
}

// The hexadecimal rows of pixels of Channels bytes each.
template <int32_t Channels>
static void writeHexRows(FILE *fout, const ImagePNG &image, const char (&hex)[256][2])
{
    writeRows(fout, image, Channels, 2 * Channels + 1,
              [&](char *out, const unsigned char *pixel) {
                  for (int32_t c = 0; c < Channels; c++) {
                      memcpy(out, hex[pixel[c]], 2);
                      out += 2;
                  }
                  *out++ = ' ';
                  return out;
              });
}

// One line per row; each pixel as its channels bytes in hexadecimal.
static void writeTableHex(FILE *fout, const ImagePNG &image, int32_t channels)
{
    // Each of the 256 byte values is formatted once.
    char hex[256][2];
    for (unsigned int channel = 0; channel < 256; channel++) {
        char text[8] = {};
        snprintf(text, sizeof text, "%.2x", channel);
        memcpy(hex[channel], text, sizeof hex[channel]);
    }
    switch (channels) {
    case 2:
        writeHexRows<2>(fout, image, hex);
        break;
    case 3:
        writeHexRows<3>(fout, image, hex);
        break;
    case 4:
        writeHexRows<4>(fout, image, hex);
        break;
    }
}

// Writes the table of image to filename.  Returns 0 when every byte of it
// reached the file and 1 after printing why otherwise.
static int saveTXT(const char *filename, const ImagePNG &image)
{
    FILE *fout = fopen(filename, "w");
    if (fout == nullptr) {
        fprintf(stderr, "soubor '%s' nelze otevrit\n", filename);
        return 1;
    }

    int status = 0;
    switch (image.colortype) {
    case PNG_COLOR_TYPE_GRAY:
    case PNG_COLOR_TYPE_PALETTE:
        if (image.bitdepth <= 2)
            writeTablePalDec(fout, image, 1);
        else if (image.bitdepth == 4)
            writeTablePalDec(fout, image, 2);
        else if (image.bitdepth == 8)
            writeTablePalDec(fout, image, 3);
        else
            status = 1;
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        writeTableHex(fout, image, 2);
        break;
    case PNG_COLOR_TYPE_RGB:
        writeTableHex(fout, image, 3);
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        writeTableHex(fout, image, 4);
        break;
    default:
        status = 1;
        break;
    }
    if (status != 0) {
        fprintf(stderr, "neznamy format obrazku\n");
        fclose(fout);
        return 1;
    }

    bool failed = ferror(fout) != 0;
    if (fclose(fout) != 0)
        failed = true;
    if (failed) {
        fprintf(stderr, "soubor '%s' nelze zapsat\n", filename);
        return 1;
    }
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc != 2 && argc != 3) {
        printf("Pouziti: pixtab nazev-vstupniho-souboru.png "
               "[nazev-vystupniho-souboru.txt]\n"
               "Pokud neni specifikovan nazev vystupniho souboru, "
               "pouzije se 'vystup.txt'.\n");
        return 1;
    }
    const char *filename_png = argv[1];
    const char *filename_txt = argc == 3 ? argv[2] : "vystup.txt";

    ImagePNG image;
    if (loadPNG(filename_png, image) == 1) {
        fprintf(stderr, "chyba pri cteni obrazku\n");
        return 1;
    }
    int status = saveTXT(filename_txt, image);
    delete[] image.pixdata;
    if (status == 1) {
        fprintf(stderr, "chyba pri zapisu tabulky\n");
        return 1;
    }
    return 0;
}
