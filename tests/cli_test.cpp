// The command line: argument handling, the default output name, output
// paths, and every failure with its exact messages, exit status and what
// is left in the directory afterwards.

#include "support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using namespace pixtab_test;

namespace {

const std::string kUsage =
    "Pouziti: pixtab nazev-vstupniho-souboru.png [nazev-vystupniho-souboru.txt]\n"
    "Pokud neni specifikovan nazev vystupniho souboru, pouzije se 'vystup.txt'.\n";
const std::string kReadFailed = "chyba pri cteni obrazku\n";
const std::string kWriteFailed = "chyba pri zapisu tabulky\n";

// Marks a directory in CliCase::after.
const std::string kDirectory = "<directory>";

// The picture most cases convert, and its table.
PngSpec smallImage() { return pictureOf(0, 8, 3, 2, {0, 7, 255, 128, 64, 1}); }
const std::string kTable = "000 007 255 \n128 064 001 \n";

const std::string &smallPng()
{
    static const std::string png = encodePng(smallImage());
    return png;
}

// An image with enough data that its IDAT can be cut or damaged anywhere.
const std::string &largerPng()
{
    static const std::string png = encodePng(patternImage(2, 8, 40, 20, false));
    return png;
}

// largerPng() ending in the middle of its IDAT data.
std::string cutInsideImageData()
{
    const std::string &png = largerPng();
    const std::vector<Chunk> chunks = splitChunks(png);
    const std::vector<size_t> offsets = chunkOffsets(png);
    for (size_t i = 0; i < chunks.size(); i++)
        if (chunks[i].type == "IDAT")
            return png.substr(0, offsets[i] + 8 + chunks[i].data.size() / 2);
    throw std::logic_error("no IDAT");
}

// largerPng() whose first deflate block claims the reserved block type;
// the chunk CRC is made right again so that zlib is what fails.
std::string corruptStream()
{
    std::vector<Chunk> chunks = splitChunks(largerPng());
    for (Chunk &chunk : chunks)
        if (chunk.type == "IDAT") {
            chunk.data[2] = static_cast<char>(chunk.data[2] | 0x06);
            break;
        }
    return joinChunks(chunks);
}

// Width and height that libpng accepts but whose pixels (4 TB of RGBA)
// no memory holds.  libpng reads up to the first IDAT before the program
// sees the size, so an IDAT is there: with IEND right after IHDR libpng
// stops first, with "IEND: out of place".
std::string oversizedPng()
{
    return kPngSignature + chunkBytes("IHDR", ihdrData(1000000, 1000000, 8, 6)) +
           chunkBytes("IDAT", zlibCompress(std::string(16, '\0'))) +
           chunkBytes("IEND", "");
}

using Files = std::vector<std::pair<std::string, std::string>>;

struct CliCase {
    const char *name;
    Files before;  // written (or, for kDirectory, made) before the run
    std::vector<std::string> args;  // after the program's name
    std::string out;
    std::string err;
    int status;
    // Everything in the directory afterwards, with its contents.  Entries
    // with a '/' are checked for their contents only.
    Files after;
};

void PrintTo(const CliCase &c, std::ostream *os) { *os << c.name; }

std::vector<CliCase> cliCases()
{
    const std::string png = smallPng();
    const std::string previous = "an earlier table, longer than the new one\n"
                                 "which must be replaced, not overwritten in part\n";
    const std::string kept = "kept as it was\n";
    return {
        // Argument count.
        {"no_arguments", {{"in.png", png}}, {}, kUsage, "", 1, {{"in.png", png}}},
        {"three_arguments", {{"in.png", png}}, {"in.png", "out.txt", "more.txt"},
         kUsage, "", 1, {{"in.png", png}}},
        {"four_arguments", {{"in.png", png}}, {"in.png", "a", "b", "c"},
         kUsage, "", 1, {{"in.png", png}}},

        // Output names.
        {"default_output_name", {{"in.png", png}}, {"in.png"}, "", "", 0,
         {{"in.png", png}, {"vystup.txt", kTable}}},
        {"default_output_replaced", {{"in.png", png}, {"vystup.txt", previous}},
         {"in.png"}, "", "", 0, {{"in.png", png}, {"vystup.txt", kTable}}},
        {"named_output_replaced", {{"in.png", png}, {"out.txt", previous}},
         {"in.png", "out.txt"}, "", "", 0, {{"in.png", png}, {"out.txt", kTable}}},
        {"output_other_extension", {{"in.png", png}}, {"in.png", "table.csv"}, "", "", 0,
         {{"in.png", png}, {"table.csv", kTable}}},
        {"output_without_extension", {{"in.png", png}}, {"in.png", "table"}, "", "", 0,
         {{"in.png", png}, {"table", kTable}}},
        {"output_with_spaces_and_percent", {{"in.png", png}, {"a b%", kDirectory}},
         {"in.png", "a b%/out %s%n.txt"}, "", "", 0,
         {{"in.png", png}, {"a b%", kDirectory}, {"a b%/out %s%n.txt", kTable}}},
        {"input_with_spaces_and_percent", {{"in %s%n %d.png", png}},
         {"in %s%n %d.png", "out.txt"}, "", "", 0,
         {{"in %s%n %d.png", png}, {"out.txt", kTable}}},
        {"output_replaces_input", {{"in.png", png}}, {"in.png", "in.png"}, "", "", 0,
         {{"in.png", kTable}}},
        {"output_to_stdout_pipe", {{"in.png", png}}, {"in.png", "/dev/stdout"},
         kTable, "", 0, {{"in.png", png}}},

        // Input that cannot be read as a picture; an existing output stays.
        {"dash_h_is_a_path", {{"in.png", png}}, {"-h"}, "",
         "soubor '-h' nelze otevrit\n" + kReadFailed, 1, {{"in.png", png}}},
        {"missing_input", {{"out.txt", kept}}, {"missing.png", "out.txt"}, "",
         "soubor 'missing.png' nelze otevrit\n" + kReadFailed, 1, {{"out.txt", kept}}},
        {"missing_input_with_percent", {}, {"x%s%n.png"}, "",
         "soubor 'x%s%n.png' nelze otevrit\n" + kReadFailed, 1, {}},
        {"missing_input_default_output_kept", {{"vystup.txt", kept}}, {"missing.png"}, "",
         "soubor 'missing.png' nelze otevrit\n" + kReadFailed, 1, {{"vystup.txt", kept}}},
        {"not_a_png", {{"notes.txt", "just some text\n"}, {"out.txt", kept}},
         {"notes.txt", "out.txt"}, "", "libpng error: Not a PNG file\n" + kReadFailed, 1,
         {{"notes.txt", "just some text\n"}, {"out.txt", kept}}},
        {"cut_inside_image_data", {{"in.png", cutInsideImageData()}, {"out.txt", kept}},
         {"in.png", "out.txt"}, "", "libpng error: Read Error\n" + kReadFailed, 1,
         {{"in.png", cutInsideImageData()}, {"out.txt", kept}}},
        {"corrupt_compressed_stream", {{"in.png", corruptStream()}, {"out.txt", kept}},
         {"in.png", "out.txt"}, "", "libpng error: IDAT: invalid block type\n" + kReadFailed, 1,
         {{"in.png", corruptStream()}, {"out.txt", kept}}},
        {"oversized_header", {{"in.png", oversizedPng()}, {"out.txt", kept}},
         {"in.png", "out.txt"}, "", "obrazek je prilis velky\n" + kReadFailed, 1,
         {{"in.png", oversizedPng()}, {"out.txt", kept}}},
        {"oversized_header_default_output", {{"in.png", oversizedPng()}},
         {"in.png"}, "", "obrazek je prilis velky\n" + kReadFailed, 1,
         {{"in.png", oversizedPng()}}},

        // Output that cannot be opened or written.
        {"output_empty_path", {{"in.png", png}}, {"in.png", ""}, "",
         "soubor '' nelze otevrit\n" + kWriteFailed, 1, {{"in.png", png}}},
        {"output_missing_directory", {{"in.png", png}}, {"in.png", "nodir/out.txt"}, "",
         "soubor 'nodir/out.txt' nelze otevrit\n" + kWriteFailed, 1, {{"in.png", png}}},
        {"output_missing_directory_with_percent", {{"in.png", png}},
         {"in.png", "%s%n dir/out.txt"}, "",
         "soubor '%s%n dir/out.txt' nelze otevrit\n" + kWriteFailed, 1, {{"in.png", png}}},
        {"output_is_a_directory", {{"in.png", png}, {"d", kDirectory}}, {"in.png", "d"}, "",
         "soubor 'd' nelze otevrit\n" + kWriteFailed, 1, {{"in.png", png}, {"d", kDirectory}}},
        {"output_device_full", {{"in.png", png}}, {"in.png", "/dev/full"}, "",
         "soubor '/dev/full' nelze zapsat\n" + kWriteFailed, 1, {{"in.png", png}}},
    };
}

void prepare(const TempDir &dir, const Files &files)
{
    for (const auto &[name, contents] : files) {
        if (contents == kDirectory)
            ASSERT_EQ(mkdir((dir / name).c_str(), 0755), 0) << name;
        else
            writeFile(dir / name, contents);
    }
}

// Checks that dir holds exactly the entries of expected, with their contents.
void expectFiles(const TempDir &dir, const Files &expected)
{
    std::vector<std::string> topLevel;
    for (const auto &entry : expected)
        if (entry.first.find('/') == std::string::npos)
            topLevel.push_back(entry.first);
    std::sort(topLevel.begin(), topLevel.end());
    EXPECT_EQ(listDir(dir.path()), topLevel);

    for (const auto &[name, contents] : expected) {
        struct stat st;
        ASSERT_EQ(lstat((dir / name).c_str(), &st), 0) << name << " is missing";
        if (contents == kDirectory) {
            EXPECT_TRUE(S_ISDIR(st.st_mode)) << name;
        } else {
            ASSERT_TRUE(S_ISREG(st.st_mode)) << name;
            EXPECT_EQ(readFile(dir / name), contents) << name;
        }
    }
}

class CommandLine : public testing::TestWithParam<CliCase> {};

TEST_P(CommandLine, OutputMessagesStatusAndFiles)
{
    const CliCase &c = GetParam();
    TempDir dir;
    prepare(dir, c.before);

    std::vector<std::string> argv{PIXTAB_BINARY};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    RunResult run = runProgram(argv, dir.path());

    ASSERT_TRUE(run.exited) << describe(run);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
    expectFiles(dir, c.after);
}

INSTANTIATE_TEST_SUITE_P(Cases, CommandLine, testing::ValuesIn(cliCases()),
                         [](const testing::TestParamInfo<CliCase> &info) {
                             return std::string(info.param.name);
                         });

// Permissions do not stop root, so this runs only for other users.
TEST(Permissions, UnreadableInputAndUnwritableOutput)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root ignores file permissions";

