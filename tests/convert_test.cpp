// Conversion of valid images: every colour type at each of its bit depths,
// interlaced and not, odd widths, palette and colour-key transparency.  The
// fixtures are encoded from known sample values and the expected table is
// formatted from those values, then compared with pixtab's output file byte
// for byte.

#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace pixtab_test;

namespace {

// Converts the file of picture with "pixtab in.png out.txt" in a fresh
// directory and checks that exactly the table came out, silently.
void expectConverts(const PngSpec &picture, const std::string &table)
{
    TempDir dir;
    writeFile(dir / "in.png", encodePng(picture));
    RunResult run = runProgram({PIXTAB_BINARY, "in.png", "out.txt"}, dir.path());
    ASSERT_TRUE(run.exited && run.status == 0) << describe(run);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "");
    ASSERT_TRUE(pathExists(dir / "out.txt"));
    EXPECT_EQ(readFile(dir / "out.txt"), table);
    EXPECT_EQ(listDir(dir.path()), (std::vector<std::string>{"in.png", "out.txt"}));
}

// ------------------------------------------------------------ every format

struct FormatCase {
    int colorType;
    int bitDepth;
    uint32_t width;
    uint32_t height;
    bool interlaced;
    bool transparency;  // a tRNS chunk
};

std::string caseName(const FormatCase &c);

void PrintTo(const FormatCase &c, std::ostream *os) { *os << caseName(c); }

std::string colorTypeName(int colorType)
{
    switch (colorType) {
    case 0: return "grey";
    case 2: return "rgb";
    case 3: return "palette";
    case 4: return "greyalpha";
    case 6: return "rgba";
    default: return "type" + std::to_string(colorType);
    }
}

std::string caseName(const FormatCase &c)
{
    return colorTypeName(c.colorType) + std::to_string(c.bitDepth) + "_" +
           std::to_string(c.width) + "x" + std::to_string(c.height) +
           (c.interlaced ? "_adam7" : "_plain") + (c.transparency ? "_trns" : "");
}

std::vector<FormatCase> formatCases()
{
    struct Format {
        int colorType;
        int bitDepth;
    };
    const Format formats[] = {
        {0, 1}, {0, 2}, {0, 4}, {0, 8}, {0, 16},
        {3, 1}, {3, 2}, {3, 4}, {3, 8},
        {4, 8}, {4, 16},
        {2, 8}, {2, 16},
        {6, 8}, {6, 16},
    };
    // 1x1 leaves most Adam7 passes empty; 33x9 fills all of them and, at
    // depths below 8, ends its rows inside a byte.
    const uint32_t sizes[][2] = {{1, 1}, {1, 6}, {7, 5}, {33, 9}};

    std::vector<FormatCase> cases;
    for (const Format &f : formats)
        for (const auto &size : sizes)
            for (bool interlaced : {false, true})
                cases.push_back({f.colorType, f.bitDepth, size[0], size[1], interlaced, false});
    // Rows of hundreds of KiB of text, longer than any block the table is
    // written in, so that a row is split between writes.
    for (const Format &f : formats)
        cases.push_back({f.colorType, f.bitDepth, 70001, 3, false, false});

    // Transparency adds nothing to the table: palette alpha entries and
    // grey or RGB colour keys.
    const Format transparent[] = {
        {3, 1}, {3, 2}, {3, 4}, {3, 8}, {0, 8}, {0, 16}, {2, 8}, {2, 16},
    };
    for (const Format &f : transparent)
        for (bool interlaced : {false, true})
            cases.push_back({f.colorType, f.bitDepth, 33, 9, interlaced, true});
    return cases;
}

class Formats : public testing::TestWithParam<FormatCase> {};

