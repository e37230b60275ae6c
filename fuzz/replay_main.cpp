// Runs the fuzz target over files and folders of inputs, for builds without
// libFuzzer: every compiler can replay the seed corpus or a reported crash.
//   convert_replay PATH...   (and preview_replay for the header reader)
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_target.h"
#include "platform.h"

namespace fs = std::filesystem;

int main(int argc, char** argv)
{
    LLVMFuzzerInitialize(&argc, &argv);
    std::vector<fs::path> inputs;
    // UTF-8 arguments on every platform: a corpus may lie under any folder name.
    for (const std::string& argument : pixmar::program_arguments(argc, argv)) {
        const fs::path path(std::u8string(argument.begin(), argument.end()));
        if (fs::is_directory(path)) {
            for (const auto& entry : fs::directory_iterator(path))
                inputs.push_back(entry.path());
        } else {
            inputs.push_back(path);
        }
    }
    for (const fs::path& path : inputs) {
        std::ifstream in(path, std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    }
    std::fprintf(stderr, "replayed %zu inputs\n", inputs.size());
    return inputs.empty() ? 1 : 0;
}
