// Reading headers back: every header pixmar writes, whatever the path it was
// given, and each problem of a damaged header reported exactly when it is there.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "header_reader.h"
#include "preview.h"
#include "test_support.h"

namespace {

using namespace pixmar_test;
namespace fs = std::filesystem;

// What pixmar writes for a 4 x 1 image with the given names.
std::string header_text(const std::string& macro, const std::string& array)
{
    return "/*\r\n * File  : x\r\n * Width : 4\r\n * Height: 1\r\n*/\r\n#define " + macro + "_WIDTH   (4)\r\n#define " +
           macro + "_HEIGHT  (1)\r\n#define " + macro + "_SIZE   (4)\r\n\r\nconst unsigned long " + array +
           "_Bitmap[1*4]={\r\n0x00800080, 0xFF80FF80, \r\n};\r\n/* END OF FILE */\r\n";
}

TEST(HeaderReader, EachProblemIsReportedExactlyWhenItIsThere)
{
    const std::string good = header_text("MY LOGO", "my logo");
    const std::string preamble = good.substr(0, good.find("const unsigned long"));
    struct ProblemCase {
        std::string name, text;
        pixmar::HeaderProblem problem;
        std::string detail;
    };
    using P = pixmar::HeaderProblem;
    const ProblemCase cases[] = {
        {"good", good, P::none, ""},
        {"LF line ends", "#define A_WIDTH   (2)\n#define A_HEIGHT  (1)\n#define A_SIZE   (2)\nconst unsigned long "
                         "a_Bitmap[1*2]={\n0x00800080, \n};\n", P::none, ""},
        {"empty", "", P::empty, "the file is empty"},
        {"no macros", "const unsigned long a_Bitmap[1*4]={\r\n};\r\n", P::bad_macros, "no _WIDTH macro"},
        {"two prefixes", std::string(good).replace(good.find("MY LOGO_SIZE"), 7, "OTHER"),
         P::bad_macros, "line 8: the macros name two images: \"MY LOGO\" and \"OTHER\""},
        {"repeated", preamble + "#define MY LOGO_HEIGHT  (1)\r\n", P::bad_macros, "line 10: a second _HEIGHT macro"},
        {"unreadable", "#define A_WIDTH   (4x)\r\n", P::bad_macros, "line 1: unreadable macro: #define A_WIDTH   (4x)"},
        {"disagree", "#define A_WIDTH   (4)\n#define A_HEIGHT  (2)\n#define A_SIZE   (4)\n", P::bad_macros,
         "the macros disagree: width 4, height 2, size 4"},
        {"no array line", preamble, P::no_array_line,
         "no array line (const unsigned long ..._Bitmap[...]={) in its 9 lines"},
        {"stray ]={ last line", preamble + "int stray[2]={", P::no_array_line,
         "no array line (const unsigned long ..._Bitmap[...]={) in its 10 lines"},
        {"stray ]={ with text after", preamble + "int stray[2]={ 1, 2 };", P::no_array_line,
         "no array line (const unsigned long ..._Bitmap[...]={) in its 10 lines"},
        {"array line last", preamble + "const unsigned long a_Bitmap[1*4]={", P::array_not_closed,
         "line 10: the array is not closed with \"};\""},
        {"not closed", good.substr(0, good.find("};")), P::array_not_closed,
         "line 10: the array is not closed with \"};\""},
        {"malformed word", preamble + "const unsigned long a_Bitmap[1*4]={\r\n0x00800080, 0x0080080, \r\n};\r\n",
         P::malformed_word, "line 11: malformed word \"0x0080080,\""},
        {"too many words", preamble + "const unsigned long a_Bitmap[1*4]={\r\n0x00800080, 0x00800080, 0x00800080, \r\n};\r\n",
         P::wrong_word_count, "line 12: 3 words, but 4 x 1 pixels need 2"},
    };
    for (const ProblemCase& c : cases) {
        SCOPED_TRACE(c.name);
        pixmar::ParsedHeader header;
        std::string detail;
        EXPECT_EQ(pixmar::parse_header(c.text, header, detail), c.problem);
        EXPECT_EQ(detail, c.detail);
    }
}

// Converted by pixmar, read back by pixmar-preview: the preview has the
// picture's size and holds exactly the decoded words.
TEST(HeaderReader, EveryPathPixmarTakesPreviews)
{
    const std::vector<std::string> paths = {
        "my logo.bmp", "sub dir/x.bmp", "a.b.c.bmp", "./dot.bmp", "../up.bmp", "Gr\303\274\303\237e/logo.bmp",
        "2nd-logo (1).bmp", "back\\slash.bmp", "noext",
    };
    // Every run starts in "sub", so "../up.bmp" stays inside the scratch folder.
    ScratchFolder folder;
    const auto color = [](std::uint32_t x, std::uint32_t y) {
        return Rgb{std::uint8_t(x * 40), std::uint8_t(y * 90), std::uint8_t(255 - x * 20)};
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path);
        const fs::path input = folder.path() / "sub" / from_utf8(path);
        fs::create_directories(input.parent_path());
        write_file(input, make_bitmap(6, 3, color));
        const RunResult converted = folder.run_program(PIXMAR_EXE, {path}, "", "sub");
        ASSERT_EQ(converted.status, 0) << converted.out;
        const RunResult previewed = folder.run_program(PIXMAR_PREVIEW_EXE, {path + ".h"}, "", "sub");
        ASSERT_EQ(previewed.status, 0) << previewed.out;

        pixmar::ParsedHeader header;
        std::string detail;
        ASSERT_EQ(pixmar::parse_header(read_file(from_utf8(utf8(input) + ".h")), header, detail),
                  pixmar::HeaderProblem::none);
        const std::string bitmap = read_file(from_utf8(utf8(input) + ".h.preview.bmp"));
        ASSERT_EQ(bitmap.size(), 54u + 3 * 20);
        for (std::uint32_t i = 0; i < header.words.size(); ++i) {
            std::uint8_t left[3], right[3];
            pixmar::decode_pixel_pair(header.words[i], left, right);
            EXPECT_EQ(pixel_of_bitmap(bitmap, i % 3 * 2, i / 3), (Rgb{left[2], left[1], left[0]})) << i;
            EXPECT_EQ(pixel_of_bitmap(bitmap, i % 3 * 2 + 1, i / 3), (Rgb{right[2], right[1], right[0]})) << i;
        }
    }
}

}  // namespace
