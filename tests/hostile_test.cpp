// Damaged and hostile files.  Every one must end with exit status 1, the
// library's or the program's own message and then "chyba pri cteni
// obrazku", nothing on stdout, no output file made and an existing output
// file left as it was.  A few oddities that are still valid PNG must
// convert as usual.

#include "support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

using namespace pixtab_test;

namespace {

const std::string kReadFailed = "chyba pri cteni obrazku\n";
const std::string kKept = "an existing table that must stay as it is\n";

// A palette image with a tRNS chunk whose image data is spread over three
// IDAT chunks, so that its chunk boundaries include ones inside the image
// data.
PngSpec paletteSpec()
{
    PngSpec picture = patternImage(3, 4, 33, 9, true, 7);
    picture.trnsAlpha = {0, 64, 128, 192, 255};
    return picture;
}

std::vector<Chunk> splitIdat(std::vector<Chunk> chunks, size_t parts)
{
    std::vector<Chunk> out;
    for (const Chunk &chunk : chunks) {
        if (chunk.type != "IDAT") {
            out.push_back(chunk);
            continue;
        }
        const size_t step = (chunk.data.size() + parts - 1) / parts;
        for (size_t at = 0; at < chunk.data.size(); at += step)
            out.push_back({"IDAT", chunk.data.substr(at, step)});
    }
    return out;
}

const std::string &palettePng()
{
    static const std::string png =
        joinChunks(splitIdat(splitChunks(encodePng(paletteSpec())), 3));
    return png;
}

// A 16-bit RGBA image with a single IDAT.
PngSpec rgbaSpec() { return patternImage(6, 16, 7, 5, false, 11); }

const std::string &rgbaPng()
{
    static const std::string png = encodePng(rgbaSpec());
    return png;
}

// png with the chunk of the given type (the first one) changed by edit; the
// CRCs are made right again unless keepCrc.
std::string editChunk(const std::string &png, const std::string &type,
                      const std::function<void(Chunk &)> &edit)
{
    std::vector<Chunk> chunks = splitChunks(png);
    for (Chunk &chunk : chunks)
        if (chunk.type == type) {
            edit(chunk);
            return joinChunks(chunks);
        }
    throw std::logic_error("no chunk " + type);
}

// png with the stored CRC of the first chunk of type wrong.
std::string badCrc(const std::string &png, const std::string &type)
{
    const std::vector<Chunk> chunks = splitChunks(png);
    const std::vector<size_t> offsets = chunkOffsets(png);
    for (size_t i = 0; i < chunks.size(); i++)
        if (chunks[i].type == type) {
            std::string out = png;
            const size_t crcAt = offsets[i] + 8 + chunks[i].data.size();
            out[crcAt + 3] = static_cast<char>(out[crcAt + 3] ^ 0x01);
            return out;
        }
    throw std::logic_error("no chunk " + type);
}

// A file of the given IHDR data with one IDAT chunk holding idatData.
std::string withHeader(const std::string &ihdr, const std::string &idatData)
{
    return kPngSignature + chunkBytes("IHDR", ihdr) + chunkBytes("IDAT", idatData) +
           chunkBytes("IEND", "");
}

// Raw scanlines (filter byte 0) of a width x rows 8-bit grey image.
std::string greyScanlines(uint32_t width, uint32_t rows)
{
    std::string raw;
    for (uint32_t y = 0; y < rows; y++) {
        raw += '\0';
        for (uint32_t x = 0; x < width; x++)
            raw += static_cast<char>(x * 16 + y);
    }
    return raw;
}

// ------------------------------------------------------------ failures

struct HostileCase {
    std::string name;
    std::string bytes;  // the input file
    bool inputIsDirectory;
    std::string err;  // everything on stderr
};

void PrintTo(const HostileCase &c, std::ostream *os) { *os << c.name; }

std::string libpngError(const std::string &message)
{
    return "libpng error: " + message + "\n" + kReadFailed;
}

// Cuts of png at every chunk boundary and inside every part of each chunk:
// its length, its type, its data and its CRC.
void addTruncations(std::vector<HostileCase> &cases, const std::string &label,
                    const std::string &png)
{
    const std::vector<Chunk> chunks = splitChunks(png);
    const std::vector<size_t> offsets = chunkOffsets(png);
    cases.push_back({label + "_cut_in_signature", png.substr(0, 5), false,
                     libpngError("Read Error")});
    std::map<std::string, int> seen;
    for (size_t i = 0; i < chunks.size(); i++) {
        const std::string name =
            label + "_cut_" + chunks[i].type + std::to_string(++seen[chunks[i].type]);
        const size_t at = offsets[i];
        const size_t length = chunks[i].data.size();
        std::vector<std::pair<std::string, size_t>> cuts = {
            {"_before", at},
            {"_in_length", at + 2},
            {"_in_type", at + 6},
            {"_after_type", at + 8},
            {"_before_crc", at + 8 + length},
            {"_in_crc", at + 8 + length + 2},
        };
        if (length > 1)
            cuts.push_back({"_in_data", at + 8 + length / 2});
        for (const auto &[suffix, size] : cuts)
            cases.push_back({name + suffix, png.substr(0, size), false,
                             libpngError("Read Error")});
    }
}

std::vector<HostileCase> hostileCases()
{
    std::vector<HostileCase> cases;
    addTruncations(cases, "palette", palettePng());
    addTruncations(cases, "rgba16", rgbaPng());

    const std::string &png = rgbaPng();
    const std::string idat = zlibCompress(greyScanlines(4, 3));
    auto header = [](uint32_t w, uint32_t h, int depth, int type, int compression = 0,
                     int filter = 0, int interlace = 0) {
        return ihdrData(w, h, depth, type, compression, filter, interlace);
    };
    auto invalidHeader = [](const std::string &warning) {
        return "libpng warning: " + warning + "\n" + libpngError("Invalid IHDR data");
    };

    const std::vector<HostileCase> fixed = {
        {"empty_file", "", false, libpngError("Read Error")},
        {"directory", "", true, libpngError("Read Error")},
        {"only_signature", kPngSignature, false, libpngError("Read Error")},
        {"text_file", "P2\n1 1\n255\n0\n", false, libpngError("Not a PNG file")},

        // A CRC that does not match in a critical chunk.
        {"crc_IHDR", badCrc(png, "IHDR"), false, libpngError("IHDR: CRC error")},
        {"crc_PLTE", badCrc(palettePng(), "PLTE"), false, libpngError("PLTE: CRC error")},
        {"crc_IDAT", badCrc(png, "IDAT"), false, libpngError("IDAT: CRC error")},
        {"crc_third_IDAT",
         [] {
             // The CRC of the last of the three IDAT chunks.
             const std::string &p = palettePng();
             const std::vector<Chunk> chunks = splitChunks(p);
             const std::vector<size_t> offsets = chunkOffsets(p);
             size_t last = 0;
             for (size_t i = 0; i < chunks.size(); i++)
                 if (chunks[i].type == "IDAT")
                     last = i;
             std::string out = p;
             out[offsets[last + 1] - 1] = static_cast<char>(out[offsets[last + 1] - 1] ^ 0x80);
             return out;
         }(),
         false, libpngError("IDAT: CRC error")},

        // Header fields that no image can have.
        {"zero_width", withHeader(header(0, 3, 8, 0), idat), false,
         invalidHeader("Image width is zero in IHDR")},
        {"zero_height", withHeader(header(4, 0, 8, 0), idat), false,
         invalidHeader("Image height is zero in IHDR")},
        {"width_over_31_bits", withHeader(header(0x80000000u, 3, 8, 0), idat), false,
         libpngError("PNG unsigned integer out of range")},
        {"width_over_limit", withHeader(header(1000001, 1, 8, 0), idat), false,
         invalidHeader("Image width exceeds user limit in IHDR")},
        {"bit_depth_3", withHeader(header(4, 3, 3, 0), idat), false,
         invalidHeader("Invalid bit depth in IHDR")},
        {"colour_type_5", withHeader(header(4, 3, 8, 5), idat), false,
         invalidHeader("Invalid color type in IHDR")},
        {"rgb_depth_4", withHeader(header(4, 3, 4, 2), idat), false,
         invalidHeader("Invalid color type/bit depth combination in IHDR")},
        {"palette_depth_16", withHeader(header(4, 3, 16, 3), idat), false,
         invalidHeader("Invalid color type/bit depth combination in IHDR")},
        {"grey_alpha_depth_2", withHeader(header(4, 3, 2, 4), idat), false,
         invalidHeader("Invalid color type/bit depth combination in IHDR")},
        {"compression_method_1", withHeader(header(4, 3, 8, 0, 1), idat), false,
         invalidHeader("Unknown compression method in IHDR")},
        {"filter_method_1", withHeader(header(4, 3, 8, 0, 0, 1), idat), false,
         "libpng warning: Unknown filter method in IHDR\n" +
             invalidHeader("Invalid filter method in IHDR")},
        {"interlace_method_2", withHeader(header(4, 3, 8, 0, 0, 0, 2), idat), false,
         invalidHeader("Unknown interlace method in IHDR")},
        {"short_IHDR", kPngSignature + chunkBytes("IHDR", header(4, 3, 8, 0).substr(0, 12)) +
                           chunkBytes("IDAT", idat) + chunkBytes("IEND", ""),
         false, libpngError("IHDR: invalid")},

        // Chunks missing or out of order.
        {"no_IHDR", kPngSignature + chunkBytes("IDAT", idat) + chunkBytes("IEND", ""), false,
         libpngError("IDAT: Missing IHDR before IDAT")},
        {"palette_without_PLTE",
         withHeader(header(4, 3, 8, 3), idat), false,
         libpngError("IDAT: Missing PLTE before IDAT")},
        {"no_IDAT", kPngSignature + chunkBytes("IHDR", header(4, 3, 8, 0)) + chunkBytes("IEND", ""),
         false, libpngError("IEND: out of place")},
        {"unknown_critical_chunk",
         png.substr(0, 33) + chunkBytes("CRIT", "xyz") + png.substr(33), false,
         libpngError("CRIT: unhandled critical chunk")},

        // Far more pixels than memory holds.  libpng reads up to the first
        // IDAT before the program learns the size, so an IDAT is there.
        {"huge_rgba16", withHeader(header(1000000, 1000000, 16, 6), idat), false,
         "obrazek je prilis velky\n" + kReadFailed},
        {"huge_grey1", withHeader(header(1000000, 1000000, 1, 0), idat), false,
         "obrazek je prilis velky\n" + kReadFailed},
        {"huge_rgba8_adam7", withHeader(header(1000000, 1000000, 8, 6, 0, 0, 1), idat), false,
         "obrazek je prilis velky\n" + kReadFailed},

        // The compressed stream: complete but too short for the image, cut
        // off, and damaged in several ways (with the chunk CRC right).
        {"stream_of_too_few_rows", withHeader(header(4, 3, 8, 0), zlibCompress(greyScanlines(4, 2))),
         false, libpngError("Not enough image data")},
        {"stream_cut_off", withHeader(header(4, 3, 8, 0), idat.substr(0, idat.size() / 2)), false,
         libpngError("Not enough image data")},
        {"stream_empty_IDAT", withHeader(header(4, 3, 8, 0), ""), false,
         libpngError("Not enough image data")},
        {"stream_bad_block_type",
         editChunk(png, "IDAT", [](Chunk &c) { c.data[2] = static_cast<char>(c.data[2] | 0x06); }),
         false, libpngError("IDAT: invalid block type")},
        {"stream_bad_header_check",
         editChunk(png, "IDAT", [](Chunk &c) { c.data[1] = static_cast<char>(c.data[1] ^ 0x01); }),
         false, libpngError("IDAT: incorrect header check")},
        {"stream_not_deflate",  // method 9 with a right header check
         editChunk(png, "IDAT", [](Chunk &c) { c.data[0] = 0x79; c.data[1] = 0x18; }),
         false, libpngError("IDAT: unknown compression method")},
        {"stream_bad_filter_type",
         withHeader(header(4, 3, 8, 0), [] {
             std::string raw = greyScanlines(4, 3);
             raw[5] = 9;  // the second row's filter byte
             return zlibCompress(raw);
         }()),
         false, libpngError("bad adaptive filter value")},
    };
    cases.insert(cases.end(), fixed.begin(), fixed.end());
    return cases;
}

class HostileInput : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileInput, FailsCleanlyAndLeavesOutputAlone)
{
    const HostileCase &c = GetParam();
    TempDir dir;
    if (c.inputIsDirectory)
        ASSERT_EQ(mkdir((dir / "in.png").c_str(), 0755), 0);
    else
        writeFile(dir / "in.png", c.bytes);
    writeFile(dir / "old.txt", kKept);

