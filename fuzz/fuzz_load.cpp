// libFuzzer target: feeds arbitrary bytes through pixtab's loader and, when
// the bytes load as an image, through the table writer.
//
// The program's own source is compiled into this file (its main renamed),
// so the fuzzer runs exactly the loadPNG and saveTXT that pixtab runs.
//
// Two things are done to each input before it reaches loadPNG:
//
//  * The CRC of every complete chunk is recomputed.  libpng refuses a
//    critical chunk whose CRC is wrong, so without this almost every
//    mutation would stop at the first chunk and the fuzzer would spend its
//    time on libpng's CRC check instead of on the decoding and on our
//    handling of it.  libpng refuses or skips a chunk with a wrong CRC
//    before our code sees it; the memcheck and sanitizer runs include such
//    a file.
//
//  * Inputs whose IHDR claims more than kMaxSampleBytes of decoded samples
//    are skipped.  loadPNG allocates width * height * samples bytes as the
//    header says before it reads any pixel, and libpng accepts up to
//    1000000 x 1000000 pixels.  libFuzzer reports every allocation above
//    -malloc_limit_mb (.ci/fuzz sets 256 MB) as an out-of-memory crash, and
//    AddressSanitizer aborts on an allocation it cannot satisfy unless
//    allocator_may_return_null=1; even with that, whether a claim of a few
//    gigabytes fails or succeeds would depend on the machine.  The refusal
//    of such images ("obrazek je prilis velky") is checked by the tests and
//    by the sanitizer and memcheck runs instead.  The limit (16 MiB) is far
//    above anything that the few kilobytes of a fuzzer input can fill with
//    pixels, so no decodable image is skipped.

#define main pixtab_main
#include "../pixtab.cpp"
#undef main

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <vector>

#include <zlib.h>

namespace {

constexpr uint64_t kMaxSampleBytes = uint64_t(1) << 24;

// The input goes to an in-memory file, opened by loadPNG through its
// /proc/self/fd path: no files on disk, one descriptor for the whole run.
int input_fd = -1;
char input_path[64];

uint32_t readBE32(const uint8_t *p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) |
           (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

void writeBE32(uint8_t *p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// Rewrites the CRC of each chunk that lies wholly inside the buffer.
void fixChunkCRCs(std::vector<uint8_t> &buf)
{
    size_t pos = 8;  // after the signature; never beyond the end below
    while (buf.size() >= pos + 12) {
        uint32_t len = readBE32(&buf[pos]);
        if (len > buf.size() - pos - 12)
            break;
        uLong crc = crc32(0L, &buf[pos + 4], uInt(len) + 4);
        writeBE32(&buf[pos + 8 + len], uint32_t(crc));
        pos += size_t(len) + 12;
    }
}

// True when the header at the start of buf claims more than kMaxSampleBytes
// of samples.  Without an IHDR where libpng looks for it, libpng fails
// before any allocation of ours.
bool claimsTooManySamples(const std::vector<uint8_t> &buf)
{
    if (buf.size() < 8 + 8 + 13 || memcmp(&buf[12], "IHDR", 4) != 0)
        return false;
    uint64_t width = readBE32(&buf[16]);
    uint64_t height = readBE32(&buf[20]);
    uint64_t channels;
    switch (buf[25]) {
    case 0: case 3: channels = 1; break;
    case 4: channels = 2; break;
    case 2: channels = 3; break;
    default: channels = 4; break;
    }
    // Each factor is below 2^32, so the product cannot overflow.
    return width * height > kMaxSampleBytes / channels;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    input_fd = memfd_create("pixtab-fuzz-input", 0);
    if (input_fd < 0) {
        perror("memfd_create");
        abort();
    }
    snprintf(input_path, sizeof input_path, "/proc/self/fd/%d", input_fd);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<uint8_t> buf(data, data + size);
    if (claimsTooManySamples(buf))
        return -1;  // not kept in the corpus
    fixChunkCRCs(buf);

    if (ftruncate(input_fd, 0) != 0 ||
        (size > 0 && pwrite(input_fd, buf.data(), size, 0) != ssize_t(size))) {
        perror("writing the input file");
        abort();
    }

    ImagePNG image;
    if (loadPNG(input_path, image) != 0)
        return 0;
    saveTXT("/dev/null", image);
    delete[] image.pixdata;
    return 0;
}
