// The conversion on generated bitmaps, comparing the exact bytes of what it
// prints, its status and the header: in this process where a call can tell,
// and through the built pixmar for its arguments and its files.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "test_support.h"
#include "word_line.h"

namespace {

using namespace pixmar_test;

// Worked by hand: pure red has Y 76, Cb 84, Cr 255; pure blue Y 29, Cb 255, Cr 107.
constexpr const char* kRedRed = "0x4C544CFF, ";
constexpr const char* kBlueRed = "0x1DA94CB5, ";
constexpr const char* kBlueBlue = "0x1DFF1D6B, ";

// 6 x 5, blue where x < y (y from the top), red elsewhere: shows the row
// order, the pairing, red/blue swaps and 2 fill bytes a row at once.
std::vector<std::uint8_t> staircase()
{
    return make_bitmap(6, 5, [](std::uint32_t x, std::uint32_t y) { return x < y ? kBlue : kRed; });
}

std::string staircase_header()
{
    return std::string("/*\r\n * File  : stairs.bmp\r\n * Width : 6\r\n * Height: 5\r\n*/\r\n") +
           "#define STAIRS_WIDTH   (6)\r\n#define STAIRS_HEIGHT  (5)\r\n#define STAIRS_SIZE   (30)\r\n\r\n" +
           "const unsigned long stairs_Bitmap[5*6]={\r\n" +
           kRedRed + kRedRed + kRedRed + "\r\n" +
           kBlueRed + kRedRed + kRedRed + "\r\n" +
           kBlueBlue + kRedRed + kRedRed + "\r\n" +
           kBlueBlue + kBlueRed + kRedRed + "\r\n" +
           kBlueBlue + kBlueBlue + kRedRed + "\r\n" +
           "};\r\n/* END OF FILE */\r\n";
}

std::string success_output(const std::string& path, const std::string& info)
{
    return kBanner + "Opening File: " + path + "\n" + info + "Output File: " + path + ".h\nDone.\n";
}

TEST(Convert, StaircaseGivesTheExactHeader)
{
    ScratchFolder folder;
    write_file(folder / "stairs.bmp", staircase());
    const RunResult run = folder.run({"stairs.bmp"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, success_output("stairs.bmp", info_lines(6, 5, 100)));
    EXPECT_EQ(read_file(folder / "stairs.bmp.h"), staircase_header());
}

TEST(Convert, TopDownBitmapGivesTheSameHeader)
{
    const InProcessRun run = convert_in_memory(make_top_down(staircase()), "stairs.bmp");
    EXPECT_EQ(run.status, 0);
    // The information line shows the raw field; everything written is positive.
    EXPECT_EQ(run.out, success_output("stairs.bmp", info_lines(6, -5, 100)));
    EXPECT_EQ(run.header, staircase_header());
}

TEST(Convert, AnExistingHeaderIsReplacedWhole)
{
    ScratchFolder folder;
    write_file(folder / "stairs.bmp", staircase());
    write_file(folder / "stairs.bmp.h", std::vector<std::uint8_t>(100000, 'x'));
    EXPECT_EQ(folder.run({"stairs.bmp"}).status, 0);
    EXPECT_EQ(read_file(folder / "stairs.bmp.h"), staircase_header());
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"stairs.bmp", "stairs.bmp.h"}));
}

// Lines hold at most 8 words; each row starts a new line.
TEST(Convert, WordLinesFollowTheWidth)
{
    struct LayoutCase {
        std::uint32_t width, height;
        std::vector<int> words_per_line;
    };
    const LayoutCase cases[] = {
        {2, 1, {1}}, {16, 2, {8, 8}}, {18, 2, {8, 1, 8, 1}}, {20, 1, {8, 2}}, {34, 1, {8, 8, 1}},
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height);
        const InProcessRun run = convert_in_memory(make_bitmap(c.width, c.height, [](auto, auto) { return kBlack; }));
        ASSERT_EQ(run.status, 0);
        const std::string& header = run.header;
        const std::size_t body = header.find("={\r\n") + 4;
        const std::size_t end = header.find("};\r\n");
        std::vector<int> counts;
        for (std::size_t line = body; line < end; line = header.find("\r\n", line) + 2) {
            const std::string text = header.substr(line, header.find("\r\n", line) - line);
            EXPECT_EQ(text.size() % 12, 0u) << text;
            counts.push_back(int(text.size() / 12));
        }
        EXPECT_EQ(counts, c.words_per_line);
    }
}

TEST(Convert, ZeroHeightGivesAnEmptyArray)
{
    const InProcessRun run = convert_in_memory(make_bitmap(4, 0, [](auto, auto) { return kBlack; }), "e.bmp");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, success_output("e.bmp", info_lines(4, 0, 0)));
    EXPECT_EQ(run.header,
              "/*\r\n * File  : e.bmp\r\n * Width : 4\r\n * Height: 0\r\n*/\r\n#define E_WIDTH   (4)\r\n"
              "#define E_HEIGHT  (0)\r\n#define E_SIZE   (0)\r\n\r\nconst unsigned long e_Bitmap[0*4]={\r\n"
              "};\r\n/* END OF FILE */\r\n");
}

