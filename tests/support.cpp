#include "support.h"

#include <png.h>
#include <zlib.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace fs = std::filesystem;

namespace pixtab_test {

// ================================================================ images

int channelsOf(int colorType)
{
    switch (colorType) {
    case 0: return 1;
    case 2: return 3;
    case 3: return 1;
    case 4: return 2;
    case 6: return 4;
    default: throw std::invalid_argument("unknown colour type");
    }
}

namespace {

struct WriteState {
    std::string bytes;
    char error[256] = {0};
};

void appendBytes(png_structp png, png_bytep data, size_t length)
{
    auto *state = static_cast<WriteState *>(png_get_io_ptr(png));
    state->bytes.append(reinterpret_cast<const char *>(data), length);
}

void flushNothing(png_structp) {}

void recordError(png_structp png, png_const_charp message)
{
    auto *state = static_cast<WriteState *>(png_get_error_ptr(png));
    std::snprintf(state->error, sizeof state->error, "%s", message);
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// Everything libpng needs, prepared before the setjmp below so that the
// function holding it has no object with a destructor.
struct WriteJob {
    const PngSpec *picture;
    png_bytep *rows;
    const png_color *palette;
    int paletteSize;
    const png_byte *trnsAlpha;
    int trnsCount;
    png_color_16 trnsColor;
    bool hasTrnsColor;
};

bool runLibpngWriter(const WriteJob &job, WriteState &state)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &state,
                                              recordError, ignoreWarning);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    const PngSpec &picture = *job.picture;
    png_set_write_fn(png, &state, appendBytes, flushNothing);
    png_set_IHDR(png, info, picture.width, picture.height, picture.bitDepth,
                 picture.colorType,
                 picture.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (job.paletteSize > 0)
        png_set_PLTE(png, info, job.palette, job.paletteSize);
    if (job.trnsCount > 0 || job.hasTrnsColor)
        png_set_tRNS(png, info, job.trnsAlpha, job.trnsCount,
                     job.hasTrnsColor ? &job.trnsColor : nullptr);
    png_write_info(png, info);
    png_set_interlace_handling(png);
    png_write_image(png, job.rows);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// One row of the image in PNG's own layout: samples of fewer than 8 bits
// packed from the most significant bit, 16-bit samples big-endian.
std::vector<png_byte> packRow(const PngSpec &picture, uint32_t y)
{
    const size_t perRow = static_cast<size_t>(picture.width) * channelsOf(picture.colorType);
    const uint16_t *src = picture.samples.data() + y * perRow;
    std::vector<png_byte> row;
    if (picture.bitDepth < 8) {
        row.assign((perRow * picture.bitDepth + 7) / 8, 0);
        for (size_t i = 0; i < perRow; i++) {
            size_t bit = i * picture.bitDepth;
            int shift = 8 - picture.bitDepth - static_cast<int>(bit % 8);
            row[bit / 8] = static_cast<png_byte>(row[bit / 8] | (src[i] << shift));
        }
    } else if (picture.bitDepth == 8) {
        for (size_t i = 0; i < perRow; i++)
            row.push_back(static_cast<png_byte>(src[i]));
    } else {
        for (size_t i = 0; i < perRow; i++) {
            row.push_back(static_cast<png_byte>(src[i] >> 8));
            row.push_back(static_cast<png_byte>(src[i] & 0xff));
        }
    }
    return row;
}

}  // namespace

std::string encodePng(const PngSpec &picture)
{
    const int channels = channelsOf(picture.colorType);
    const size_t count = static_cast<size_t>(picture.width) * picture.height * channels;
    if (picture.samples.size() != count)
        throw std::invalid_argument("sample count does not match the size");
    const unsigned maxValue = (1u << picture.bitDepth) - 1;
    for (uint16_t v : picture.samples)
        if (v > maxValue)
            throw std::invalid_argument("sample out of range for the depth");
    if (picture.palette.size() % 3 != 0)
        throw std::invalid_argument("palette is not r,g,b triples");

    std::vector<std::vector<png_byte>> rowData;
    std::vector<png_bytep> rows;
    for (uint32_t y = 0; y < picture.height; y++)
        rowData.push_back(packRow(picture, y));
    for (auto &row : rowData)
        rows.push_back(row.data());

    std::vector<png_color> palette;
    for (size_t i = 0; i + 2 < picture.palette.size(); i += 3)
        palette.push_back({picture.palette[i], picture.palette[i + 1], picture.palette[i + 2]});

    WriteJob job{};
    job.picture = &picture;
    job.rows = rows.data();
    job.palette = palette.data();
    job.paletteSize = static_cast<int>(palette.size());
    job.trnsAlpha = picture.trnsAlpha.data();
    job.trnsCount = static_cast<int>(picture.trnsAlpha.size());
    if (picture.trnsColor.size() == 1) {
        job.trnsColor.gray = picture.trnsColor[0];
        job.hasTrnsColor = true;
    } else if (picture.trnsColor.size() == 3) {
        job.trnsColor.red = picture.trnsColor[0];
        job.trnsColor.green = picture.trnsColor[1];
        job.trnsColor.blue = picture.trnsColor[2];
        job.hasTrnsColor = true;
    }

    WriteState state;
    if (!runLibpngWriter(job, state))
        throw std::runtime_error(std::string("libpng could not write: ") + state.error);
    return state.bytes;
}

PngSpec pictureOf(int colorType, int bitDepth, uint32_t width, uint32_t height,
                  std::vector<uint16_t> samples, bool interlaced)
{
    PngSpec picture;
    picture.colorType = colorType;
    picture.bitDepth = bitDepth;
    picture.width = width;
    picture.height = height;
    picture.interlaced = interlaced;
    picture.samples = std::move(samples);
    if (colorType == 3) {
        const unsigned entries = 1u << bitDepth;
        for (unsigned i = 0; i < entries; i++) {
            picture.palette.push_back(static_cast<uint8_t>(i * 37 + 5));
            picture.palette.push_back(static_cast<uint8_t>(255 - i));
            picture.palette.push_back(static_cast<uint8_t>(i * 91));
        }
    }
    return picture;
}

PngSpec patternImage(int colorType, int bitDepth, uint32_t width,
                     uint32_t height, bool interlaced, unsigned seed)
{
    const size_t count = static_cast<size_t>(width) * height * channelsOf(colorType);
    const uint32_t maxValue = (1u << bitDepth) - 1;
    uint32_t state = 0x9e3779b9u ^ (seed * 2654435761u);
    auto next = [&state]() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    };
    std::vector<uint16_t> samples(count);
    for (size_t i = 0; i < count; i++) {
        if (bitDepth == 16) {
            // High and low byte always differ, so a program that keeps the
            // low byte, or rounds, gives another table.
            uint32_t high = next() % 256;
            uint32_t low = (high + 1 + next() % 255) % 256;
            samples[i] = static_cast<uint16_t>(high << 8 | low);
        } else {
            samples[i] = static_cast<uint16_t>(next() % (maxValue + 1));
        }
    }
    if (count > 0) {
        samples[0] = 0;
        samples[count - 1] = static_cast<uint16_t>(maxValue);
    }
    if (count > 2 && bitDepth == 16)
        samples[1] = 0x00ff;  // cut to its high byte this is 0