    // Once into an existing output file and once into a new one.
    for (const char *output : {"old.txt", "new.txt"}) {
        RunResult run = runProgram({PIXTAB_BINARY, "in.png", output}, dir.path());
        ASSERT_TRUE(run.exited) << output << ": " << describe(run);
        EXPECT_EQ(run.status, 1) << output;
        EXPECT_EQ(run.out, "") << output;
        EXPECT_EQ(run.err, c.err) << output;
    }
    EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"in.png", "old.txt"}));
    EXPECT_EQ(readFile(dir / "old.txt"), kKept);
}

INSTANTIATE_TEST_SUITE_P(Files, HostileInput, testing::ValuesIn(hostileCases()),
                         [](const testing::TestParamInfo<HostileCase> &info) {
                             return info.param.name;
                         });

// ------------------------------------------------------------ length claims

// A chunk whose length field claims 1.5 GiB in a file of a few dozen
// bytes.  libpng would allocate and clear that much for a text or palette
// chunk before finding the file short; the program has it skip every chunk
// it does not need, unread.  With the address space capped far below the
// claim, a run that tries to allocate a tEXt or iTXt claim gets libpng's
// out-of-memory warnings and then misreads the file, so for those the
// exact messages show which happened; for the others they show that the
// file still fails cleanly.
struct ClaimCase {
    const char *chunk;
};

