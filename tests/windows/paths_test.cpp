// Windows paths through the tool: drive letters, backslashes, and folder
// names with letters outside ASCII. Names are derived from the path as given.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <string>

#include "../test_support.h"

namespace {

using namespace pixmar_test;

std::string upper_ascii(std::string text)
{
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    return text;
}

TEST(WindowsPaths, ConvertBesideTheInputWithNamesFromThePath)
{
    ScratchFolder folder;
    std::filesystem::create_directories(folder / "pics");
    std::filesystem::create_directories(from_utf8(utf8(folder.path()) + "\\Bilder\\Gr\303\274\303\237e"));
    // The checkout's own path may hold dots: the macro prefix is cut at the
    // last one, the array prefix at the first, wherever it lies.
    const std::string absolute = utf8(folder.path()) + "\\Logo.bmp";
    const std::string absolute_array = absolute.substr(0, absolute.find('.'));

    struct PathCase {
        std::string path, macro_prefix, array_prefix;
    };
    const PathCase cases[] = {
        {absolute, upper_ascii(absolute.substr(0, absolute.size() - 4)), absolute_array},
        {"pics\\Logo.bmp", "PICS\\LOGO", "pics\\Logo"},
        {"Bilder\\Gr\303\274\303\237e\\logo.bmp", "BILDER\\GR\303\274\303\237E\\LOGO", "Bilder\\Gr\303\274\303\237e\\logo"},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.path);
        const std::filesystem::path input = c.path == absolute ? from_utf8(absolute) : folder.path() / from_utf8(c.path);
        write_file(input, make_bitmap(4, 2, [](auto x, auto) { return x < 2 ? kRed : kBlue; }));
        const RunResult run = folder.run({c.path});
        EXPECT_EQ(run.status, 0);
        // A backslash is no letter of a C name: each of these is warned of.
        EXPECT_EQ(run.out, kBanner + "Opening File: " + c.path + "\n" + info_lines(4, 2, 24) + "Output File: " + c.path +
                               ".h\nWarning: " + c.macro_prefix + "_WIDTH and " + c.array_prefix +
                               "_Bitmap are not C names: run pixmar in the bitmap's folder, on a file named with "
                               "letters, digits and underscores\nDone.\n");
        const std::string header = read_file(from_utf8(utf8(input) + ".h"));
        EXPECT_NE(header.find(" * File  : " + c.path + "\r\n"), std::string::npos);
        EXPECT_NE(header.find("#define " + c.macro_prefix + "_WIDTH   (4)\r\n"), std::string::npos);
        EXPECT_NE(header.find("const unsigned long " + c.array_prefix + "_Bitmap[2*4]={\r\n"), std::string::npos);
    }
}

}  // namespace
#endif
