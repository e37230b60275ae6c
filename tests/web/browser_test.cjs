// The page in headless chromium, driven as a user would: choose or drop a
// file, tick Magic Pink, type a C name, download, copy. Each row's downloaded
// header must be the command line's byte for byte, and #status must hold what
// it prints.
//   PIXMAR_PAGE=index.html PIXMAR=pixmar README=README.md [SCREENSHOTS=1] node --test browser_test.cjs
// The documents' screenshots of the page come from here (SCREENSHOTS=1, as
// doc/make_images.sh runs it), each with the words the page showed beside it
// (.txt); every other run checks that the page still shows those words.
'use strict';
const { test, before, after } = require('node:test');
const assert = require('node:assert');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const puppeteer = require('puppeteer-core');

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'pixmar-browser-'));
let browser;
let fetched = [];  // every request that left the machine's files
const pageErrors = [];

// Pillow may belong to another Python than the first python3 on the PATH.
const pillowPython = ['python3', '/usr/bin/python3'].find((python) => spawnSync(python, ['-c', 'import PIL']).status === 0);

// A 24-bit bitmap as Pillow writes it, whose pixel (x, y), y = 0 at the top,
// is colour(x, y) = [r, g, b]. A top-down one is the picture stored upside
// down with its height negated; a height of 0 is a row stored and a height
// field of 0. `patch` changes 32-bit header fields.
function bitmap(width, height, colour, { topDown = false, patch = {} } = {})
{
    const rows = Math.max(height, 1);
    const rgb = Buffer.alloc(width * rows * 3);
    for (let y = 0; y < rows; ++y) {
        for (let x = 0; x < width; ++x)
            rgb.set(colour(x, topDown ? rows - 1 - y : y), (y * width + x) * 3);
    }
    const save = 'import io, sys; from PIL import Image; out = io.BytesIO(); ' +
                 'Image.frombytes("RGB", (int(sys.argv[1]), int(sys.argv[2])), sys.stdin.buffer.read()).save(out, "BMP"); sys.stdout.buffer.write(out.getvalue())';
    const bytes = execFileSync(pillowPython, ['-c', save, String(width), String(rows)], { input: rgb, maxBuffer: 2 ** 30 });
    if (topDown || height === 0)
        bytes.writeInt32LE(topDown ? -height : 0, 22);
    for (const [offset, value] of Object.entries(patch))
        bytes.writeUInt32LE(value, Number(offset));
    return bytes;
}

let seed = 20261208;
const random = () => (seed = (seed * 1103515245 + 12345) >>> 0) >>> 16 & 255;
const noise = () => [random(), random(), random()];
const pink = [255, 0, 255];
const halfPink = (x, y) => ((x + y) % 3 === 0 ? pink : [x * 9 & 255, 40, y * 7 & 255]);
const bars = (x) => (x % 4 < 2 ? [255, 0, 0] : [0, 0, 255]);

// What the command line prints and writes for `file`, converted under `name`.
function commandLine(file, name, magicPink, prepare = [])
{
    const folder = fs.mkdtempSync(path.join(work, 'cli-'));
    fs.copyFileSync(file, path.join(folder, path.basename(file)));
    for (const command of prepare)
        execFileSync('sh', ['-c', command], { cwd: folder });
    const run = spawnSync(process.env.PIXMAR, magicPink ? ['-MP', name] : [name], { cwd: folder });
    const header = path.join(folder, name + '.h');
    return { messages: run.stdout.toString('latin1'), header: fs.existsSync(header) ? fs.readFileSync(header) : null };
}

// The header that the commands the page shows in #command make from `file`,
// run by sh in a folder of their own, with pixmar and Pillow's python3 first on the PATH.
async function commandHeader(page, file, header)
{
    const folder = fs.mkdtempSync(path.join(work, 'command-'));
    fs.mkdirSync(path.join(folder, 'bin'));
    fs.symlinkSync(path.resolve(process.env.PIXMAR), path.join(folder, 'bin', 'pixmar'));
    fs.symlinkSync(execFileSync('sh', ['-c', `command -v ${pillowPython}`]).toString().trim(), path.join(folder, 'bin', 'python3'));
    fs.copyFileSync(file, path.join(folder, path.basename(file)));
    const commands = await page.$eval('#command', (element) => element.textContent);
    execFileSync('sh', ['-ec', commands], { cwd: folder, env: { ...process.env, PATH: `${folder}/bin:${process.env.PATH}` } });
    return fs.readFileSync(path.join(folder, header));
}

// Waits until the page's state is one of `states`.
const reached = (page, ...states) =>
    page.waitForFunction((wanted) => wanted.includes(document.body.dataset.state), { timeout: 60000, polling: 50 }, states);