void PrintTo(const ClaimCase &c, std::ostream *os) { *os << c.chunk; }

class LengthClaim : public testing::TestWithParam<ClaimCase> {};

TEST_P(LengthClaim, IsNotAllocated)
{
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the cap";
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    GTEST_SKIP() << "AddressSanitizer needs more address space than the cap";
#endif
#endif
    const std::string type = GetParam().chunk;
    const std::string claim = std::string("\x60\x00\x00\x00", 4) + type +
                              "keyword" + std::string(1, '\0') + "a little text";
    TempDir dir;
    writeFile(dir / "in.png",
              kPngSignature + chunkBytes("IHDR", ihdrData(4, 4, 8, 0)) + claim);
    RunResult run = runProgram({PIXTAB_BINARY, "in.png", "out.txt"}, dir.path(),
                               size_t(256) << 20);
    ASSERT_TRUE(run.exited) << describe(run);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "libpng warning: " + type + ": chunk data is too large\n"
                       "libpng error: Read Error\n" + kReadFailed);
    EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"in.png"}));
}

INSTANTIATE_TEST_SUITE_P(Files, LengthClaim,
                         testing::Values(ClaimCase{"tEXt"}, ClaimCase{"zTXt"},
                                         ClaimCase{"iTXt"}, ClaimCase{"sPLT"},
                                         ClaimCase{"prIv"}),
                         [](const testing::TestParamInfo<ClaimCase> &info) {
                             return std::string(info.param.chunk);
                         });

