// Writing a file whole or not at all: the one way every program of the
// project writes its output (headers, previews, generated bitmaps).
//
// The text goes to a new file in the target's folder (output_file.cpp):
// without a name where Linux allows it, else an exclusively created
// temporary file named pixmar-<process number>-<n>.tmp. Only when
// every write and the close have succeeded does it take the target's name in
// one step, with the older target's owner, permission bits and ACL (until
// then only its owner may read it); on any failure, and on an interruption,
// it is removed. The target therefore holds either its older content or the
// complete new one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace pixmar {

// A file being written. One that is opened but never finished (an early
// return, say) removes its temporary file when it goes out of scope, as
// finish_output(output, false) would.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

private:
    friend bool open_output(const std::string& target, OutputFile& output);
    friend bool write_output(OutputFile& output, const char* bytes, std::size_t size);
    friend bool finish_output(OutputFile& output, bool complete);

    std::FILE* stream_ = nullptr;  // unbuffered; open between open_output and finish_output
    bool replaces_older_ = false;  // the target existed as open_output found it
    std::uint64_t written_ = 0;    // bytes written so far
};

// Creates the new file for `target`. False when it cannot be created (a
// folder at the target's name, a name too long for its folder or for the
// system, a folder that cannot be written, a target the running user may
// not write).
bool open_output(const std::string& target, OutputFile& output);

// Appends `size` bytes; false when the write failed. When the file will
// replace an older one, the bytes are handed to the disk at once, without
// waiting for it (see start_writing_out): the rename that replaces a file
// writes the new one out, and this way that work overlaps the writing
// instead of following it. A first file gains nothing from it and is left to
// the system's own write-back.
bool write_output(OutputFile& output, const char* bytes, std::size_t size);

// Closes the stream and, when `complete` is true and the close succeeds,
// moves the new file over the target. Returns true when the target now
// holds the new content; otherwise the new file is gone.
bool finish_output(OutputFile& output, bool complete);

// The same for a file whose content is all in memory.
bool write_whole_file(const std::string& path, const std::uint8_t* bytes, std::size_t size);
bool write_whole_file(const std::string& path, const std::vector<std::uint8_t>& bytes);

// Removes the new file's name, if it has one, for a run that ends without
// unwinding (std::terminate). Async-signal-safe on POSIX.
void remove_unfinished_output();

}  // namespace pixmar
