#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include "bitmap_encode.h"

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace pixmar_test {

namespace fs = std::filesystem;

std::vector<std::uint8_t> make_bitmap(std::uint32_t width, std::uint32_t height,
                                      const std::function<Rgb(std::uint32_t, std::uint32_t)>& color)
{
    std::vector<std::uint8_t> bgr;
    for (std::uint32_t row = 0; row < height; ++row) {
        for (std::uint32_t x = 0; x < width; ++x) {
            const Rgb c = color(x, height - 1 - row);
            bgr.insert(bgr.end(), {c.b, c.g, c.r});
        }
    }
    return pixmar::encode_bitmap(width, height, bgr.data());
}

std::vector<std::uint8_t> make_top_down(std::vector<std::uint8_t> bytes)
{
    const std::int32_t width = std::int32_t(bytes[kWidth] | bytes[kWidth + 1] << 8);
    const std::int32_t height = std::int32_t(bytes[kHeight] | bytes[kHeight + 1] << 8);
    const std::size_t stored_row = std::size_t(width * 3 + width % 4);
    std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + 54);
    for (std::int32_t row = height; row-- > 0;) {
        const auto begin = bytes.begin() + 54 + std::ptrdiff_t(row * stored_row);
        out.insert(out.end(), begin, begin + std::ptrdiff_t(stored_row));
    }
    put_u32(out, kHeight, std::uint32_t(-height));
    return out;
}

void put_u16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value)
{
    bytes.at(offset) = std::uint8_t(value);
    bytes.at(offset + 1) = std::uint8_t(value >> 8);
}

void put_u32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value)
{
    put_u16(bytes, offset, value);
    put_u16(bytes, offset + 2, value >> 16);
}

std::string read_file(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_file(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

ScratchFolder::ScratchFolder()
{
    static std::atomic<int> counter{0};
#ifdef _WIN32
    const std::string process = std::to_string(std::rand());
#else
    const std::string process = std::to_string(getpid());
#endif
    path_ = fs::absolute(fs::path("scratch") / (process + "-" + std::to_string(counter++)));
    fs::remove_all(path_);
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::vector<std::string> ScratchFolder::names() const
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path_))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

RunResult ScratchFolder::run(const std::vector<std::string>& arguments, const std::string& shell_prefix) const
{
    const fs::path captured = path_ / "stdout.captured";
    std::ostringstream command;
#ifdef _WIN32
    command << "cd /d \"" << path_.string() << "\" && ";
#else
    command << "cd \"" << path_.string() << "\" && " << shell_prefix;
#endif
    command << "\"" << PIXMAR_EXE << "\"";
    for (const std::string& argument : arguments)
        command << " \"" << argument << "\"";
    command << " > \"" << captured.string() << "\"";

    const int raw = std::system(command.str().c_str());
#ifdef _WIN32
    const int status = raw;
#else
    const int status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
    RunResult result{status, read_file(captured)};
    fs::remove(captured);
    return result;
}

std::string info_lines(int width, int height, int image_size, int header_size, unsigned planes, unsigned bits,
                       int compression)
{
    std::ostringstream text;
    text << "\tInfoHeader: header size=" << header_size << ", Width, Height=(" << width << "," << height << ")\n"
         << "\tInfoHeader: planes=" << planes << ", bits=" << bits << ", compression=" << compression
         << ", image size (bytes)=" << image_size << "\n";
    return text.str();
}

}  // namespace pixmar_test
