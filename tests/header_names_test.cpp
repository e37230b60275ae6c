#include <gtest/gtest.h>

#include "header_writer.h"

namespace {

struct NamesCase {
    const char* path;
    const char* output_file;
    const char* macro_prefix;
    const char* array_prefix;
};

TEST(DerivedNames, ComeFromTheWholePath)
{
    const NamesCase cases[] = {
        {"logo.bmp", "logo.bmp.h", "LOGO", "logo"},
        {"./logo.bmp", "./logo.bmp.h", "./LOGO", ""},
        {"my.logo.bmp", "my.logo.bmp.h", "MY.LOGO", "my"},
        {"C:\\pics\\Logo.bmp", "C:\\pics\\Logo.bmp.h", "C:\\PICS\\LOGO", "C:\\pics\\Logo"},
        {"pics.old/My.Logo.bmp", "pics.old/My.Logo.bmp.h", "PICS.OLD/MY.LOGO", "pics"},
        {"logo", "logo.h", "LOGO", "logo"},
        {"x_9-z.BMP", "x_9-z.BMP.h", "X_9-Z", "x_9-z"},
        // Bytes of non-ASCII letters (UTF-8 "ü") are not upper-cased.
        {"gr\xc3\xbc\xc3\x9f" "e.bmp", "gr\xc3\xbc\xc3\x9f" "e.bmp.h", "GR\xc3\xbc\xc3\x9f" "E", "gr\xc3\xbc\xc3\x9f" "e"},
    };
    for (const NamesCase& c : cases) {
        SCOPED_TRACE(c.path);
        const pixmar::DerivedNames names = pixmar::derive_names(c.path);
        EXPECT_EQ(names.output_file, c.output_file);
        EXPECT_EQ(names.macro_prefix, c.macro_prefix);
        EXPECT_EQ(names.array_prefix, c.array_prefix);
    }
}

TEST(DerivedNames, LongPathsAreNeverCut)
{
    const std::string path = std::string(300, 'a') + "/" + std::string(250, 'b') + ".bmp";
    const pixmar::DerivedNames names = pixmar::derive_names(path);
    EXPECT_EQ(names.output_file, path + ".h");
    EXPECT_EQ(names.macro_prefix, std::string(300, 'A') + "/" + std::string(250, 'B'));
    EXPECT_EQ(names.array_prefix, path.substr(0, path.size() - 4));
}

}  // namespace