// Opens the page, sets the options, chooses `file` (or an array of files, a
// batch) and waits for the run.
// With `watch`, calls it with the page every few milliseconds while the run works.
// With `drop`, the files are dropped on the page instead of chosen.
// With `asImage`, the convert-as-image button is pressed once the bitmap is refused.
async function convertInPage(file, { magicPink = false, name = '', transparentPink = false, watch = null, drop = false,
                                     oddWidth = 'pad', asImage = false, pageFile = process.env.PIXMAR_PAGE } = {})
{
    const page = await browser.newPage();
    await page.setRequestInterception(true);
    page.on('request', (request) => {
        if (!/^(file|data|blob):/.test(request.url())) {
            fetched.push(request.url());
            return request.abort();
        }
        return request.continue();
    });
    page.on('pageerror', (error) => pageErrors.push(error.message));
    const downloads = fs.mkdtempSync(path.join(work, 'downloads-'));
    const session = await page.createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads });
    // What the Copy button hands the clipboard is kept for the test to read
    // (not as window.copied: that name is already the page's #copied element).
    // And every task that held the page's thread for 50 ms or more is kept.
    await page.evaluateOnNewDocument(() => {
        Object.defineProperty(navigator.clipboard, 'writeText', { value: async (text) => { window.clipboardText = text; } });
        window.longTasks = [];
        new PerformanceObserver((list) => window.longTasks.push(...list.getEntries().map((entry) => entry.duration)))
            .observe({ entryTypes: ['longtask'] });
    });
    await page.goto(pathToFileURL(pageFile).href);
    if (magicPink)
        await page.click('#magic-pink');
    if (transparentPink)
        await page.click('#transparent-pink');
    if (name)
        await page.type('#name', name);
    await page.select('#odd-width', oddWidth);
    const files = [].concat(file);
    if (drop) {
        await page.evaluate((dropped) => {
            const transfer = new DataTransfer();
            for (const [name, base64] of dropped)
                transfer.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name));
            document.getElementById('drop').dispatchEvent(new DragEvent('drop', { dataTransfer: transfer }));
        }, files.map((one) => [path.basename(one), fs.readFileSync(one).toString('base64')]));
    } else {
        await (await page.$('#image')).uploadFile(...files);
    }
    while (watch && !['done', 'previewed'].includes(await page.evaluate(() => document.body.dataset.state))) {
        await watch(page);
        await new Promise((resolve) => setTimeout(resolve, 5));
    }
    const settled = () => reached(page, 'done', 'previewed').catch((error) => {
        throw new Error(`${error.message}; the page's errors: ${pageErrors.join('; ')}`);
    });
    await settled();
    if (asImage) {
        await page.click('#as-image');
        await settled();
    }
    const status = await page.$eval('#status', (element) => element.textContent);
    const problem = await page.$eval('#problem', (element) => element.textContent);
    const notes = await page.$eval('#notes', (element) => element.textContent);
    let header = null;
    if (!(await page.$eval('#download', (button) => button.disabled))) {
        await page.click('#download');
        header = await downloaded(downloads, await page.$eval('#size', (element) => element.textContent.split(':')[0]));
    }
    return { page, status, header, problem, notes, downloads };
}

// Waits for the file `name` to be downloaded into `folder` and returns its
// bytes: once it is there, no partial download is left, and its size holds.
async function downloaded(folder, name)
{
    const file = path.join(folder, name);
    for (let tries = 0, last = -1; tries < 600; ++tries) {
        const size = fs.existsSync(file) ? fs.statSync(file).size : -1;
        if (size >= 0 && size === last && !fs.readdirSync(folder).some((entry) => entry.endsWith('.crdownload')))
            return fs.readFileSync(file);
        last = size;
        await new Promise((resolve) => setTimeout(resolve, 50));
    }
    throw new Error(`${name} was not downloaded`);
}

before(async () => {
    browser = await puppeteer.launch({
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        headless: true,
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync'],
    });
});

after(async () => {
    await browser.close();
    fs.rmSync(work, { recursive: true, force: true });
    assert.deepStrictEqual(fetched, [], 'the page fetched from the network');
    assert.deepStrictEqual(pageErrors, [], 'the page met errors');
});

const readmeLine = (start) => fs.readFileSync(process.env.README, 'utf8').split('\n').find((line) => line.startsWith(start));

// Bitmaps go through the converter as on the command line: the same header
// and the same messages, refusals included. Names are the file's, or typed.
const rows = [
    { label: 'the sample, Magic Pink, a typed name', file: 'sample.bmp', source: process.env.SAMPLE, magicPink: true, name: 'hud_logo', screenshot: true,
      key: 'Magic Pink: 192 pairs wholly magic pink', outlined: [34, 44] },
    { label: 'width 2, dropped on the page', file: 'two.bmp', bytes: () => bitmap(2, 5, noise), drop: true },
    { label: 'width 16', file: 'sixteen.bmp', bytes: () => bitmap(16, 4, noise) },
    { label: 'width 18', file: 'eighteen.bmp', bytes: () => bitmap(18, 3, noise) },
    { label: 'top-down', file: 'top_down.bmp', bytes: () => bitmap(34, 7, bars, { topDown: true }) },
    { label: 'half-pink pairs, Magic Pink', file: 'keyed.bmp', bytes: () => bitmap(40, 9, halfPink), magicPink: true, key: 'Magic Pink: ' },
    { label: 'half-pink pairs, no Magic Pink', file: 'unkeyed.bmp', bytes: () => bitmap(40, 9, halfPink), key: 'Magic Pink: ' },
    { label: 'many colours, several blocks', file: 'noise.bmp', bytes: () => bitmap(1030, 600, noise), magicPink: true },
    { label: 'odd width', file: 'odd.bmp', bytes: () => bitmap(3, 2, noise) },
    { label: 'height 0', file: 'flat.bmp', bytes: () => bitmap(4, 0, noise) },
    { label: 'a GIF that cannot be decoded', file: 'gif.bmp', bytes: () => Buffer.from('GIF89a, not a bitmap'),
      problem: 'gif.bmp: a GIF image that cannot be decoded: damaged or unsupported.' },
    { label: 'not a bitmap', file: 'text.bmp', bytes: () => Buffer.from('Hello, not a bitmap'), explain: 'not a bitmap: the first two letters' },
    { label: 'a huge size claimed by 60 bytes', file: 'huge.bmp', bytes: () => bitmap(2, 1, noise, { patch: { 18: 30000, 22: 30000 } }) },
    { label: 'too short for a header', file: 'short.bmp', bytes: () => Buffer.from('BM'), explain: 'What to do: the file is empty or cut short' },
    { label: 'info header cut short', file: 'cut.bmp', bytes: () => bitmap(4, 2, bars).subarray(0, 30), offersImage: false },
    { label: 'pixels cut short', file: 'pixels.bmp', bytes: () => bitmap(4, 2, bars).subarray(0, 60) },
    { label: 'a newer info header', file: 'v5.bmp', bytes: () => bitmap(4, 2, bars, { patch: { 14: 124 } }) },
    { label: 'compressed', file: 'rle.bmp', bytes: () => bitmap(4, 2, bars, { patch: { 30: 1 } }) },
    { label: 'a palette', file: 'palette.bmp', bytes: () => bitmap(4, 2, bars, { patch: { 46: 256 } }) },
    { label: 'two planes', file: 'planes.bmp', bytes: () => bitmap(4, 2, bars, { patch: { 26: 2 | 24 << 16 } }) },
    { label: 'a bit count no browser reads', file: 'bits.bmp', bytes: () => bitmap(4, 2, bars, { patch: { 26: 1 | 12 << 16 } }) },
];