    return pictureOf(colorType, bitDepth, width, height, std::move(samples), interlaced);
}

std::string expectedTable(const PngSpec &picture)
{
    const int channels = channelsOf(picture.colorType);
    const bool decimal = picture.colorType == 0 || picture.colorType == 3;
    int digits = 3;
    if (picture.bitDepth <= 2)
        digits = 1;
    else if (picture.bitDepth == 4)
        digits = 2;

    std::string table;
    char buffer[16];
    size_t i = 0;
    for (uint32_t y = 0; y < picture.height; y++) {
        for (uint32_t x = 0; x < picture.width; x++) {
            for (int c = 0; c < channels; c++, i++) {
                unsigned value = picture.samples.at(i);
                if (picture.bitDepth == 16)
                    value >>= 8;
                if (decimal)
                    std::snprintf(buffer, sizeof buffer, "%0*u", digits, value);
                else
                    std::snprintf(buffer, sizeof buffer, "%02x", value);
                table += buffer;
            }
            table += ' ';
        }
        table += '\n';
    }
    return table;
}

// ================================================================ chunks

const std::string kPngSignature("\x89PNG\r\n\x1a\n", 8);

std::string be32(uint32_t value)
{
    std::string bytes(4, '\0');
    bytes[0] = static_cast<char>(value >> 24);
    bytes[1] = static_cast<char>(value >> 16);
    bytes[2] = static_cast<char>(value >> 8);
    bytes[3] = static_cast<char>(value);
    return bytes;
}

static uint32_t readBe32(const std::string &bytes, size_t at)
{
    auto byte = [&](size_t k) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[at + k])); };
    return byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
}

