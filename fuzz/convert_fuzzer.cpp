// Fuzz target: the whole conversion as the tool runs it. The first byte picks
// the Magic Pink switch, the rest is the bitmap file. Besides the sanitizers'
// checks it holds the tool to its promise about files: a run that succeeds
// leaves exactly the input and its header; any other run leaves only the
// input, with no header and no temporary file.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "converter.h"
#include "fuzz_target.h"
#include "platform.h"

namespace fs = std::filesystem;

namespace {

fs::path scratch_folder()
{
    static const fs::path folder = [] {
        const char* base = std::getenv("TMPDIR");
        // One folder a process: fuzzing jobs and replays may run side by side.
        fs::path path = fs::path(base ? base : "/tmp") / ("pixmar-fuzz-" + std::to_string(pixmar::process_number()));
        // Memory-backed where the system has such a folder: fuzzing writes a lot.
        if (fs::exists("/dev/shm"))
            path = fs::path("/dev/shm") / path.filename();
        fs::remove_all(path);
        fs::create_directories(path);
        return path;
    }();
    return folder;
}

void remove_scratch_folder()
{
    std::error_code ignored;
    fs::remove_all(scratch_folder(), ignored);
}

std::size_t entries(const fs::path& folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(folder))
        ++count;
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // The tool's messages are not what is being tested; keep the log readable.
    if (!std::freopen(pixmar::null_device(), "w", stdout))
        std::abort();
    scratch_folder();  // made before the handler is registered, so destroyed after it runs
    std::atexit(remove_scratch_folder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const fs::path folder = scratch_folder();
    const fs::path input = folder / "in.bmp";
    const fs::path header = folder / "in.bmp.h";
    {
        std::ofstream out(input, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data + 1), std::streamsize(size - 1));
    }
    std::vector<std::string> arguments;
    if (data[0] & 1)
        arguments.push_back("-MP");
    arguments.push_back(input.string());

    const int status = pixmar::run_converter(arguments);
    const bool has_header = fs::exists(header);
    if ((status == 0) != has_header || entries(folder) != (has_header ? 2u : 1u)) {
        std::fprintf(stderr, "status %d left %zu files (header: %d)\n", status, entries(folder), int(has_header));
        std::abort();
    }
    fs::remove(header);
    return 0;
}