for (const row of rows) {
    test(row.label, async () => {
        const file = path.join(work, row.file);
        if (row.source)
            fs.copyFileSync(row.source, file);
        else
            fs.writeFileSync(file, row.bytes());
        const name = (row.name || row.file.replace(/\.bmp$/, '')) + '.bmp';
        if (row.name)
            fs.copyFileSync(file, path.join(work, name));
        const expected = commandLine(path.join(work, name), name, row.magicPink);
        const { page, status, header, problem } = await convertInPage(file, row);
        assert.strictEqual(problem, row.problem || '');
        assert.strictEqual(status, expected.messages);
        if (row.offersImage !== undefined)
            assert.strictEqual(await page.$eval('#as-image', (button) => !button.hidden), row.offersImage);
        assert.ok(expected.header === null || row.problem ? header === null : header !== null && header.equals(expected.header),
                  'the downloaded header differs from the command line\'s');
        // A refusal is explained by the README's row for it, edged in red as the refusal is; a header comes with its command.
        const explained = await page.$eval('#explain', (element) => (element.hidden ? null : [element.textContent, getComputedStyle(element).borderLeftColor]));
        assert.deepStrictEqual(explained && explained[1], expected.header ? null : 'rgb(187, 0, 0)');
        assert.ok(!row.explain || explained[0].includes(row.explain), explained && explained[0]);
        if (header)
            assert.ok((await commandHeader(page, file, name + '.h')).equals(header), 'the command shown makes another header');
        if (row.screenshot) {
            await page.click('#copy');
            await page.waitForFunction(() => window.clipboardText !== undefined);
            assert.strictEqual(await page.evaluate(() => window.clipboardText), expected.header.toString('latin1'));
        }
        if (row.screenshot) {
            // The zoom starts at the largest that fits; at a phone's width every control is 32 px tall or more.
            await reached(page, 'previewed');
            assert.strictEqual(await page.$eval('#zoom', (zoom) => zoom.value), '4');
            await page.setViewport({ width: 390, height: 844 });
            const small = await page.$$eval('button, select, input:not([type=checkbox]), fieldset label', (controls) => controls
                .filter((control) => !control.closest('[hidden]') && control.getBoundingClientRect().height < 32).map((control) => control.id || control.textContent));
            assert.deepStrictEqual(small, []);
        }
        if (row.key) {
            // Under the pictures, the preview's own line for the key; the key map beside them, as large as the original.
            await reached(page, 'previewed');
            fs.writeFileSync(path.join(work, name + '.h'), expected.header);
            const preview = spawnSync(path.join(path.dirname(process.env.PIXMAR), 'pixmar-preview'), [name + '.h', name], { cwd: work });
            const line = preview.stdout.toString().split('\n')[1];
            assert.ok(line.startsWith(row.key), line);
            assert.strictEqual(await page.$eval('#key', (element) => element.textContent), line);
            assert.deepStrictEqual(await page.$eval('#key-map', (map) => [map.closest('[hidden]') === null, map.clientWidth]),
                                   [true, await page.$eval('#original', (original) => original.clientWidth)]);
        }
        if (row.outlined) {
            // The half-pink pair at (row, column) is framed in red at the zoom shown.
            await page.click('#outline-key');
            const [y, x] = row.outlined;
            const frame = await page.$eval('#key-outline', (overlay, x, y) => {
                const step = overlay.width / document.getElementById('original').width;
                return [...overlay.getContext('2d').getImageData(Math.floor(x * step), Math.floor(y * step), 1, 1).data];
            }, x, y);
            assert.deepStrictEqual(frame, [255, 0, 0, 255]);
            await page.click('#outline-key');
            assert.ok(await page.$eval('#key-outline', (overlay) => overlay.hidden));
        }
        if (row.screenshot) {
            await page.select('#zoom', '4');
            await documentScreenshot(page, 'browser-page', { width: 1100, height: 1000 });
        }
        await page.close();
    });
}