uint32_t chunkCrc(const std::string &type, const std::string &data)
{
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, reinterpret_cast<const Bytef *>(type.data()), static_cast<uInt>(type.size()));
    crc = crc32(crc, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size()));
    return static_cast<uint32_t>(crc);
}

std::string chunkBytes(const std::string &type, const std::string &data, uint32_t crc)
{
    return be32(static_cast<uint32_t>(data.size())) + type + data + be32(crc);
}

std::string chunkBytes(const std::string &type, const std::string &data)
{
    return chunkBytes(type, data, chunkCrc(type, data));
}

std::vector<Chunk> splitChunks(const std::string &png)
{
    if (png.compare(0, kPngSignature.size(), kPngSignature) != 0)
        throw std::invalid_argument("no PNG signature");
    std::vector<Chunk> chunks;
    size_t at = kPngSignature.size();
    while (at < png.size()) {
        if (png.size() - at < 12)
            throw std::invalid_argument("chunk header cut short");
        uint32_t length = readBe32(png, at);
        if (png.size() - at - 12 < length)
            throw std::invalid_argument("chunk data cut short");
        Chunk chunk;
        chunk.type = png.substr(at + 4, 4);
        chunk.data = png.substr(at + 8, length);
        chunk.crc = readBe32(png, at + 8 + length);
        chunks.push_back(chunk);
        at += 12 + length;
        if (chunk.type == "IEND")
            break;
    }
    return chunks;
}

std::string joinChunks(const std::vector<Chunk> &chunks)
{
    std::string png = kPngSignature;
    for (const Chunk &chunk : chunks)
        png += chunkBytes(chunk.type, chunk.data);
    return png;
}

std::vector<size_t> chunkOffsets(const std::string &png)
{
    std::vector<size_t> offsets;
    size_t at = kPngSignature.size();
    for (const Chunk &chunk : splitChunks(png)) {
        offsets.push_back(at);
        at += 12 + chunk.data.size();
    }
    offsets.push_back(png.size());
    return offsets;
}

std::string ihdrData(uint32_t width, uint32_t height, int bitDepth,
                     int colorType, int compression, int filter, int interlace)
{
    std::string data = be32(width) + be32(height);
    data += static_cast<char>(bitDepth);
    data += static_cast<char>(colorType);
    data += static_cast<char>(compression);
    data += static_cast<char>(filter);
    data += static_cast<char>(interlace);
    return data;
}

std::string zlibCompress(const std::string &data)
{
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    std::string out(size, '\0');
    if (compress(reinterpret_cast<Bytef *>(&out[0]), &size,
                 reinterpret_cast<const Bytef *>(data.data()),
                 static_cast<uLong>(data.size())) != Z_OK)
        throw std::runtime_error("zlib compress failed");
    out.resize(size);
    return out;
}

// ================================================================ files

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") +
                          "/pixtab-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    path_ = buffer.data();
}

TempDir::~TempDir()
{
    // A test may have taken permissions away; give them back so that
    // everything can be removed.
    std::error_code ec;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(path_, ec);
}

