// The platform layer in WebAssembly, for the page (the build picks this file
// when it compiles with emscripten): files are named blocks of the module's
// memory (platform_web.h), or one file that stays in the page's own memory,
// opened as standard streams through fopencookie, so that the converter reads
// the page's bytes and writes its header where the page takes it, with no
// file system in between. There are no users, signals or disks here: what
// guards a file elsewhere has nothing to do.
#include "platform.h"
#include "platform_web.h"

#include <emscripten/emscripten.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>

namespace pixmar {

namespace {

std::map<std::string, std::vector<std::uint8_t>> files;

// The file whose bytes stay in the page's own memory (Module.pageFile), read
// from there as the converter asks for them: a bitmap of many megabytes is
// then never copied whole into the module first.
std::string page_file_name;
std::uint64_t page_file_size = 0;

EM_JS(void, copy_from_page_file, (double offset, char* to, double count), {
    HEAPU8.set(Module.pageFile.subarray(offset, offset + count), to);
});

// An open stream's file (the page's file when `bytes` is null) and position.
struct OpenFile {
    std::vector<std::uint8_t>* bytes;
    std::uint64_t position = 0;

    std::uint64_t size() const { return bytes ? bytes->size() : page_file_size; }
};

// The file being written.
std::vector<std::uint8_t> new_file_bytes;
std::size_t expected_output = 0;

// Tells the page how many bytes of the header have been written.
EM_JS(void, report_written, (double bytes), {
    if (Module.onWritten)
        Module.onWritten(bytes);
});

ssize_t read_open_file(void* cookie, char* buffer, std::size_t size)
{
    OpenFile& file = *static_cast<OpenFile*>(cookie);
    if (file.position >= file.size())
        return 0;
    const std::size_t count = std::size_t(std::min<std::uint64_t>(size, file.size() - file.position));
    if (file.bytes)
        std::memcpy(buffer, file.bytes->data() + file.position, count);
    else
        copy_from_page_file(double(file.position), buffer, double(count));
    file.position += count;
    return ssize_t(count);
}

// Memory running out while the header grows ends the run as any other
// allocation does: the converter reports it, and the new file is dropped.
ssize_t write_open_file(void* cookie, const char* buffer, std::size_t size)
{
    OpenFile& file = *static_cast<OpenFile*>(cookie);
    file.bytes->insert(file.bytes->end(), buffer, buffer + size);
    file.position = file.bytes->size();
    if (size > 4096)
        report_written(double(file.position));
    return ssize_t(size);
}

int seek_open_file(void* cookie, off_t* offset, int whence)
{
    OpenFile& file = *static_cast<OpenFile*>(cookie);
    const std::int64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? std::int64_t(file.position)
                                                                          : std::int64_t(file.size());
    if (base + *offset < 0)
        return -1;
    file.position = std::uint64_t(base + *offset);
    *offset = off_t(file.position);
    return 0;
}

int close_open_file(void* cookie)
{
    delete static_cast<OpenFile*>(cookie);
    return 0;
}

std::FILE* open_stream(std::vector<std::uint8_t>* bytes, const char* mode)
{
    auto cookie = std::make_unique<OpenFile>(OpenFile{bytes});
    std::FILE* stream = fopencookie(cookie.get(), mode, {read_open_file, write_open_file, seek_open_file, close_open_file});
    if (stream)
        cookie.release();
    return stream;
}

}  // namespace

std::uint8_t* make_web_file(const std::string& name, std::size_t size)
{
    try {
        std::vector<std::uint8_t>& bytes = files[name];
        bytes.clear();
        bytes.shrink_to_fit();
        bytes.resize(size);
        return bytes.data();
    } catch (const std::bad_alloc&) {
        files.erase(name);
        return nullptr;
    }
}

void keep_web_file(const std::string& name, std::vector<std::uint8_t> bytes) { files[name] = std::move(bytes); }

const std::uint8_t* web_file(const std::string& name, std::size_t& size)
{
    const auto found = files.find(name);
    if (found == files.end())
        return nullptr;
    size = found->second.size();
    return found->second.data();
}

void name_page_file(const std::string& name, std::uint64_t size)
{
    page_file_name = name;
    page_file_size = size;
}

void remove_web_files()
{
    files.clear();
    page_file_name.clear();
    new_file_bytes = std::vector<std::uint8_t>();
    expected_output = 0;
}

void expect_web_output(std::size_t size) { expected_output = size; }

void prepare_process() {}

const char* null_device() { return "/dev/null"; }

PathKind path_kind(const std::string& path)
{
    return files.count(path) || (!page_file_name.empty() && path == page_file_name) ? PathKind::other : PathKind::nothing;
}

std::FILE* open_regular_file(const std::string& path)
{
    if (!page_file_name.empty() && path == page_file_name)
        return open_stream(nullptr, "rb");
    const auto found = files.find(path);
    return found == files.end() ? nullptr : open_stream(&found->second, "rb");
}

bool seek_from_start(std::FILE* file, std::uint64_t offset)
{
    return offset <= std::uint64_t(INT64_MAX) && fseeko(file, off_t(offset), SEEK_SET) == 0;
}

bool bytes_until_end(std::FILE* file, std::uint64_t& count)
{
    const off_t position = ftello(file);
    if (position < 0 || fseeko(file, 0, SEEK_END) != 0)
        return false;
    const off_t end = ftello(file);
    count = end > position ? std::uint64_t(end - position) : 0;
    return fseeko(file, position, SEEK_SET) == 0;
}

bool open_place(const std::string& target, Place& place)
{
    place.folder_path = folder_of(target);
    place.name = target.substr(place.folder_path.size());
    return true;
}

void close_place(Place&) {}

bool is_append_only(const Place&) { return false; }

// The header's storage is taken whole at once, so that it is never copied as
// it grows; when it cannot be had, the run ends with the memory message.
// Nothing here is made without a name.
std::FILE* create_file(const Place&, const char* name)
{
    if (!name) {
        errno = EOPNOTSUPP;
        return nullptr;
    }
    new_file_bytes = std::vector<std::uint8_t>();
    new_file_bytes.reserve(expected_output);
    expected_output = 0;
    return open_stream(&new_file_bytes, "wb");
}

bool link_file(const Place&, std::FILE*, const char*) { return false; }

// The one file being written takes its name; no other file is ever renamed.
bool rename_file(const Place& place, const char*, const char* to)
{
    files[place.folder_path + to] = std::move(new_file_bytes);
    new_file_bytes = std::vector<std::uint8_t>();
    return true;
}

void remove_file(const Place&, const char*) { new_file_bytes = std::vector<std::uint8_t>(); }

void hold_ending_signals() {}
void release_ending_signals() {}
void guard_name(const Place&, const char*) {}
void unguard_name() {}
void remove_guarded_name() {}

bool open_older_file(const Place&, const std::string&, OlderFile&) { return true; }
void close_older_file(OlderFile&) {}
bool set_owner(std::FILE*, long, long) { return false; }
bool set_mode(std::FILE*, unsigned) { return true; }
unsigned creation_mask() { return 0; }
bool copy_access_acl(const OlderFile&, std::FILE*, bool) { return true; }
bool copy_user_attributes(const OlderFile&, std::FILE*) { return true; }
bool give_default_acl(const Place&, std::FILE*) { return false; }

void start_writing_out(std::FILE*, std::uint64_t, std::uint64_t) {}

bool is_write_protected(const std::string&) { return false; }

int process_number() { return 1; }

void* allocate_aligned(std::size_t size, std::size_t alignment) { return std::aligned_alloc(alignment, size); }

void release_aligned(void* memory) { std::free(memory); }

void advise_huge_pages(void*, std::size_t) {}

std::string folder_of(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::vector<std::string> program_arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

}  // namespace pixmar