// Other images are made 24-bit bitmaps first, exactly as the README's recipes
// make them. Each row makes its files with ImageMagick or Pillow; the page
// converts `page`, the command line the bitmap that `recipe` (the README's
// line of that start) makes from `source`.
const pillow = (code) => `${pillowPython} -c 'from PIL import Image; ${code}'`;
// 32 x 24 pixels: three colours, each at every alpha level from 0 to 255.
const sprite = 's = Image.new("RGBA", (32, 24)); [s.putpixel((x, y), ((200, 120, 40), (12, 34, 56), (250, 250, 250))[y // 8] + ((y % 8) * 32 + x,)) for x in range(32) for y in range(24)]';
const keyed = 'python3 -c \'from PIL import Image; s = ';
const opaque = 'python3 -c \'from PIL import Image; Image.open';
// A GIF whose 4 x 3 first frame lies at (2, 1) on an 8 x 6 screen with background index 1.
const framedGif = (save) => pillow('import struct; p = Image.new("P", (4, 3)); p.putpalette([10, 20, 30, 200, 100, 50, 5, 250, 9]); ' +
    `[p.putpixel((x, y), (x + y) % 3) for x in range(4) for y in range(3)]; p.save("f.gif"${save}); b = bytearray(open("f.gif", "rb").read()); ` +
    'i = b.index(0x2C, 13); struct.pack_into("<HH", b, 6, 8, 6); b[11] = 1; struct.pack_into("<HH", b, i + 1, 2, 1); open("image.gif", "wb").write(b)');
// A valid RGBA PNG of `size` x `size` black pixels, quick to make: one zlib block of 64 rows repeated.
const blackPng = (size) => pillow('import struct, zlib; ' +
    `w = ${size}; r = bytes(1 + 4 * w); c = zlib.compressobj(9, 8, -15); b = c.compress(r * 64) + c.flush(zlib.Z_FULL_FLUSH); ` +
    'd = b"\\x78\\xda" + b * (w // 64) + zlib.compress(r * (w % 64))[2:-4] + struct.pack(">I", (len(r) * w % 65521) << 16 | 1); ' +
    'k = lambda t, d: struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d)); ' +
    'open("image.png", "wb").write(b"\\x89PNG\\r\\n\\x1a\\n" + k(b"IHDR", struct.pack(">IIBBBBB", w, w, 8, 6, 0, 0, 0)) + k(b"IDAT", d) + k(b"IEND", b""))');
// An 8 x 8 JPEG whose frame header claims 20000 x 20000 pixels.
const hugeJpeg = 'convert -size 8x8 xc:red image.jpg && python3 -c \'b = bytearray(open("image.jpg", "rb").read()); i = b.index(b"\\xff\\xc0"); ' +
                 'b[i + 5:i + 9] = bytes([78, 32, 78, 32]); open("image.jpg", "wb").write(b)\'';
// The image `s` of `rows` rows that `image` makes, saved by Pillow as up.bmp and stored top-down
// (rows of `row` bytes) as image.bmp.
const topDown = (image, row, rows = 3) => pillow(`import struct; ${image}; s.save("up.bmp"); b = bytearray(open("up.bmp", "rb").read()); ` +
    `o = struct.unpack_from("<I", b, 10)[0]; b[o:] = b"".join(b[o + ${row} * r:o + ${row} * r + ${row}] for r in range(${rows} - 1, -1, -1)); ` +
    `struct.pack_into("<i", b, 22, -${rows}); open("image.bmp", "wb").write(b)`);
