// The page's side of the platform layer in WebAssembly (platform_web.cpp):
// files are named blocks of the module's memory, or the one file the page
// holds in its own. The programs read and write through platform.h as
// anywhere else, and the page takes what they wrote from memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace pixmar {

// Makes the file `name` hold `size` bytes, replacing any file of that name,
// and returns where they go, for the page to fill; nullptr when memory runs out.
std::uint8_t* make_web_file(const std::string& name, std::size_t size);

// Makes `bytes` the file `name`, replacing any file of that name.
void keep_web_file(const std::string& name, std::vector<std::uint8_t> bytes);

// The bytes of the file `name`, or nullptr when there is none; its size in `size`.
const std::uint8_t* web_file(const std::string& name, std::size_t& size);

// Names the file of `size` bytes that the page holds in its own memory, as
// Module.pageFile, and that is read from there.
void name_page_file(const std::string& name, std::uint64_t size);

// Removes every file, so that the next job starts clean whatever the last one left.
void remove_web_files();

// Storage the next file created for writing takes at once: the header's
// expected size, so that it is not copied as it grows.
void expect_web_output(std::size_t size);

}  // namespace pixmar