TEST(Convert, MissingFillOfTheLastRowIsAccepted)
{
    auto bytes = staircase();
    bytes.resize(bytes.size() - 2);
    const InProcessRun run = convert_in_memory(bytes, "stairs.bmp");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.header, staircase_header());
}

TEST(Convert, PathsOfAnyLengthWork)
{
    ScratchFolder folder;
    const std::string deep = std::string(200, 'd') + "/" + std::string(200, 'e');
    std::filesystem::create_directories(folder / deep);
    const std::string path = deep + "/stairs.bmp";
    write_file(folder / path, staircase());
    const RunResult run = folder.run({path});
    EXPECT_EQ(run.status, 0);
    const std::string header = read_file(folder / (path + ".h"));
    EXPECT_NE(header.find("#define " + std::string(200, 'D') + "/" + std::string(200, 'E') + "/STAIRS_WIDTH   (6)"),
              std::string::npos);
    EXPECT_NE(header.find("const unsigned long " + deep + "/stairs_Bitmap[5*6]"), std::string::npos);
}

// Names that would not compile still give the header, and one line that
// says so right after the output's name.
TEST(Convert, NamesThatAreNoCNamesAreWarnedOf)
{
    struct WarningCase {
        const char* path;
        const char* warning;  // the macro and array prefixes it names, or none
    };
    const WarningCase cases[] = {
        {"my logo.bmp", "MY LOGO_WIDTH and my logo_Bitmap"},
        {"sub/logo.bmp", "SUB/LOGO_WIDTH and sub/logo_Bitmap"},
        {"./logo.bmp", "./LOGO_WIDTH and _Bitmap"},
        {"2nd.bmp", "2ND_WIDTH and 2nd_Bitmap"},
        {"/home/ann/logo.bmp", "/HOME/ANN/LOGO_WIDTH and /home/ann/logo_Bitmap"},
        {"my.logo.bmp", "MY.LOGO_WIDTH and my_Bitmap"},
        {"gr\xc3\xbc\xc3\x9f" "e.bmp", nullptr},
        {"_logo_2.bmp", nullptr},
    };
    for (const WarningCase& c : cases) {
        SCOPED_TRACE(c.path);
        const InProcessRun run = convert_in_memory(staircase(), c.path);
        const std::string warning = c.warning ? std::string("Warning: ") + c.warning +
                                                    " are not C names: run pixmar in the bitmap's folder, on a file "
                                                    "named with letters, digits and underscores\n"
                                              : "";
        EXPECT_EQ(run.out, kBanner + "Opening File: " + c.path + "\n" + info_lines(6, 5, 100) + "Output File: " +
                               c.path + ".h\n" + warning + "Done.\n");
        EXPECT_EQ(run.status, 0);
        EXPECT_NE(run.header.find(std::string(" * File  : ") + c.path + "\r\n"), std::string::npos);
    }
}

TEST(Convert, UsageNeedsOneOrTwoArguments)
{
    ScratchFolder folder;
    for (const auto& arguments : {std::vector<std::string>{}, std::vector<std::string>{"a", "b", "c"}}) {
        const RunResult run = folder.run(arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, kBanner + "Args:  <-MP> <filename>\n");
    }
}

// Only a lone --help or --version is an option; anything else is a path as
// before, and a file of that name converts when its path says ./ first.
TEST(Convert, HelpAndVersionAloneOpenNothing)
{
    ScratchFolder folder;
    write_file(folder / "--help", staircase());
    struct OptionCase {
        std::vector<std::string> arguments;
        std::string out_start;
        int status;
    };
    const OptionCase cases[] = {
        {{"--version"}, kBanner, 0},
        {{"--help"}, kBanner + "Usage: pixmar <filename>\n       pixmar -MP <filename>\n", 0},
        {{"-help"}, kBanner + "Opening File: -help\nCan't open: -help\n", 2},
        {{"--version", "--help"}, kBanner + "Magic Pink conversion is on.\nOpening File: --help\n", 0},
        {{"./--help"}, kBanner + "Opening File: ./--help\n", 0},
    };
    for (const OptionCase& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const RunResult run = folder.run(c.arguments);
        EXPECT_EQ(run.out.substr(0, c.out_start.size()), c.out_start);
        EXPECT_EQ(run.status, c.status);
    }
    const RunResult help = folder.run({"--help"});
    EXPECT_NE(help.out.find("man pixmar\n"), std::string::npos) << help.out;
    EXPECT_EQ(folder.run({"--version"}).out, kBanner);
}

