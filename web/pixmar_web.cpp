// The page's way into the converter and the preview, compiled to
// WebAssembly: one entry a job, called by the worker. The file the page was
// given stays in the worker as Module.pageFile and is read from there as the
// converter asks for its bytes; message lines, notes and the header's blocks
// go to the worker's Module.on... functions as they are made.
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "browser_image.h"
#include "converter.h"
#include "header_reader.h"
#include "header_writer.h"
#include "image_bitmap.h"
#include "key_report.h"
#include "preview.h"

namespace {

using namespace pixmar;

EM_JS(double, page_file_size, (), { return Module.pageFile.size; });

// Reads the page file's bytes from `offset` into `to`; returns how many came.
// A file that can no longer be read (changed or removed since it was
// chosen) gives none, and the worker is told why.
// Each read of a File is a round trip to the browser, which costs about a
// millisecond, and a job reads the file's first bytes several times (its
// kind, its records, a batch's key counts): those within the first
// `head_size` bytes come from one read of them, kept until the worker names
// another file or none (Module.pageFile), which it does after each job.
EM_JS(double, read_page_file, (double offset, std::uint8_t* to, double size, double head_size), {
    const file = Module.pageFile;
    const end = Math.min(offset + size, file.size);
    if (end <= offset)
        return 0;
    try {
        if (end <= head_size) {
            if (Module.pageHeadOf !== file) {
                Module.pageHead = new Uint8Array(new FileReaderSync().readAsArrayBuffer(file.slice(0, Math.min(file.size, head_size))));
                Module.pageHeadOf = file;
            }
            const bytes = Module.pageHead.subarray(offset, end);
            HEAPU8.set(bytes, to);
            return bytes.length;
        }
        const bytes = new Uint8Array(new FileReaderSync().readAsArrayBuffer(file.slice(offset, end)));
        HEAPU8.set(bytes, to);
        return bytes.length;
    } catch (error) {
        Module.onReadFailed(error.name);
        return 0;
    }
});

EM_JS(void, print_line, (const char* line, double size), { Module.onLine(UTF8ToString(line, size)); });
EM_JS(void, print_note, (const char* note), { Module.onNote(UTF8ToString(note)); });
EM_JS(void, refuse, (const char* reason, double width, double height), { Module.onRefused(UTF8ToString(reason), width, height); });
EM_JS(int, create_header, (double size), { return Module.onHeaderCreate(size) ? 1 : 0; });
EM_JS(void, write_header, (const char* text, double size), { Module.onHeaderBlock(HEAPU8.subarray(text, text + size)); });
EM_JS(void, finish_header, (int complete), { Module.onHeaderFinish(complete !== 0); });
EM_JS(void, show_pictures, (const std::uint8_t* original, const std::uint8_t* decoded, double width, double height), {
    Module.onPictures(original, decoded, width, height);
});

EM_JS(void, show_key, (const char* line, const std::uint8_t* map, const char* list, double width, double height), {
    Module.onKey(UTF8ToString(line), map, UTF8ToString(list), width, height);
});

// The page file as the converter's source.
std::uint64_t position = 0;

// The page file's first bytes, read once a job: enough for every record the
// converter reads, a small bitmap whole, and most images' sizes.
constexpr std::size_t kPageFileHead = 65536;

bool open_page_file(void*, const std::string&)
{
    position = 0;
    return true;
}

std::int64_t read_from_page_file(void*, std::uint8_t* to, std::size_t size)
{
    const double got = read_page_file(double(position), to, double(size), double(kPageFileHead));
    position += std::uint64_t(got);
    return std::int64_t(got);
}

bool seek_page_file(void*, std::uint64_t offset, std::uint64_t& available)
{
    position = offset;
    const std::uint64_t size = std::uint64_t(page_file_size());
    available = position < size ? size - position : 0;
    return true;
}

void close_page_file(void*) {}

BitmapSource page_file{nullptr, open_page_file, read_from_page_file, seek_page_file, close_page_file};

void print(void*, std::string_view line) { print_line(line.data(), double(line.size())); }
const MessageSink page_messages{nullptr, print};

bool create(void*, const std::string&, std::uint64_t size) { return create_header(double(size)) != 0; }
bool write(void*, const char* text, std::size_t size)
{
    write_header(text, double(size));
    return true;
}
bool finish(void*, bool complete)
{
    finish_header(complete);
    return complete;
}
HeaderSink page_header{nullptr, create, write, finish};

// The most the page holds: the worker keeps a header of less than 2 GiB, and
// the module's 4 GiB hold the image's file, its decoded rows, its pixels and
// the preview's pictures, about 12 bytes a pixel, with room to spare.
bool fits_page(const std::string& path, std::uint32_t width, std::uint32_t height)
{
    return header_size(path, width, height) < (std::uint64_t(1) << 31) &&
           std::uint64_t(width) * height * 12 <= std::uint64_t(7) << 29;
}

// How much of a JPEG or WebP is read for its size: enough for the EXIF
// block and a colour profile before its frame header.
constexpr std::size_t kBrowserImageHead = std::size_t(1) << 18;

// The page file's first `size` bytes, or fewer when it is shorter.
std::vector<std::uint8_t> page_file_head(std::size_t size)
{
    std::vector<std::uint8_t> head(std::min<std::size_t>(size, std::size_t(page_file_size())));
    position = 0;
    head.resize(std::size_t(read_from_page_file(nullptr, head.data(), head.size())));
    return head;
}

// What a converted image keeps for its preview: its pixels before the
// Magic Pink rule changed them.
PixelBuffer kept_original;

// The preview's two pictures, kept until the next job so that the worker can
// make bitmaps of them straight from the module's memory.
std::vector<std::uint8_t> shown_original, shown_decoded;

// A picture as a canvas takes it: RGBA, top row first.
std::vector<std::uint8_t> rgba_rows(const PixelBuffer& picture)
{
    std::vector<std::uint8_t> rgba(std::size_t(picture.width) * picture.height * 4);
    std::uint8_t* out = rgba.data();
    for (std::uint32_t row = picture.height; row-- > 0;) {
        const std::uint8_t* in = picture.bytes.get() + std::size_t(row) * picture.width * 3;
        for (std::uint32_t column = 0; column < picture.width; ++column, in += 3, out += 4)
            out[0] = in[2], out[1] = in[1], out[2] = in[0], out[3] = 255;
    }
    return rgba;
}

// The Magic Pink key of the last preview: its line, its map (RGBA) and its
// list of half-pink pairs and near-pink pixels, kept as the pictures are.
std::string shown_key_line, shown_key_list;
std::vector<std::uint8_t> shown_key_map;

// Reports the key of `original` against the header's words to Module.onKey.
void show_key_report(const PixelBuffer& original, const std::vector<std::uint32_t>& words)
{
    KeyCounts counts;
    KeyMap map;
    if (!report_key(original, words, counts, &map))
        return;
    shown_key_line = key_line(counts);
    shown_key_list = key_list(original);
    shown_key_map = key_map_rgba(map);
    show_key(shown_key_line.c_str(), shown_key_map.data(), shown_key_list.c_str(), map.width, map.height);
}

PixelBuffer copy_of(const PixelBuffer& pixels)
{
    PixelBuffer copy;
    copy.width = pixels.width, copy.height = pixels.height;
    const std::uint64_t size = std::uint64_t(pixels.width) * pixels.height * 3;
    copy.bytes = allocate_memory_block(size);
    std::memcpy(copy.bytes.get(), pixels.bytes.get(), std::size_t(size));
    return copy;
}

// Makes the image's pixels and converts them; false after refusing it.
int convert_decoded(const Conversion& conversion, const std::uint8_t* rgba, std::uint32_t width, std::uint32_t height,
                    const ImageOptions& options, bool keep)
{
    std::string notes;
    PixelBuffer pixels = pixels_of_rgba(rgba, width, height, options, notes);
    for (std::size_t start = 0, end; (end = notes.find('\n', start)) != std::string::npos; start = end + 1)
        print_note(notes.substr(start, end - start).c_str());
    if (keep)
        kept_original = copy_of(pixels);
    return convert_pixels(conversion, records_of_bitmap(pixels.width, pixels.height), pixels, page_header,
                          page_messages);
}

}  // namespace

