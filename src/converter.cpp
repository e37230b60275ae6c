#include "converter.h"

#include <new>

#include "header_writer.h"
#include "message_text.h"

namespace pixmar {

namespace {

// The run after the banner: `load` fills the pixel buffer and prints what
// it checked, returning the status. Every allocation of the run, the pixel
// buffer's and the header's included, that cannot be had ends it here.
template <typename Load>
int run(const Conversion& conversion, HeaderSink& header, const MessageSink& messages, Load load)
{
    try {
        if (conversion.magic_pink)
            say(messages, "Magic Pink conversion is on.\n");
        say(messages, message("Opening File: %s\n", conversion.path));
        PixelBuffer pixels;
        const int status = load(pixels);
        if (status != kExitDone)
            return status;
        if (!write_header_file(conversion.path, pixels, conversion.magic_pink, header, messages))
            return kExitOutputFailed;
        say(messages, "Done.\n");
        return kExitDone;
    } catch (const std::bad_alloc&) {
        return report_no_memory(messages);
    }
}

}  // namespace

void print_banner(const MessageSink& messages)
{
    say(messages, "Pixmar Converter, Version " PIXMAR_VERSION ", (c) the Pixmar authors\n");
}

int convert_bitmap(const Conversion& conversion, BitmapSource& source, HeaderSink& header, const MessageSink& messages)
{
    return run(conversion, header, messages, [&](PixelBuffer& pixels) {
        return read_bitmap(conversion.path, source, messages, pixels);
    });
}

int convert_pixels(const Conversion& conversion, const BitmapRecords& records, PixelBuffer& pixels, HeaderSink& header,
                   const MessageSink& messages)
{
    return run(conversion, header, messages, [&](PixelBuffer& loaded) {
        loaded = std::move(pixels);
        return check_records(records, messages);
    });
}

int report_no_memory(const MessageSink& messages)
{
    say(messages, "ERROR: not enough memory for the image\n");
    return kExitBadPixelData;
}

}  // namespace pixmar