const images = [
    { label: 'a JPEG with EXIF orientation 6, turned as ImageMagick\'s -auto-orient turns it', page: 'image.jpg', source: 'image.jpg',
      recipe: 'convert logo.png -alpha', turn: true, notes: ['shown turned as the file asks (EXIF orientation 6)'],
      make: pillow('g = Image.linear_gradient("L").resize((120, 90)); e = Image.Exif(); e[0x0112] = 6; Image.merge("RGB", (g, g.transpose(0), g.transpose(1))).save("image.jpg", exif=e.tobytes(), quality=90)') },
    { label: 'a JPEG whose frame header claims 20000 x 20000, refused before decoding', page: 'image.jpg',
      make: hugeJpeg,
      problem: 'image.jpg is 20000 x 20000 pixels: its header would be larger than this page can hold. Convert it with the command line.' },
    { label: 'a GIF whose first frame leaves part of its screen uncovered', page: 'image.gif', source: 'image.gif', recipe: opaque, make: framedGif('') },
    { label: 'a GIF with transparency whose first frame leaves part of its screen uncovered, box ticked', page: 'image.gif', source: 'image.gif',
      recipe: keyed, transparentPink: true, make: framedGif(', transparency=2') },
    { label: 'a 17000 x 17000 RGBA PNG, too large for the page', make: blackPng(17000),
      problem: 'image.png is 17000 x 17000 pixels: its header would be larger than this page can hold. Convert it with the command line.' },
    { label: 'every alpha level, box ticked, Magic Pink', make: pillow(`${sprite}; s.save("image.png")`), recipe: keyed,
      transparentPink: true, magicPink: true, notes: ['3 fully transparent pixels became magic pink'] },
    { label: 'every alpha level, box unticked', make: pillow(`${sprite}; s.save("image.png")`), recipe: opaque,
      notes: ['3 fully transparent pixels kept their stored colour', '762 partly transparent pixels lost their alpha'] },
    { label: 'a palette PNG with transparency', recipe: keyed, transparentPink: true,
      make: pillow('s = Image.new("P", (8, 4)); s.putpalette([255, 0, 0, 0, 255, 0, 0, 0, 255, 9, 9, 9]); [s.putpixel((x, y), (x + y) % 4) for x in range(8) for y in range(4)]; s.save("image.png", transparency=bytes([255, 128, 0, 255]))') },
    { label: 'a 32-bit BMP as Pillow writes RGBA, read opaque as Pillow does', page: 'image.bmp', source: 'image.bmp', recipe: keyed,
      transparentPink: true, magicPink: true, make: pillow(`${sprite}; s.save("image.bmp")`) },
    { label: 'a 16-bit BMP, as ImageMagick reads it', page: 'image.bmp', source: 'image.bmp', recipe: 'convert logo.png -alpha',
      make: 'convert -size 30x20 gradient:red-blue -define bmp:subtype=RGB565 image.bmp' },
    { label: 'a top-down 8-bit BMP', page: 'image.bmp', source: 'image.bmp', recipe: opaque,
      make: topDown('s = Image.new("P", (8, 3)); s.putpalette([(i * 7) % 256 for i in range(768)]); [s.putpixel((x, y), 9 * y + x) for x in range(8) for y in range(3)]', 8) },
    { label: 'a top-down 32-bit BMP', page: 'image.bmp', source: 'image.bmp', recipe: opaque,
      make: topDown('s = Image.new("RGBA", (8, 3)); [s.putpixel((x, y), (30 * x, 80 * y, 200, 40 * x)) for x in range(8) for y in range(3)]', 32) },
    { label: 'a top-down odd-width 24-bit BMP, converted as an image', page: 'image.bmp', asImage: true, recipe: 'convert logo.png \\( +clone',
      make: topDown('s = Image.new("RGB", (7, 48)); [s.putpixel((x, y), (30 * x, 5 * y, 200)) for x in range(7) for y in range(48)]', 24, 48) + ' && convert up.bmp image.png' },
    { label: 'a GIF with transparency, box unticked', page: 'image.gif', notes: ['4 fully transparent pixels became black: the GIF decoder keeps no colour for them'],
      make: pillow('s = Image.new("P", (4, 4)); s.putpalette([250, 10, 10, 10, 250, 10]); [s.putpixel((x, y), int(x == y)) for x in range(4) for y in range(4)]; s.save("image.gif", transparency=1)') },
    { label: 'an 8-bit BMP cut short, refused as pixmar refuses it', page: 'image.bmp',
      make: pillow('s = Image.new("P", (16, 16)); s.putpalette(list(range(256)) * 3); s.save("whole.bmp"); open("image.bmp", "wb").write(open("whole.bmp", "rb").read()[:-40])') },
    { label: 'an opaque JPEG', page: 'image.jpg', source: 'image.jpg', recipe: 'convert logo.png -alpha',
      make: 'convert -size 64x48 gradient:red-blue -fill yellow -draw "circle 20,20 30,30" -quality 90 image.jpg' },
    { label: 'an OS/2 bitmap', page: 'image.bmp',
      make: pillow('import struct; open("image.bmp", "wb").write(b"BM" + struct.pack("<IHHI", 26 + 24, 0, 0, 26) + struct.pack("<IHHHH", 12, 4, 2, 1, 24) + bytes(24))'),
      problem: 'image.bmp: an OS/2 bitmap (12-byte header), which the page does not take: save it as a Windows bitmap first (the README\'s recipes do).' },
    { label: 'a WebP with partial transparency', page: 'image.webp', make: pillow(`${sprite}; s.save("image.webp", lossless=True)`),
      problem: 'image.webp: a WebP with transparency, whose stored colours the browser does not give exactly: save it as a PNG first (the README\'s recipes do).' },
    { label: 'an opaque PNG', recipe: 'convert logo.png -alpha', make: 'convert -size 64x48 xc:red -fill blue -draw "rectangle 8,8 30,30" image.png' },
    { label: 'a version-5 24-bit BMP, converted as an image', page: 'image.bmp', asImage: true, recipe: 'convert logo.png -alpha',
      make: 'convert -size 6x4 xc:red -fill blue -draw "point 1,1" image.png && convert image.png -type TrueColor image.bmp' },
    { label: 'an odd-width 24-bit BMP, cropped as an image', page: 'image.bmp', asImage: true, oddWidth: 'crop', recipe: 'convert logo.png -crop',
      make: 'convert -size 63x48 xc:red -fill blue -draw "point 62,0" image.png && convert image.png -type TrueColor BMP3:image.bmp' },
    { label: 'an odd-width PNG, padded', recipe: 'convert logo.png \\( +clone', notes: ['padded from 63 to 64 columns by repeating the last one'],
      make: 'convert -size 63x48 xc:red -fill blue -draw "point 62,0" image.png' },
    { label: 'a PNG of 16 bits a sample', make: pillow('Image.new("I;16", (4, 2), 1000).save("image.png")'),
      problem: 'image.png: a PNG of 16 bits a sample, which the page does not take: save it with 8 bits a sample (the README\'s recipes do).' },
    { label: 'a PNG cut short', make: 'convert -size 64x48 gradient:red-blue -depth 8 image.png && head -c 125 image.png > cut.png && mv cut.png image.png',
      problem: 'image.png: a PNG image that cannot be decoded: damaged or unsupported.' },
    { label: 'a PNG with a wrong CRC before its image data, refused as Pillow refuses it',
      make: pillow('i = Image.new("RGB", (4, 2), (9, 8, 7)); i.save("image.png"); b = bytearray(open("image.png", "rb").read()); b[29] ^= 1; open("image.png", "wb").write(b)'),
      problem: 'image.png: a PNG image that cannot be decoded: damaged or unsupported.' },
    { label: 'a PNG without IEND, read as Pillow reads it', source: 'whole.png', recipe: opaque,
      make: pillow('Image.linear_gradient("L").resize((8, 6)).convert("RGB").save("whole.png")') + ' && head -c -12 whole.png > image.png' },
];

