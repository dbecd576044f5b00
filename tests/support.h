// Helpers shared by pixtab's tests and tools: PNG files encoded from known
// sample values with libpng's write API, byte-level chunk surgery for
// broken files, and a runner that starts a program without a shell and
// collects what it prints.

#ifndef PIXTAB_TESTS_SUPPORT_H
#define PIXTAB_TESTS_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pixtab_test {

// ---------------------------------------------------------------- images

// An image described by its sample values.  samples holds width * height *
// channels(colorType) values row by row, each in 0 .. 2^bitDepth - 1 (for
// palette images: the palette index).
struct PngSpec {
    int colorType = 0;  // PNG colour-type code: 0, 2, 3, 4 or 6
    int bitDepth = 8;
    uint32_t width = 0;
    uint32_t height = 0;
    bool interlaced = false;  // Adam7
    std::vector<uint16_t> samples;
    std::vector<uint8_t> palette;  // palette images: r,g,b per entry
    std::vector<uint8_t> trnsAlpha;  // palette tRNS: one alpha per entry
    std::vector<uint16_t> trnsColor;  // grey (1 value) or RGB (3) tRNS
};

// Samples per pixel for a PNG colour type (1 for palette indices).
int channelsOf(int colorType);

// The PNG file of picture, written by libpng.  Throws std::runtime_error if
// libpng refuses the description.
std::string encodePng(const PngSpec &picture);

// A picture of the given samples (row by row, pixel by pixel, in the PNG's
// sample order).  Palette images get a full palette of 2^bitDepth entries.
PngSpec pictureOf(int colorType, int bitDepth, uint32_t width, uint32_t height,
                  std::vector<uint16_t> samples, bool interlaced = false);

// A deterministic image whose samples cover the whole range: the first
// sample is 0, the last is the maximum, and 16-bit samples have differing
// high and low bytes.  Palette images get a full palette of 2^bitDepth
// entries (256 for depth 8).
PngSpec patternImage(int colorType, int bitDepth, uint32_t width,
                     uint32_t height, bool interlaced, unsigned seed = 1);

// The table pixtab writes for picture, formatted here from the sample values:
// grey and palette as zero-padded decimal (1 digit for depth 1 and 2, 2 for
// 4, 3 for 8 and 16), the other types as two hex digits per sample; 16-bit
// samples contribute their high byte.
std::string expectedTable(const PngSpec &picture);

// ---------------------------------------------------------------- chunks

extern const std::string kPngSignature;

struct Chunk {
    std::string type;  // four letters
    std::string data;
    uint32_t crc = 0;  // as found in the file (splitChunks) or computed
};

uint32_t chunkCrc(const std::string &type, const std::string &data);
// length, type, data and CRC of one chunk; crc overrides the correct CRC.
std::string chunkBytes(const std::string &type, const std::string &data);
std::string chunkBytes(const std::string &type, const std::string &data,
                       uint32_t crc);
// The chunks of a PNG file (signature checked).  Throws on a malformed file.
std::vector<Chunk> splitChunks(const std::string &png);
// The signature followed by the chunks, each with a freshly computed CRC.
std::string joinChunks(const std::vector<Chunk> &chunks);
// Offset of every chunk's first byte in png, plus the file size at the end.
std::vector<size_t> chunkOffsets(const std::string &png);
// The 13 data bytes of an IHDR chunk.
std::string ihdrData(uint32_t width, uint32_t height, int bitDepth,
                     int colorType, int compression = 0, int filter = 0,
                     int interlace = 0);
std::string be32(uint32_t value);
// zlib stream of data.
std::string zlibCompress(const std::string &data);

// ---------------------------------------------------------------- files

// A fresh directory, removed with everything in it by the destructor.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const;

private:
    std::string path_;
};

void writeFile(const std::string &path, const std::string &bytes);
std::string readFile(const std::string &path);  // throws if unreadable
bool pathExists(const std::string &path);
// Names in a directory, sorted, without "." and "..".
std::vector<std::string> listDir(const std::string &path);

// ---------------------------------------------------------------- processes

struct RunResult {
    std::string out;  // everything written to stdout
    std::string err;  // everything written to stderr
    bool exited = false;  // ended through exit (not a signal)
    int status = -1;  // exit status when exited, else the signal number
};

// Runs argv[0] with argv (no shell, no PATH search) in directory cwd with
// stdin from /dev/null, stdout and stderr captured through pipes.  A
// non-zero addressSpaceLimit caps the child's address space (RLIMIT_AS) at
// that many bytes.
RunResult runProgram(const std::vector<std::string> &argv,
                     const std::string &cwd, size_t addressSpaceLimit = 0);

// Printable description of a result for assertion messages.
std::string describe(const RunResult &result);

}  // namespace pixtab_test

#endif