std::string TempDir::operator/(const std::string &name) const
{
    return path_ + "/" + name;
}

void writeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool pathExists(const std::string &path)
{
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::vector<std::string> listDir(const std::string &path)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(path))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// ================================================================ processes

// A program built with AddressSanitizer and allocator_may_return_null=1
// notes each allocation it refuses ("==PID==WARNING: AddressSanitizer
// failed to allocate 0x... bytes") on stderr before returning null.  The
// program's own handling of the refusal is what the tests check, so these
// notes are dropped; every other sanitizer line, reports included, stays.
static std::string withoutAllocationNotices(const std::string &err)
{
    static const std::string notice = "==WARNING: AddressSanitizer failed to allocate 0x";
    std::string kept;
    size_t start = 0;
    while (start < err.size()) {
        size_t end = err.find('\n', start);
        end = end == std::string::npos ? err.size() : end + 1;
        std::string line = err.substr(start, end - start);
        bool isNotice = line.compare(0, 2, "==") == 0 &&
                        line.find(notice) != std::string::npos &&
                        line.find(notice) == line.find("==", 2);
        if (!isNotice)
            kept += line;
        start = end;
    }
    return kept;
}

RunResult runProgram(const std::vector<std::string> &argv, const std::string &cwd,
                     size_t addressSpaceLimit)
{
    if (argv.empty())
        throw std::invalid_argument("runProgram needs a program");
    // Everything the child uses is prepared before fork.
    std::vector<char *> args;
    for (const std::string &arg : argv)
        args.push_back(const_cast<char *>(arg.c_str()));
    args.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        throw std::runtime_error("pipe failed");
    }

    pid_t pid = fork();
    if (pid < 0) {
        for (int fd : {outPipe[0], outPipe[1], errPipe[0], errPipe[1]})
            close(fd);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        static const char chdirFailed[] = "runProgram: chdir failed\n";
        static const char execFailed[] = "runProgram: exec failed\n";
        int devNull = open("/dev/null", O_RDONLY);
        if (devNull < 0 || dup2(devNull, 0) < 0 || dup2(outPipe[1], 1) < 0 ||
            dup2(errPipe[1], 2) < 0)
            _exit(125);
        if (addressSpaceLimit != 0) {
            rlimit limit = {addressSpaceLimit, addressSpaceLimit};
            if (setrlimit(RLIMIT_AS, &limit) != 0)
                _exit(124);
        }
        if (chdir(cwd.c_str()) != 0) {
            ssize_t ignored = write(2, chdirFailed, sizeof chdirFailed - 1);
            (void)ignored;
            _exit(126);
        }
        execv(args[0], args.data());
        ssize_t ignored = write(2, execFailed, sizeof execFailed - 1);
        (void)ignored;
        _exit(127);
    }

    close(outPipe[1]);
    close(errPipe[1]);
    RunResult result;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string *sinks[2] = {&result.out, &result.err};
    int openCount = 2;
    while (openCount > 0) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (int k = 0; k < 2; k++) {
            if (fds[k].fd < 0 || fds[k].revents == 0)
                continue;
            char buffer[65536];
            ssize_t n = read(fds[k].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[k]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[k].fd);
                fds[k].fd = -1;
                openCount--;
            }
        }
    }
    for (const pollfd &fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);

    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error("waitpid failed");
    }
    result.err = withoutAllocationNotices(result.err);
    if (WIFEXITED(wstatus)) {
        result.exited = true;
        result.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        result.exited = false;
        result.status = WTERMSIG(wstatus);
    }
    return result;
}

std::string describe(const RunResult &result)
{
    std::ostringstream text;
    if (result.exited)
        text << "exit status " << result.status;
    else
        text << "killed by signal " << result.status;
    text << "\n--- stdout (" << result.out.size() << " bytes):\n" << result.out
         << "\n--- stderr (" << result.err.size() << " bytes):\n" << result.err;
    return text.str();
}

}  // namespace pixtab_test