    TempDir dir;
    writeFile(dir / "in.png", smallPng());
    writeFile(dir / "locked.png", smallPng());
    writeFile(dir / "readonly.txt", "kept\n");
    ASSERT_EQ(mkdir((dir / "ro").c_str(), 0555), 0);
    ASSERT_EQ(chmod((dir / "locked.png").c_str(), 0), 0);
    ASSERT_EQ(chmod((dir / "readonly.txt").c_str(), 0444), 0);

    struct Row {
        std::vector<std::string> args;
        std::string err;
    };
    const Row rows[] = {
        {{"locked.png", "out.txt"}, "soubor 'locked.png' nelze otevrit\n" + kReadFailed},
        {{"in.png", "ro/out.txt"}, "soubor 'ro/out.txt' nelze otevrit\n" + kWriteFailed},
        {{"in.png", "readonly.txt"}, "soubor 'readonly.txt' nelze otevrit\n" + kWriteFailed},
    };
    for (const Row &row : rows) {
        std::vector<std::string> argv{PIXTAB_BINARY};
        argv.insert(argv.end(), row.args.begin(), row.args.end());
        RunResult run = runProgram(argv, dir.path());
        EXPECT_TRUE(run.exited && run.status == 1) << describe(run);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, row.err);
    }
    EXPECT_EQ(listDir(dir.path()),
              (std::vector<std::string>{"in.png", "locked.png", "readonly.txt", "ro"}));
    EXPECT_EQ(listDir(dir / "ro"), std::vector<std::string>{});
    ASSERT_EQ(chmod((dir / "readonly.txt").c_str(), 0644), 0);
    EXPECT_EQ(readFile(dir / "readonly.txt"), "kept\n");
}

}  // namespace
