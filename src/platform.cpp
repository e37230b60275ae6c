#include "platform.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace pixmar {

namespace {

std::atomic<unsigned> temporary_counter{0};

std::string folder_of(const std::string& path)
{
#ifdef _WIN32
    const char* separators = "/\\:";
#else
    const char* separators = "/";
#endif
    const std::size_t end = path.find_last_of(separators);
    return end == std::string::npos ? std::string() : path.substr(0, end + 1);
}

#ifdef _WIN32
std::wstring widen(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(std::size_t(length > 0 ? length : 0), L'\0');
    if (length > 0)
        MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), wide.data(), length);
    return wide;
}

std::string narrow(const wchar_t* text)
{
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 1)
        return std::string();
    std::string utf8(std::size_t(length - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), length, nullptr, nullptr);
    return utf8;
}
#endif

}  // namespace

#ifdef _WIN32

PathKind path_kind(const std::string& path)
{
    struct _stat64 info;
    if (_wstat64(widen(path).c_str(), &info) != 0)
        return PathKind::missing;
    if (info.st_mode & _S_IFREG)
        return PathKind::regular_file;
    if (info.st_mode & _S_IFDIR)
        return PathKind::directory;
    return PathKind::other;
}

std::FILE* open_for_reading(const std::string& path) { return _wfopen(widen(path).c_str(), L"rb"); }

namespace {

// Primitives for the shared functions at the end of this file.
bool seek_to(std::FILE* file, std::int64_t offset, int origin) { return _fseeki64(file, offset, origin) == 0; }

std::int64_t position_of(std::FILE* file) { return _ftelli64(file); }

// nullptr when the file exists (errno EEXIST) or cannot be made.
std::FILE* create_exclusively(const std::string& path)
{
    const int fd = _wopen(widen(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0)
        return nullptr;
    std::FILE* file = _fdopen(fd, "wb");
    if (!file) {
        _close(fd);
        _wremove(widen(path).c_str());
    }
    return file;
}

int process_number() { return _getpid(); }

}  // namespace

bool replace_file(const std::string& from, const std::string& to)
{
    return MoveFileExW(widen(from).c_str(), widen(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool remove_file(const std::string& path) { return _wremove(widen(path).c_str()) == 0; }

std::uint8_t* allocate_block(std::size_t size) { return new (std::nothrow) std::uint8_t[size]; }

void release_block(std::uint8_t* memory) { delete[] memory; }

std::vector<std::string> program_arguments(int, char**)
{
    // The narrow argv holds the names in the console's code page, which cannot
    // carry every letter; the wide command line can.
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide)
        return arguments;
    for (int i = 1; i < count; ++i)
        arguments.push_back(narrow(wide[i]));
    LocalFree(wide);
    return arguments;
}

#else

PathKind path_kind(const std::string& path)
{
    struct stat info;
    if (stat(path.c_str(), &info) != 0)
        return PathKind::missing;
    if (S_ISREG(info.st_mode))
        return PathKind::regular_file;
    if (S_ISDIR(info.st_mode))
        return PathKind::directory;
    return PathKind::other;
}

std::FILE* open_for_reading(const std::string& path) { return std::fopen(path.c_str(), "rb"); }

namespace {

// Primitives for the shared functions at the end of this file.
bool seek_to(std::FILE* file, std::int64_t offset, int origin) { return fseeko(file, off_t(offset), origin) == 0; }

std::int64_t position_of(std::FILE* file) { return ftello(file); }

// nullptr when the file exists (errno EEXIST) or cannot be made.
std::FILE* create_exclusively(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) {
        close(fd);
        unlink(path.c_str());
    }
    return file;
}

int process_number() { return int(getpid()); }

}  // namespace

bool replace_file(const std::string& from, const std::string& to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

bool remove_file(const std::string& path) { return std::remove(path.c_str()) == 0; }

std::uint8_t* allocate_block(std::size_t size)
{
    constexpr std::size_t huge_page = std::size_t(2) << 20;
    if (size < huge_page)
        return static_cast<std::uint8_t*>(std::malloc(size ? size : 1));
    if (size > SIZE_MAX - huge_page)
        return nullptr;
    const std::size_t rounded = (size + huge_page - 1) / huge_page * huge_page;
    void* memory = std::aligned_alloc(huge_page, rounded);
#ifdef MADV_HUGEPAGE
    if (memory)
        madvise(memory, rounded, MADV_HUGEPAGE);  // advice only: without it, ordinary pages
#endif
    return static_cast<std::uint8_t*>(memory);
}

void release_block(std::uint8_t* memory) { std::free(memory); }

std::vector<std::string> program_arguments(int argc, char** argv)
{
    return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}

#endif

// Built on the functions above; the same on every platform.

bool seek_from_start(std::FILE* file, std::uint64_t offset)
{
    return offset <= std::uint64_t(INT64_MAX) && seek_to(file, std::int64_t(offset), SEEK_SET);
}

bool bytes_until_end(std::FILE* file, std::uint64_t& count)
{
    const std::int64_t position = position_of(file);
    if (position < 0 || !seek_to(file, 0, SEEK_END))
        return false;
    const std::int64_t end = position_of(file);
    if (end < 0 || !seek_to(file, position, SEEK_SET))
        return false;
    count = end > position ? std::uint64_t(end - position) : 0;
    return true;
}

std::FILE* create_temporary_beside(const std::string& target, std::string& temp_path)
{
    const std::string folder = folder_of(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp_path = folder + "pixmar-" + std::to_string(process_number()) + "-" +
                    std::to_string(temporary_counter++) + ".tmp";
        // Exclusive creation: two runs beside the same file never share a temporary file.
        if (std::FILE* file = create_exclusively(temp_path))
            return file;
        if (errno != EEXIST)
            return nullptr;
    }
    return nullptr;
}

bool read_whole_file(const std::string& path, std::string& text)
{
    std::FILE* in = path_kind(path) == PathKind::regular_file ? open_for_reading(path) : nullptr;
    if (!in)
        return false;
    std::uint64_t size = 0;
    bool read = bytes_until_end(in, size) && size <= SIZE_MAX;
    if (read) {
        text.resize(std::size_t(size));
        read = std::fread(text.data(), 1, text.size(), in) == text.size();
    }
    std::fclose(in);
    return read;
}

bool write_whole_file(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::string temp_path;
    std::FILE* out = create_temporary_beside(path, temp_path);
    if (!out)
        return false;
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    written = std::fclose(out) == 0 && written && replace_file(temp_path, path);
    if (!written)
        remove_file(temp_path);
    return written;
}

}  // namespace pixmar