for (const row of images) {
    test(row.label, async () => {
        const folder = fs.mkdtempSync(path.join(work, 'image-'));
        execFileSync('sh', ['-c', row.make], { cwd: folder });
        const source = path.join(folder, row.source || 'image.png');
        const { page, status, header, problem, notes } = await convertInPage(path.join(folder, row.page || 'image.png'), row);
        assert.strictEqual(problem, row.problem || '');
        if (row.recipe) {
            const recipe = readmeLine(row.recipe).replace(/^python3/, pillowPython).replace(row.turn ? ' -alpha' : /$^/, ' -auto-orient -alpha').replaceAll(/logo|sprite/g, 'image')
                .replace('image.png', path.basename(source));
            const expected = commandLine(source, 'image.bmp', row.magicPink, [recipe]);
            assert.strictEqual(status, expected.messages);
            assert.ok(header && header.equals(expected.header), 'the header differs from the recipe\'s');
            assert.ok((await commandHeader(page, path.join(folder, row.page || 'image.png'), 'image.bmp.h')).equals(header) !== Boolean(row.commandDiffers),
                      'the command shown makes another header');
        }
        if (!row.recipe && !row.problem && !row.notes) {
            const expected = commandLine(path.join(folder, row.page), row.page, row.magicPink);
            assert.strictEqual(status, expected.messages);
            assert.strictEqual(header, null);
        }
        for (const note of row.notes || [])
            assert.ok(notes.includes(note), `no note "${note}" in "${notes}"`);
        await page.close();
    });
}

// A pixel whose index lies past its bitmap's palette is black, whatever the
// image the page decoded before it left in memory.
// A screenshot of the page in doc/, made anew with SCREENSHOTS set, and the
// words the page shows in it: a screenshot that no longer shows the page's
// wording fails the test until it is made again.
async function documentScreenshot(page, name, viewport)
{
    await page.setViewport(viewport);
    const words = await page.evaluate(() => document.body.innerText);
    const made = path.join(path.dirname(process.env.README), 'doc', name);
    if (process.env.SCREENSHOTS) {
        await page.screenshot({ path: made + '.png', fullPage: true });
        fs.writeFileSync(made + '.txt', words);
    } else {
        assert.strictEqual(words, fs.readFileSync(made + '.txt', 'utf8'), `the page no longer shows what doc/${name}.png does: make it again with doc/make_images.sh`);
    }
}

test('an index past the palette is black, after a full palette', async () => {
    const folder = fs.mkdtempSync(path.join(work, 'palette-'));
    fs.mkdirSync(path.join(folder, 'expected'));
    execFileSync('sh', ['-c', pillow('p = Image.new("P", (16, 2)); p.putpalette([(i * 37) % 256 for i in range(768)]); ' +
        '[p.putpixel((x, y), 16 * y + x + 100) for x in range(16) for y in range(2)]; p.save("full.bmp"); ' +
        's = Image.new("P", (16, 2)); s.putpalette([200, 10, 20, 30, 40, 250]); [s.putpixel((x, y), x) for x in range(16) for y in range(2)]; s.save("short.bmp"); ' +
        'e = Image.new("RGB", (16, 2)); [e.putpixel((x, y), ((200, 10, 20), (30, 40, 250))[x] if x < 2 else (0, 0, 0)) for x in range(16) for y in range(2)]; e.save("expected/short.bmp")')],
        { cwd: folder });
    const { page, downloads } = await convertInPage(path.join(folder, 'full.bmp'));
    await (await page.$('#image')).uploadFile(path.join(folder, 'short.bmp'));
    await reached(page, 'previewed');
    await page.click('#download');
    const header = await downloaded(downloads, 'short.bmp.h');
    assert.ok(header.equals(commandLine(path.join(folder, 'expected', 'short.bmp'), 'short.bmp').header), header.toString());
    await page.close();
});

// A large image converts and previews in the worker: the page's thread is
// never held up for 100 ms, it shows the header's progress, the pictures are
// shown to fit, and the header is the command line's (for the PNG, after the
// README's recipe).
for (const [kind, size] of [['bmp', 4096], ['png', 8000]]) {
    test(`a ${size} x ${size} ${kind} converts in a worker, with progress`, async () => {
        const file = path.join(work, `large.${kind}`);
        if (kind === 'bmp')
            fs.writeFileSync(file, bitmap(size, size, noise));
        else
            execFileSync('convert', ['-size', `${size}x${size}`, 'gradient:red-blue', '-depth', '8', file]);
        const expected = commandLine(file, 'large.bmp', true, kind === 'png' ? [readmeLine('convert logo.png -alpha').replaceAll('logo', 'large')] : []);
        const seen = [];
        const { page, status, header } = await convertInPage(file, {
            magicPink: true,
            watch: async (page) => seen.push(await page.$eval('#progress', (bar) => bar.value)),
        });
        assert.strictEqual(status, expected.messages);
        assert.ok(header.equals(expected.header));
        assert.ok(seen.some((value) => value > 0 && value < 1), `the progress bar showed only ${[...new Set(seen)]}`);
        await reached(page, 'previewed');
        assert.strictEqual(await page.$eval('#zoom', (zoom) => zoom.value), 'fit');
        const longest = Math.max(0, ...await page.evaluate(() => window.longTasks));
        assert.ok(longest <= 100, `the page's thread was held up for ${longest} ms`);
        await page.close();
    });
}