TEST(Convert, TheLastOfTwoArgumentsIsThePath)
{
    ScratchFolder folder;
    write_file(folder / "stairs.bmp", staircase());
    // Any first argument turns the switch on; a lone "-MP" is a path.
    RunResult run = folder.run({"anything", "stairs.bmp"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out.substr(0, kBanner.size() + 29), kBanner + "Magic Pink conversion is on.\n");
    run = folder.run({"-MP"});
    EXPECT_EQ(run.out, kBanner + "Opening File: -MP\nCan't open: -MP\n");
    EXPECT_EQ(run.status, 2);
}

TEST(Convert, OutputThatCannotBeCreatedFailsWithStatus6)
{
    ScratchFolder folder;
    write_file(folder / "stairs.bmp", staircase());
    std::filesystem::create_directory(folder / "stairs.bmp.h");
    const RunResult run = folder.run({"stairs.bmp"});
    EXPECT_EQ(run.out, kBanner + "Opening File: stairs.bmp\n" + info_lines(6, 5, 100) +
                           "ERROR: error opening file: stairs.bmp.h\n");
    EXPECT_EQ(run.status, 6);
    EXPECT_TRUE(std::filesystem::is_directory(folder / "stairs.bmp.h"));
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"stairs.bmp", "stairs.bmp.h"}));
}

#ifndef _WIN32
// A line break in the path would split the header's comment and macro lines.
TEST(Convert, APathWithALineBreakIsRefusedBeforeAnyOutput)
{
    for (const std::string path : {"a\nb.bmp", "a\rb.bmp", "line\r\n.bmp"}) {
        SCOPED_TRACE(path);
        ScratchFolder folder;
        write_file(folder / path, staircase());
        const RunResult run = folder.run({"-MP", path});
        EXPECT_EQ(run.out, kBanner + "Magic Pink conversion is on.\nOpening File: " + path + "\n" +
                               info_lines(6, 5, 100) +
                               "ERROR: a header cannot be named after a path that holds a line break\n");
        EXPECT_EQ(run.status, 6);
        EXPECT_EQ(folder.names(), std::vector<std::string>{path});
    }
}
#endif

// A header of several output blocks is the scalar reference formatter's
// text, line for line, with the switch off and then on. 1024 x 1024 gives 6 MiB of full lines;
// at 1030 pixels every row ends in a line of three words, so blocks begin
// part-way through rows of uneven lines.
TEST(Convert, AHeaderOfManyBlocksIsTheReferenceText)
{
    for (const std::uint32_t width : {1024u, 1030u}) {
        const std::uint32_t height = width == 1024 ? 1024 : 600;
        SCOPED_TRACE(testing::Message() << width << " x " << height);
        std::uint32_t state = 12345;
        std::vector<Rgb> colors(std::size_t(width) * height);
        for (Rgb& c : colors) {
            state = state * 1103515245u + 12345u;
            // One pixel in eight magic pink, so the pair rule has work in every row.
            c = (state >> 29) == 0 ? kMagicPink : Rgb{std::uint8_t(state >> 8), std::uint8_t(state >> 16), std::uint8_t(state >> 24)};
        }
        const auto color = [&](std::uint32_t x, std::uint32_t y) { return colors[std::size_t(y) * width + x]; };
        const std::vector<std::uint8_t> bitmap = make_bitmap(width, height, color);
        const std::string w = std::to_string(width), h = std::to_string(height);
        for (const bool magic_pink : {false, true}) {
            SCOPED_TRACE(magic_pink ? "switch on" : "switch off");
            std::string expected = "/*\r\n * File  : big.bmp\r\n * Width : " + w + "\r\n * Height: " + h + "\r\n*/\r\n" +
                                   "#define BIG_WIDTH   (" + w + ")\r\n#define BIG_HEIGHT  (" + h + ")\r\n" +
                                   "#define BIG_SIZE   (" + std::to_string(width * height) + ")\r\n\r\n" +
                                   "const unsigned long big_Bitmap[" + h + "*" + w + "]={\r\n";
            char line[pixmar::kMaxWordLineBytes];
            for (std::uint32_t y = 0; y < height; ++y) {
                std::vector<std::uint8_t> row;
                for (std::uint32_t x = 0; x < width; ++x)
                    row.insert(row.end(), {color(x, y).b, color(x, y).g, color(x, y).r});
                for (std::uint32_t x = 0; x < width; x += 16) {
                    const std::uint32_t pairs = std::min(width - x, 16u) / 2;
                    expected.append(line, pixmar::format_word_line_scalar(row.data() + x * 3, pairs, magic_pink, line));
                }
            }
            expected += "};\r\n/* END OF FILE */\r\n";
            const InProcessRun run = convert_in_memory(bitmap, "big.bmp", magic_pink);
            ASSERT_EQ(run.status, 0) << run.out;
            const std::string& header = run.header;
            ASSERT_GT(header.size(), std::size_t(3) << 20);
            EXPECT_TRUE(header == expected) << "they differ from byte "
                                            << std::mismatch(header.begin(), header.end(), expected.begin(), expected.end()).first - header.begin();
        }
    }
}

}  // namespace