TEST_P(Formats, TableMatchesSampleValues)
{
    const FormatCase &c = GetParam();
    PngSpec picture = patternImage(c.colorType, c.bitDepth, c.width, c.height,
                                c.interlaced, c.colorType * 100 + c.bitDepth);
    if (c.transparency) {
        if (c.colorType == 3) {
            // Fewer alpha entries than palette entries, as is usual.
            const size_t entries = picture.palette.size() / 3;
            for (size_t i = 0; i < (entries + 1) / 2; i++)
                picture.trnsAlpha.push_back(static_cast<uint8_t>(i * 255 / entries));
        } else {
            // A key equal to the first pixel, so that pixel is transparent.
            const int channels = channelsOf(c.colorType);
            picture.trnsColor.assign(picture.samples.begin(), picture.samples.begin() + channels);
        }
    }
    expectConverts(picture, expectedTable(picture));
}

INSTANTIATE_TEST_SUITE_P(AllColourTypesAndDepths, Formats,
                         testing::ValuesIn(formatCases()),
                         [](const testing::TestParamInfo<FormatCase> &info) {
                             return caseName(info.param);
                         });

// ------------------------------------------------------------ literal tables

struct LiteralCase {
    const char *name;
    PngSpec picture;
    const char *table;
};

std::vector<LiteralCase> literalCases()
{
    return {
        {"grey8", pictureOf(0, 8, 3, 2, {0, 7, 255, 128, 64, 1}),
         "000 007 255 \n128 064 001 \n"},
        {"grey8_adam7", pictureOf(0, 8, 3, 2, {0, 7, 255, 128, 64, 1}, true),
         "000 007 255 \n128 064 001 \n"},
        {"grey1_across_a_byte", pictureOf(0, 1, 9, 1, {1, 0, 1, 1, 0, 0, 0, 1, 1}),
         "1 0 1 1 0 0 0 1 1 \n"},
        {"grey2", pictureOf(0, 2, 4, 1, {3, 2, 1, 0}), "3 2 1 0 \n"},
        {"grey4", pictureOf(0, 4, 3, 1, {0, 9, 15}), "00 09 15 \n"},
        {"grey16_high_byte", pictureOf(0, 16, 3, 1, {0x12ff, 0x00ff, 0xff00}),
         "018 000 255 \n"},
        {"palette2", pictureOf(3, 2, 4, 1, {3, 0, 1, 2}), "3 0 1 2 \n"},
        {"palette4", pictureOf(3, 4, 2, 2, {15, 0, 10, 5}), "15 00 \n10 05 \n"},
        {"palette8", pictureOf(3, 8, 2, 1, {255, 9}), "255 009 \n"},
        {"greyalpha8", pictureOf(4, 8, 1, 1, {255, 128}), "ff80 \n"},
        {"greyalpha16", pictureOf(4, 16, 1, 1, {0x0aff, 0xf001}), "0af0 \n"},
        {"rgb8", pictureOf(2, 8, 2, 1, {255, 0, 0, 0, 0, 255}), "ff0000 0000ff \n"},
        {"rgb16", pictureOf(2, 16, 1, 1, {0xab01, 0xcdff, 0x0080}), "abcd00 \n"},
        {"rgba8", pictureOf(6, 8, 1, 1, {171, 205, 239, 1}), "abcdef01 \n"},
        {"rgba16", pictureOf(6, 16, 1, 2, {0xffff, 0x0000, 0x10ef, 0x7f80,
                                         0x0102, 0x0304, 0x0506, 0x0708}),
         "ff00107f \n01030507 \n"},
    };
}

void PrintTo(const LiteralCase &c, std::ostream *os) { *os << c.name; }

class Literal : public testing::TestWithParam<LiteralCase> {};

TEST_P(Literal, ExactTable)
{
    const LiteralCase &c = GetParam();
    expectConverts(c.picture, c.table);
}

INSTANTIATE_TEST_SUITE_P(SmallImages, Literal, testing::ValuesIn(literalCases()),
                         [](const testing::TestParamInfo<LiteralCase> &info) {
                             return std::string(info.param.name);
                         });

// The generated cases above rest on expectedTable(); it has to agree with
// every hand-written table.
TEST(ExpectedTable, AgreesWithHandWrittenTables)
{
    for (const LiteralCase &c : literalCases())
        EXPECT_EQ(expectedTable(c.picture), c.table) << c.name;
    EXPECT_EQ(std::string(literalCases()[0].table).size(), 26u);
}

}  // namespace