extern "C" {

// What the page file's first bytes say it is: "PNG", "GIF", "JPEG", "WebP",
// or "BMP" for a bitmap to decode; "" for a file the converter takes as it
// is: a 24-bit BMP (unless `as_image`), or no image kind the page knows.
EMSCRIPTEN_KEEPALIVE const char* pixmar_image_kind(int as_image)
{
    const std::vector<std::uint8_t> head = page_file_head(kFileHeaderSize + kInfoHeaderSize);
    const auto starts = [&](const char* text, std::size_t at = 0) {
        const std::size_t length = std::strlen(text);
        return head.size() >= at + length && std::memcmp(head.data() + at, text, length) == 0;
    };
    if (starts("\x89PNG"))
        return "PNG";
    if (starts("GIF8"))
        return "GIF";
    if (starts("\xFF\xD8\xFF"))
        return "JPEG";
    if (starts("RIFF") && starts("WEBP", 8))
        return "WebP";
    if (starts("BM") && (as_image || head.size() < kFileHeaderSize + kInfoHeaderSize ||
                         decode_info_header(head.data() + kFileHeaderSize).biBitCount != 24))
        return "BMP";
    return "";
}

// Converts the page file as `pixmar name` (or `pixmar -MP name`) does.
// Returns the exit status.
EMSCRIPTEN_KEEPALIVE int pixmar_convert_file(const char* name, int magic_pink)
{
    kept_original = PixelBuffer();
    print_banner(page_messages);
    return convert_bitmap({name, magic_pink != 0}, page_file, page_header, page_messages);
}

// True when the decoder reads the page file's size: a bitmap the converter
// refuses can then be converted as an image.
EMSCRIPTEN_KEEPALIVE int pixmar_can_decode()
{
    const std::vector<std::uint8_t> head = page_file_head(4096);
    std::uint32_t width = 0, height = 0;
    return image_size(head.data(), head.size(), width, height) &&
           bitmap_problem(head.data(), head.size(), std::uint64_t(page_file_size())) == ImageResult::made;
}

// True when a `width` x `height` image converted under `name` fits the page.
EMSCRIPTEN_KEEPALIVE int pixmar_fits(const char* name, double width, double height)
{
    return width >= 0 && height >= 0 && width < 4294967296.0 && height < 4294967296.0 &&
           fits_page(name, std::uint32_t(width), std::uint32_t(height));
}

// Converts an image as `pixmar name` would convert the 24-bit bitmap the
// README's recipe makes of it: the page file's PNG, GIF or BMP decoded here,
// or, when `width` is above 0, the RGBA rows at `rgba` that the browser
// decoded (the module's memory, released here). Each thing done to the
// picture is a note. With `keep`, its pixels stay for the preview or a
// batch's key counts. Returns the exit status, or -1 after refusing the
// image (Module.onRefused).
EMSCRIPTEN_KEEPALIVE int pixmar_convert_image(const char* name, int magic_pink, int transparent_pink, int crop,
                                              std::uint8_t* rgba, int width, int height, int keep)
{
    kept_original = PixelBuffer();
    const Conversion conversion{name, magic_pink != 0};
    ImageOptions options;
    options.transparent_pink = transparent_pink != 0;
    options.crop = crop != 0;
    try {
        if (width > 0) {
            struct Release {
                std::uint8_t* rgba;
                ~Release() { std::free(rgba); }
            } release{rgba};
            print_banner(page_messages);
            return convert_decoded(conversion, rgba, std::uint32_t(width), std::uint32_t(height), options, keep != 0);
        }
        std::vector<std::uint8_t> file(static_cast<std::size_t>(page_file_size()));
        position = 0;
        file.resize(std::size_t(read_from_page_file(nullptr, file.data(), file.size())));
        std::uint32_t wide = 0, high = 0;
        if (is_sixteen_bit_png(file.data(), file.size()))
            return refuse("sixteen bits", 0, 0), -1;
        const ImageResult problem = bitmap_problem(file.data(), file.size(), file.size());
        if (problem != ImageResult::made)
            return refuse(problem == ImageResult::os2_bitmap ? "OS/2 bitmap" : "undecodable", 0, 0), -1;
        if (!image_size(file.data(), file.size(), wide, high))
            return refuse("undecodable", 0, 0), -1;
        // The decoder keeps an image's rows in buffers of at most 1 GiB, 4 bytes a pixel.
        if (!fits_page(name, wide, high) || std::uint64_t(wide) * high * 4 > (std::uint64_t(1) << 30))
            return refuse("too large", wide, high), -1;
        DecodedImage decoded;
        const ImageResult result = decode_image(file.data(), file.size(), decoded);
        file = std::vector<std::uint8_t>();
        // A valid image whose decoding runs out of memory is one too large for the page.
        if (result == ImageResult::no_memory)
            return refuse("too large", wide, high), -1;
        if (result != ImageResult::made)
            return refuse(result == ImageResult::os2_bitmap ? "OS/2 bitmap" : "undecodable", 0, 0), -1;
        print_banner(page_messages);
        if (decoded.sixteen_bit_bitmap)
            print_note("16 bits a pixel widened to 24 as ImageMagick widens them");
        options.opaque = decoded.opaque;
        options.transparent_black = decoded.transparent_black;
        return convert_decoded(conversion, decoded.rgba.get(), decoded.width, decoded.height, options, keep != 0);
    } catch (const std::bad_alloc&) {
        return refuse("no memory", 0, 0), -1;
    }
}

// Decodes the header at `text` (`size` bytes, the module's memory, released
// here) as the target will show it, beside the original: the converted
// image's kept pixels, or else the page file read again. Hands both pictures
// to Module.onPictures and returns the PSNR line; "" when any of it cannot
// be read or memory runs out.
EMSCRIPTEN_KEEPALIVE const char* pixmar_preview(char* text, double size)
{
    static std::string line;
    line.clear();
    shown_original = shown_decoded = shown_key_map = std::vector<std::uint8_t>();
    try {
        ParsedHeader parsed;
        {
            std::string header(text, std::size_t(size));
            std::free(text);
            text = nullptr;
            std::string detail;
            if (parse_header(header, parsed, detail) != HeaderProblem::none)
                return "";
        }
        PixelBuffer decoded, original = std::move(kept_original);
        if (!decode_picture(parsed, decoded))
            return refuse("no memory", 0, 0), "";
        if (!original.bytes && read_bitmap("", page_file, kNoMessages, original) != kExitDone)
            return "";
        line = psnr_line(measure_psnr(original, decoded));
        show_key_report(original, parsed.words);
        parsed = ParsedHeader();
        shown_original = rgba_rows(original);
        original = PixelBuffer();
        shown_decoded = rgba_rows(decoded);
        show_pictures(shown_original.data(), shown_decoded.data(), decoded.width, decoded.height);
        return line.c_str();
    } catch (const std::bad_alloc&) {
        std::free(text);
        return refuse("no memory", 0, 0), "";
    }
}

// The length of the header the page file makes under `name`, as far as its
// first bytes tell: from a bitmap's records, or a PNG's, GIF's, JPEG's or
// WebP's size; 0 when they do not tell.
EMSCRIPTEN_KEEPALIVE double pixmar_header_estimate(const char* name)
{
    std::vector<std::uint8_t> head = page_file_head(kPageFileHead);
    std::uint32_t width = 0, height = 0;
    BrowserImage browser;
    // Most files tell their size early; a JPEG may have a colour profile first.
    bool browser_told = browser_image_size(head.data(), head.size(), browser);
    if (!browser_told && head.size() == kPageFileHead && head[0] == 0xFF && head[1] == 0xD8) {
        head = page_file_head(kBrowserImageHead);
        browser_told = browser_image_size(head.data(), head.size(), browser);
    }
    if (head.size() >= kFileHeaderSize + kInfoHeaderSize && decode_file_header(head.data()).bfType == kBitmapType) {
        const InfoHeader info = decode_info_header(head.data() + kFileHeaderSize);
        width = std::uint32_t(info.biWidth < 0 ? -std::int64_t(info.biWidth) : info.biWidth);
        height = std::uint32_t(info.biHeight < 0 ? -std::int64_t(info.biHeight) : info.biHeight);
    } else if (browser_told) {
        width = browser.width, height = browser.height;
    } else if (!image_size(head.data(), head.size(), width, height)) {
        return 0;
    }
    return double(header_size(name, width + width % 2, height));
}

// A batch's count of the key in the image just converted (its kept pixels,
// or else the page file read again): "N half-pink pairs, M near-pink
// pixels"; "" when it cannot be read or memory runs out.
EMSCRIPTEN_KEEPALIVE const char* pixmar_key_counts()
{
    static std::string counts_text;
    counts_text.clear();
    try {
        PixelBuffer original = std::move(kept_original);
        if (!original.bytes && read_bitmap("", page_file, kNoMessages, original) != kExitDone)
            return "";
        KeyCounts counts;
        report_key(original, {}, counts, nullptr);
        counts_text = std::to_string(counts.half_pairs) + " half-pink pairs, " + std::to_string(counts.near_pixels) +
                      " near-pink pixels";
    } catch (const std::bad_alloc&) {
        return "";
    }
    return counts_text.c_str();
}

// What a JPEG's or WebP's first bytes tell of it: "width height
// orientation", the size as the browser will give it (turned as its EXIF
// orientation asks); "" when they do not tell.
EMSCRIPTEN_KEEPALIVE const char* pixmar_browser_image()
{
    static std::string told;
    const std::vector<std::uint8_t> head = page_file_head(kBrowserImageHead);
    BrowserImage image;
    told = browser_image_size(head.data(), head.size(), image)
        ? std::to_string(image.width) + " " + std::to_string(image.height) + " " + std::to_string(image.orientation)
        : "";
    return told.c_str();
}

// Memory the worker fills for an entry that releases it.
EMSCRIPTEN_KEEPALIVE std::uint8_t* pixmar_allocate(double size)
{
    return size < 4294967296.0 ? static_cast<std::uint8_t*>(std::malloc(std::size_t(size))) : nullptr;
}

// Lets go of what the last job kept: each job starts clean.
EMSCRIPTEN_KEEPALIVE void pixmar_forget()
{
    kept_original = PixelBuffer();
    shown_original = shown_decoded = shown_key_map = std::vector<std::uint8_t>();
}
}