// Choosing a file clears the last result at once and the name typed for it;
// with the module's memory capped, a bitmap too large for it gives the memory
// message, and the next file converts.
test('a new file clears the last result, and memory that runs out is said', async () => {
    const big = path.join(work, 'big.bmp'), good = path.join(work, 'good.bmp'), unnamed = path.join(work, '2-hud logo.bmp');
    fs.writeFileSync(big, bitmap(6000, 6000, bars));
    fs.writeFileSync(good, bitmap(8, 2, noise));
    fs.copyFileSync(good, unnamed);
    const small = path.join(path.dirname(process.env.PIXMAR_PAGE), 'small-memory.html');
    const { page, status } = await convertInPage(big, { pageFile: small, name: 'typed' });
    assert.ok(status.endsWith('Opening File: typed.bmp\n' + '\tInfoHeader: header size=40, Width, Height=(6000,6000)\n' +
                              '\tInfoHeader: planes=1, bits=24, compression=0, image size (bytes)=108000000\n' +
                              'ERROR: not enough memory for the image\n'), status);
    await (await page.$('#image')).uploadFile(good);
    await reached(page, 'previewed');
    assert.strictEqual(await page.$eval('#status', (element) => element.textContent), commandLine(good, 'good.bmp').messages);
    await (await page.$('#image')).uploadFile(unnamed);
    const shown = await page.evaluate(() => ({
        status: document.getElementById('status').textContent, name: document.getElementById('name').value,
        download: document.getElementById('download').disabled, result: document.getElementById('result').hidden,
        pictures: document.getElementById('preview').width, problem: document.getElementById('problem').textContent,
    }));
    assert.deepStrictEqual(shown, { status: '', name: '', download: true, result: true, pictures: 0,
                                    problem: '"2-hud logo.bmp" gives no C names: type one under "C name".' });
    await page.close();
});

// Many files at once, dropped: the zip holds every header the command line
// makes for them (the PNG's after the README's recipe); a refused bitmap, and
// two files that would make the same header, are listed with why.
test('a batch of files gives one zip of their headers', async () => {
    const folder = fs.mkdtempSync(path.join(work, 'batch-'));
    const bitmaps = { 'top.bmp': bitmap(34, 7, bars, { topDown: true }), 'wide.bmp': bitmap(1030, 6, noise), 'keyed.bmp': bitmap(40, 9, halfPink),
                      'odd.bmp': bitmap(3, 2, noise), 'logo.bmp': bitmap(4, 2, bars) };
    for (const [name, bytes] of Object.entries(bitmaps))
        fs.writeFileSync(path.join(folder, name), bytes);
    for (const name of ['logo.png', 'sprite.png'])
        execFileSync('convert', ['-size', '6x4', 'xc:red', '-fill', 'blue', '-draw', 'point 1,1', path.join(folder, name)]);
    const names = ['top.bmp', 'wide.bmp', 'keyed.bmp', 'odd.bmp', 'logo.bmp', 'logo.png', 'sprite.png'];
    const { page, downloads } = await convertInPage(names.map((name) => path.join(folder, name)), { drop: true });
    const rows = await page.$$eval('#results tbody tr', (lines) => lines.map((line) => [line.cells[0].textContent, line.cells[2].textContent]));
    const same = 'logo.bmp and logo.png would both make logo.bmp.h: rename one.';
    // Each converted row counts its key: a pair of columns 2k, 2k + 1 with exactly one pink pixel.
    let halves = 0;
    for (let y = 0; y < 9; ++y)
        for (let x = 0; x < 40; x += 2)
            halves += Number((halfPink(x, y) === pink) !== (halfPink(x + 1, y) === pink));
    // Near-pink: red and blue 239 or more, green 16 or less, and not the key itself.
    const wide = bitmaps['wide.bmp'], stride = Math.ceil(1030 * 3 / 4) * 4;
    let near = 0;
    for (let y = 0; y < 6; ++y)
        for (let at = wide.readUInt32LE(10) + y * stride, x = 0; x < 1030; ++x, at += 3)
            near += Number(wide[at] >= 239 && wide[at + 1] <= 16 && wide[at + 2] >= 239 && !(wide[at] === 255 && wide[at + 1] === 0 && wide[at + 2] === 255));
    const counts = await page.$$eval('#results tbody tr', (lines) => lines.map((line) => line.cells[1].textContent.split('; ')[1] || ''));
    assert.ok(near > 0, 'the noise has near-pink pixels to count');
    assert.deepStrictEqual(counts, ['0 half-pink pairs, 0 near-pink pixels', `0 half-pink pairs, ${near} near-pink pixels`,
                                    `${halves} half-pink pairs, 0 near-pink pixels`, '', '', '', '0 half-pink pairs, 0 near-pink pixels']);
    assert.deepStrictEqual(rows, [['top.bmp', 'Done.'], ['wide.bmp', 'Done.'], ['keyed.bmp', 'Done.'],
                                  ['odd.bmp', 'ERROR: Info Header error: width is not a multiple of 2 (0x3)'],
                                  ['logo.bmp', same], ['logo.png', same], ['sprite.png', 'Done.']]);
    await page.click('#download-all');
    const zip = path.join(folder, 'headers.zip');
    fs.writeFileSync(zip, await downloaded(downloads, 'pixmar-headers.zip'));
    const entries = JSON.parse(execFileSync('python3', ['-c', 'import base64, json, sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); ' +
        'print(json.dumps({n: base64.b64encode(z.read(n)).decode() for n in z.namelist()}))', zip]));
    const expected = {
        'top.bmp.h': commandLine(path.join(folder, 'top.bmp'), 'top.bmp').header,
        'wide.bmp.h': commandLine(path.join(folder, 'wide.bmp'), 'wide.bmp').header,
        'keyed.bmp.h': commandLine(path.join(folder, 'keyed.bmp'), 'keyed.bmp').header,
        'sprite.bmp.h': commandLine(path.join(folder, 'sprite.png'), 'sprite.bmp', false,
                                    [readmeLine('convert logo.png -alpha').replaceAll('logo', 'sprite')]).header,
    };
    assert.deepStrictEqual(Object.keys(entries).sort(), Object.keys(expected).sort());
    for (const [name, header] of Object.entries(expected))
        assert.ok(Buffer.from(entries[name], 'base64').equals(header), name);
    await documentScreenshot(page, 'browser-batch', { width: 1100, height: 700 });
    // A row shows its file as a single one.
    await page.click('#results tbody tr:first-child button');
    await reached(page, 'previewed');
    assert.strictEqual(await page.$eval('#status', (element) => element.textContent), commandLine(path.join(folder, 'top.bmp'), 'top.bmp').messages);
    await page.close();
});

