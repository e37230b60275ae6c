#include "test_support.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>

#include "bitmap.h"
#include "bitmap_encode.h"
#include "converter.h"
#include "memory_faces.h"

#include "platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif
#ifdef __linux__
#include <sys/xattr.h>
#endif

namespace pixmar_test {

std::vector<std::pair<const char*, pixmar::WordLineFormatter>> word_line_formatters()
{
    std::vector<std::pair<const char*, pixmar::WordLineFormatter>> formatters;
    for (const pixmar::NamedWordLineFormatter& formatter : pixmar::word_line_formatters())
        formatters.emplace_back(formatter.name, formatter.format);
    return formatters;
}

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
    const std::uint32_t width = std::uint32_t(bytes[kWidth] | bytes[kWidth + 1] << 8);
    const std::uint32_t height = std::uint32_t(bytes[kHeight] | bytes[kHeight + 1] << 8);
    const std::size_t stored_row = std::size_t(pixmar::stored_row_bytes(width));
    std::vector<std::uint8_t> out(bytes.begin(), bytes.begin() + 54);
    for (std::uint32_t row = height; row-- > 0;) {
        const auto begin = bytes.begin() + 54 + std::ptrdiff_t(row * stored_row);
        out.insert(out.end(), begin, begin + std::ptrdiff_t(stored_row));
    }
    put_u32(out, kHeight, 0u - height);
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
    // Process numbers are reused quickly under Wine, so a random part keeps
    // each folder apart from what an earlier test process may have left.
    static std::atomic<int> counter{0};
    static const unsigned random_part = std::random_device{}();
    const std::string name = std::to_string(pixmar::process_number()) + "-" + std::to_string(random_part) + "-" +
                             std::to_string(counter++);
    path_ = fs::absolute(fs::path("scratch") / name);
    fs::create_directories(path_);
}

ScratchFolder::~ScratchFolder()
{
    std::error_code ignored;
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::vector<std::string> names_in(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> ScratchFolder::names() const { return names_in(path_); }

#ifdef _WIN32
namespace {

// The console's text stream ends every line with CR LF. Those become LF so
// that the expectations read the same on every platform; a line end of any
// other form is marked, so that it fails the comparison.
std::string console_lines(const std::string& raw)
{
    std::string text;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw.compare(i, 2, "\r\n") == 0)
            text += '\n', ++i;
        else if (raw[i] == '\n' || raw[i] == '\r')
            text += "<bare line end>";
        else
            text += raw[i];
    }
    return text;
}

int run_command(const std::string& utf8)
{
    // The wide call keeps names with any letters intact on their way to the tool.
    const int length = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
    std::wstring wide(std::size_t(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, wide.data(), length);
    return _wsystem(wide.c_str());
}

}  // namespace
#endif

InProcessRun convert_in_memory(const std::vector<std::uint8_t>& bitmap, const std::string& path, bool magic_pink)
{
    pixmar::MemoryInput input{bitmap.data(), bitmap.size()};
    pixmar::MemoryHeader header;
    std::string out;
    pixmar::BitmapSource source = pixmar::memory_source(input);
    pixmar::HeaderSink sink = pixmar::memory_sink(header);
    const pixmar::MessageSink messages = pixmar::string_messages(out);
    pixmar::print_banner(messages);
    const int status = pixmar::convert_bitmap({path, magic_pink}, source, sink, messages);
    return {status, out, header.complete ? header.text : std::string()};
}

RunResult ScratchFolder::run(const std::vector<std::string>& arguments, const std::string& shell_prefix) const
{
    return run_program(PIXMAR_EXE, arguments, shell_prefix);
}

RunResult ScratchFolder::run_program(const std::string& program, const std::vector<std::string>& arguments,
                                     [[maybe_unused]] const std::string& shell_prefix,
                                     const std::string& subfolder) const
{
    const fs::path captured = path_ / "stdout.captured";
    const fs::path where = subfolder.empty() ? path_ : path_ / from_utf8(subfolder);
    std::ostringstream command;
#ifdef _WIN32
    command << "cd /d \"" << utf8(where) << "\" && ";
#else
    command << "cd \"" << where.string() << "\" && " << shell_prefix;
#endif
    command << "\"" << program << "\"";
    for (const std::string& argument : arguments)
        command << " \"" << argument << "\"";
    // Standard error too: what a program prints there is checked as well.
    command << " > \"" << utf8(captured) << "\" 2>&1";

#ifdef _WIN32
    RunResult result{run_command(command.str()), console_lines(read_file(captured))};
    // Wine's cmd now and then fails to start a program on a loaded machine,
    // saying so in place of the program's output: that run is tried again.
    for (int retry = 0; retry < 3 && result.out.rfind("Can't recognize '", 0) == 0; ++retry)
        result = RunResult{run_command(command.str()), console_lines(read_file(captured))};
#else
    const int raw = std::system(command.str().c_str());
    RunResult result{WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw), read_file(captured)};
#endif
    fs::remove(captured);
    return result;
}

#ifdef __linux__
std::vector<std::uint8_t> attribute(const fs::path& path, const char* name)
{
    std::vector<std::uint8_t> value(256);
    const ssize_t size = getxattr(path.c_str(), name, value.data(), value.size());
    value.resize(size > 0 ? std::size_t(size) : 0);
    return value;
}
#endif

#ifndef _WIN32
bool can_hide_proc()
{
    return geteuid() == 0 && wait_status(spawn_shell("exec " + kHideProc + "\"$1\" --version >/dev/null 2>&1", {PIXMAR_EXE})) == 0;
}

int spawn_shell(const std::string& script, const std::vector<std::string>& arguments, int output)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (output == kCloseOutput)
        posix_spawn_file_actions_addclose(&actions, 1);
    else if (output >= 0)
        posix_spawn_file_actions_adddup2(&actions, output, 1);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    std::vector<std::string> words = {"sh", "-c", script, "sh"};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, "/bin/sh", &actions, &attributes, argv.data(), environ) != 0)
        pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return int(pid);
}

int wait_status(int pid)
{
    int status = 0;
    return waitpid(pid_t(pid), &status, 0) == pid ? status : -1;
}
#endif

std::string utf8(const fs::path& path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

fs::path from_utf8(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

Rgb pixel_of_bitmap(const std::string& file, std::uint32_t x, std::uint32_t y)
{
    const auto u32 = [&](std::size_t at) {
        return std::uint32_t(std::uint8_t(file.at(at))) | std::uint32_t(std::uint8_t(file.at(at + 1))) << 8 |
               std::uint32_t(std::uint8_t(file.at(at + 2))) << 16 | std::uint32_t(std::uint8_t(file.at(at + 3))) << 24;
    };
    const std::uint32_t width = u32(kWidth), height = u32(kHeight);
    if (std::uint8_t(file.at(kBitCount)) == 8) {  // a palette of blue, green, red, 0 after the info header
        const std::size_t index = std::uint8_t(file.at(u32(kOffBits) + std::size_t(height - 1 - y) * ((width + 3) / 4 * 4) + x));
        const std::size_t colour = kInfoSize + u32(kInfoSize) + index * 4;
        return Rgb{std::uint8_t(file.at(colour + 2)), std::uint8_t(file.at(colour + 1)), std::uint8_t(file.at(colour))};
    }
    const std::size_t at = u32(kOffBits) + std::size_t(height - 1 - y) * std::size_t(pixmar::stored_row_bytes(width)) + x * 3;
    return Rgb{std::uint8_t(file.at(at + 2)), std::uint8_t(file.at(at + 1)), std::uint8_t(file.at(at))};
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