// ------------------------------------------------------------ still valid

struct OddCase {
    std::string name;
    std::string bytes;
    std::string table;
    std::string err;
};

void PrintTo(const OddCase &c, std::ostream *os) { *os << c.name; }

std::vector<OddCase> oddCases()
{
    const std::string &png = rgbaPng();
    const std::string table = expectedTable(rgbaSpec());
    const std::string paletteTable = expectedTable(paletteSpec());
    const std::vector<Chunk> chunks = splitChunks(png);

    // A private ancillary chunk before the image data and another after it.
    std::vector<Chunk> withPrivate;
    for (const Chunk &chunk : chunks) {
        if (chunk.type == "IDAT")
            withPrivate.push_back({"prIv", "private data before the image"});
        if (chunk.type == "IEND")
            withPrivate.push_back({"prIv", "private data after the image"});
        withPrivate.push_back(chunk);
    }
    // The image data in one-byte chunks, with an empty one among them.
    std::vector<Chunk> tinyIdat = splitIdat(chunks, 1u << 20);
    for (size_t i = 0; i < tinyIdat.size(); i++)
        if (tinyIdat[i].type == "IDAT") {
            tinyIdat.insert(tinyIdat.begin() + static_cast<long>(i) + 1, Chunk{"IDAT", ""});
            break;
        }
    // A damaged private chunk is only warned about.
    std::string badPrivate = joinChunks(withPrivate);
    {
        const std::vector<size_t> offsets = chunkOffsets(badPrivate);
        for (size_t i = 0; i < withPrivate.size(); i++)
            if (withPrivate[i].type == "prIv") {
                size_t crcEnd = offsets[i + 1] - 1;
                badPrivate[crcEnd] = static_cast<char>(badPrivate[crcEnd] ^ 0x01);
                break;
            }
    }

    // Indices past the end of a four-entry palette: the table shows the
    // indices and libpng only warns.
    PngSpec shortPalette;
    shortPalette.colorType = 3;
    shortPalette.bitDepth = 4;
    shortPalette.width = 3;
    shortPalette.height = 1;
    shortPalette.samples = {0, 5, 15};
    shortPalette.palette = {0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3};

    return {
        {"trailing_bytes_after_IEND", png + "trailing bytes that are no chunk", table, ""},
        {"trailing_chunk_after_IEND", png + chunkBytes("IDAT", "junk"), table, ""},
        {"private_chunks", joinChunks(withPrivate), table, ""},
        {"private_chunk_with_bad_crc", badPrivate, table, "libpng warning: prIv: CRC error\n"},
        {"one_byte_IDAT_chunks", joinChunks(tinyIdat), table, ""},
        {"palette_in_three_IDAT_chunks", palettePng(), paletteTable, ""},
        {"palette_index_beyond_palette", encodePng(shortPalette), "00 05 15 \n",
         "libpng warning: IDAT: Read palette index exceeding num_palette\n"},
    };
}

class OddButValid : public testing::TestWithParam<OddCase> {};

TEST_P(OddButValid, ConvertsAsUsual)
{
    const OddCase &c = GetParam();
    TempDir dir;
    writeFile(dir / "in.png", c.bytes);
    RunResult run = runProgram({PIXTAB_BINARY, "in.png", "out.txt"}, dir.path());
    ASSERT_TRUE(run.exited) << describe(run);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(readFile(dir / "out.txt"), c.table);
}

INSTANTIATE_TEST_SUITE_P(Files, OddButValid, testing::ValuesIn(oddCases()),
                         [](const testing::TestParamInfo<OddCase> &info) {
                             return info.param.name;
                         });

}  // namespace