// A batch of hundreds: its counts and zip above the list; a refused row opens
// below it, scrolled to, and converts as an image (padded, as the recipe).
test('a batch of 200 gives its counts first, and a refused row opens', async () => {
    const folder = fs.mkdtempSync(path.join(work, 'hundreds-'));
    const files = Array.from({ length: 199 }, (_, i) => path.join(folder, `b${i}.bmp`)).concat(path.join(folder, 'odd.bmp'));
    files.forEach((file, i) => fs.writeFileSync(file, i < 199 ? bitmap(4, 2, noise) : bitmap(63, 5, noise)));
    const { page, downloads } = await convertInPage(files);
    assert.strictEqual(await page.$eval('#summary', (element) => element.textContent), '199 converted, 1 refused, 0 clashing.');
    assert.ok(await page.$eval('#download-all', (button) => button.getBoundingClientRect().bottom < document.querySelector('#results tbody').getBoundingClientRect().top));
    await page.click('#results tbody tr:last-child button');
    await reached(page, 'done');
    assert.ok(await page.$eval('#status', (element) => element.textContent.endsWith('width is not a multiple of 2 (0x63)\n') &&
                                                   element.getBoundingClientRect().top < innerHeight && element.getBoundingClientRect().bottom > 0));
    await page.click('#as-image');
    await reached(page, 'previewed');
    await page.click('#download');
    const expected = commandLine(files[199], 'odd.bmp', false, [readmeLine('convert logo.png \\( +clone').replaceAll('logo.png', 'odd.bmp').replaceAll('logo', 'odd').replace('48', '5')]);
    assert.ok((await downloaded(downloads, 'odd.bmp.h')).equals(expected.header));
    await page.close();
});

// A row opened while its batch works is shown at once, before the batch's
// waiting jobs, which go on. A batch can be cancelled: what was converted
// stays, the rest is listed as not converted. One whose headers would pass what the page holds is refused
// before any work.
test('a batch can be cancelled, and one too large is refused', async () => {
    const folder = fs.mkdtempSync(path.join(work, 'cancel-'));
    fs.writeFileSync(path.join(folder, 'a0.bmp'), bitmap(512, 512, noise));
    const files = Array.from({ length: 100 }, (_, i) => path.join(folder, `a${i}.bmp`));
    files.slice(1).forEach((file) => fs.copyFileSync(files[0], file));
    const page = (await convertInPage(files[0])).page;
    await (await page.$('#image')).uploadFile(...files);
    await page.waitForSelector('#cancel:not([hidden])');
    // Clicked within the page in one step: the row is replaced when its answer comes, which may be meanwhile.
    await page.$eval('#results tbody tr:first-child button', (button) => button.click());
    await reached(page, 'previewed');
    assert.match(await page.$eval('#summary', (element) => element.textContent), /to go\.$/);
    assert.strictEqual(await page.$eval('#status', (element) => element.textContent), commandLine(files[0], 'a0.bmp').messages);
    await page.click('#cancel');
    await reached(page, 'done');
    const said = await page.$$eval('#results tbody tr', (lines) => lines.map((line) => line.cells[2].textContent));
    assert.ok(said.includes('not converted: the batch was cancelled'), 'nothing was cancelled');
    assert.deepStrictEqual([...new Set(said)].sort(), ['Done.', 'not converted: the batch was cancelled'].slice(said[0] === 'Done.' ? 0 : 1));
    const huge = bitmap(2, 1, noise, { patch: { 18: 20000, 22: 20000 } });
    fs.writeFileSync(path.join(folder, 'huge.bmp'), huge);
    await (await page.$('#image')).uploadFile(path.join(folder, 'huge.bmp'), files[0]);
    await page.waitForFunction(() => document.getElementById('problem').textContent !== '', { timeout: 60000, polling: 50 });
    assert.match(await page.$eval('#problem', (element) => element.textContent), /^These 2 files would make about 2,338 MiB of headers, more than the page can hold/);
    // A JPEG's size is read from its frame header.
    execFileSync('sh', ['-c', hugeJpeg], { cwd: folder });
    await page.$eval('#problem', (element) => { element.textContent = ''; });
    await (await page.$('#image')).uploadFile(path.join(folder, 'image.jpg'), files[0]);
    await page.waitForFunction(() => /^These 2 files would make about 2,3\d\d MiB/.test(document.getElementById('problem').textContent), { timeout: 60000, polling: 50 });
    await page.close();
});
