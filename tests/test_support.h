// Builders and runners shared by the tests: bitmaps made in memory, and the
// built pixmar run in a scratch folder with its exact output captured.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "word_line.h"

namespace pixmar_test {

// Every word-line formatter this processor runs, named: the scalar reference
// first, then the vector ones it has.
std::vector<std::pair<const char*, pixmar::WordLineFormatter>> word_line_formatters();

struct Rgb {
    std::uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Rgb& c)
{
    return out << "(" << int(c.r) << "," << int(c.g) << "," << int(c.b) << ")";
}

inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kMagicPink{255, 0, 255};

// A bottom-up 24-bit bitmap; `color(x, y)` gives the pixel with y = 0 at the
// top of the picture.
std::vector<std::uint8_t> make_bitmap(std::uint32_t width, std::uint32_t height,
                                      const std::function<Rgb(std::uint32_t, std::uint32_t)>& color);

// The same picture stored top-down (negative height, top row first).
std::vector<std::uint8_t> make_top_down(std::vector<std::uint8_t> bottom_up);

void put_u16(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);
void put_u32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value);

// Header field offsets within the file.
inline constexpr std::size_t kOffBits = 10, kInfoSize = 14, kWidth = 18, kHeight = 22, kPlanes = 26,
                             kBitCount = 28, kCompression = 30, kClrUsed = 46;

// Paths as UTF-8 text and back, the same on every platform.
std::string utf8(const std::filesystem::path& path);
std::filesystem::path from_utf8(const std::string& text);

std::string read_file(const std::filesystem::path& path);
void write_file(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);

// The names in `folder`, sorted.
std::vector<std::string> names_in(const std::filesystem::path& folder);

// Runs `undo` however the scope is left, a failed assertion included: what a
// test set up outside its scratch folder (a mount, say) never outlives it.
class ScopeGuard {
public:
    explicit ScopeGuard(std::function<void()> undo) : undo_(std::move(undo)) {}
    ~ScopeGuard() { undo_(); }
    ScopeGuard(const ScopeGuard&) = delete;
    ScopeGuard& operator=(const ScopeGuard&) = delete;

private:
    std::function<void()> undo_;
};

struct RunResult {
    int status;
    std::string out;
};

// A fresh, empty folder for one test, removed afterwards.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    // The names in the folder, sorted.
    std::vector<std::string> names() const;

    // Runs pixmar with `arguments` from inside the folder. `shell_prefix` is
    // put before the command (POSIX shells only, for limits such as ulimit).
    RunResult run(const std::vector<std::string>& arguments, const std::string& shell_prefix = "") const;

    // The same for another program of the build, run from `subfolder` of
    // this folder when one is named.
    RunResult run_program(const std::string& program, const std::vector<std::string>& arguments,
                          const std::string& shell_prefix = "", const std::string& subfolder = "") const;

private:
    std::filesystem::path path_;
};

// One conversion in this process, as `pixmar path` (or `pixmar -MP path`)
// runs it on a file holding `bitmap`: what it prints, banner first, its
// status, and the header it leaves (empty when it leaves none).
struct InProcessRun {
    int status;
    std::string out;
    std::string header;
};
InProcessRun convert_in_memory(const std::vector<std::uint8_t>& bitmap, const std::string& path = "in.bmp",
                             bool magic_pink = false);

#ifndef _WIN32
inline constexpr int kInheritOutput = -1, kCloseOutput = -2;

// Starts `script` in /bin/sh with $1, $2, ... set to `arguments`, with every
// signal at its default action and none blocked, whatever the test runner
// set, so that each test sets exactly what it is about. Its standard output
// is the runner's, closed, or the descriptor `output`. Returns the process
// number, or -1.
int spawn_shell(const std::string& script, const std::vector<std::string>& arguments = {},
                int output = kInheritOutput);

// Waits for the process and returns its raw wait status.
int wait_status(int pid);

// True when this process may hide /proc from a run (root, with unshare) and
// the tool still starts without it (an emulator may not): the new file then
// cannot be made without a name, and has one from the start.
bool can_hide_proc();
// Put before a command, runs it with /proc hidden.
inline const std::string kHideProc = "unshare -m sh -c 'umount -l /proc && exec \"$0\" \"$@\"' ";
#endif

#ifdef __linux__
// The value of the extended attribute `name` of `path` (up to 256 bytes);
// empty when it has none.
std::vector<std::uint8_t> attribute(const std::filesystem::path& path, const char* name);
#endif

// Skips a test of ACLs or user. attributes in a build that copies none
// (one without libacl and libattr): such a test is reported as not run.
#ifdef PIXMAR_ACL
#define PIXMAR_SKIP_WITHOUT_ACL() static_cast<void>(0)
#else
#define PIXMAR_SKIP_WITHOUT_ACL() GTEST_SKIP() << "built without libacl and libattr: ACLs and attributes are not copied"
#endif

// The pixel at column x, row y (0 at the top) of a bottom-up 24-bit bitmap
// file, or of an 8-bit one through its palette.
Rgb pixel_of_bitmap(const std::string& file, std::uint32_t x, std::uint32_t y);

// What the tool prints for a bitmap that passes every header check.
std::string info_lines(int width, int height, int image_size, int header_size = 40, unsigned planes = 1,
                       unsigned bits = 24, int compression = 0);
inline const std::string kBanner = "Pixmar Converter, Version " PIXMAR_VERSION ", (c) the Pixmar authors\n";

}  // namespace pixmar_test
