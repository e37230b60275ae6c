// The page in headless chromium, driven as a user would: choose or drop a
// file, tick Magic Pink, type a C name, download, copy. Each row's downloaded
// header must be the command line's byte for byte, and #status must hold what
// it prints.
//   PIXMAR_PAGE=index.html PIXMAR=pixmar README=README.md [SCREENSHOT=shot.png] node --test browser_test.cjs
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

// A bottom-up 24-bit bitmap (top-down with `topDown`) whose pixel (x, y), y = 0
// at the top, is colour(x, y) = [r, g, b]; `patch` changes header fields.
function bitmap(width, height, colour, { topDown = false, patch = {} } = {})
{
    const rowBytes = width * 3 + (width % 4);
    const bytes = Buffer.alloc(54 + rowBytes * height);
    bytes.write('BM', 0, 'latin1');
    bytes.writeUInt32LE(bytes.length, 2);
    bytes.writeUInt32LE(54, 10);
    bytes.writeUInt32LE(40, 14);
    bytes.writeInt32LE(width, 18);
    bytes.writeInt32LE(topDown ? -height : height, 22);
    bytes.writeUInt16LE(1, 26);
    bytes.writeUInt16LE(24, 28);
    bytes.writeUInt32LE(rowBytes * height, 34);
    for (let y = 0; y < height; ++y) {
        const row = 54 + (topDown ? y : height - 1 - y) * rowBytes;
        for (let x = 0; x < width; ++x) {
            const [r, g, b] = colour(x, y);
            bytes[row + 3 * x] = b, bytes[row + 3 * x + 1] = g, bytes[row + 3 * x + 2] = r;
        }
    }
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

// Opens the page, sets the options, chooses `file` and waits for the run.
// With `watch`, calls it with the page every few milliseconds while the run works.
// With `drop`, the file is dropped on the page instead of chosen.
async function convertInPage(file, { magicPink = false, name = '', transparentPink = false, watch = null, drop = false,
                                     oddWidth = 'pad' } = {})
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
    // What the Copy button hands the clipboard is kept for the test to read.
    await page.evaluateOnNewDocument(() => {
        Object.defineProperty(navigator.clipboard, 'writeText', { value: async (text) => { window.copied = text; } });
    });
    await page.goto(pathToFileURL(process.env.PIXMAR_PAGE).href);
    if (magicPink)
        await page.click('#magic-pink');
    if (transparentPink)
        await page.click('#transparent-pink');
    if (name)
        await page.type('#name', name);
    await page.select('#odd-width', oddWidth);
    if (drop) {
        await page.evaluate((name, base64) => {
            const transfer = new DataTransfer();
            transfer.items.add(new File([Uint8Array.from(atob(base64), (c) => c.charCodeAt(0))], name));
            document.getElementById('drop').dispatchEvent(new DragEvent('drop', { dataTransfer: transfer }));
        }, path.basename(file), fs.readFileSync(file).toString('base64'));
    } else {
        await (await page.$('#image')).uploadFile(file);
    }
    while (watch && !['done', 'previewed'].includes(await page.evaluate(() => document.body.dataset.state))) {
        await watch(page);
        await new Promise((resolve) => setTimeout(resolve, 5));
    }
    await page.waitForFunction(() => ['done', 'previewed'].includes(document.body.dataset.state), { timeout: 60000, polling: 50 }).catch((error) => {
        throw new Error(`${error.message}; the page's errors: ${pageErrors.join('; ')}`);
    });
    const status = await page.$eval('#status', (element) => element.textContent);
    let header = null;
    if (!(await page.$eval('#download', (button) => button.disabled))) {
        await page.click('#download');
        const target = await page.$eval('#size', (element) => element.textContent.split(':')[0]);
        const downloaded = path.join(downloads, target);
        for (let tries = 0; !fs.existsSync(downloaded) && tries < 600; ++tries)
            await new Promise((resolve) => setTimeout(resolve, 50));
        header = fs.readFileSync(downloaded);
    }
    return { page, status, header };
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
    { label: 'the sample, Magic Pink, a typed name', file: 'sample.bmp', source: process.env.SAMPLE, magicPink: true, name: 'hud_logo', screenshot: true },
    { label: 'width 2, dropped on the page', file: 'two.bmp', bytes: () => bitmap(2, 5, noise), drop: true },
    { label: 'width 16', file: 'sixteen.bmp', bytes: () => bitmap(16, 4, noise) },
    { label: 'width 18', file: 'eighteen.bmp', bytes: () => bitmap(18, 3, noise) },
    { label: 'top-down', file: 'top_down.bmp', bytes: () => bitmap(34, 7, bars, { topDown: true }) },
    { label: 'half-pink pairs, Magic Pink', file: 'keyed.bmp', bytes: () => bitmap(40, 9, halfPink), magicPink: true },
    { label: 'many colours, several blocks', file: 'noise.bmp', bytes: () => bitmap(1030, 600, noise), magicPink: true },
    { label: 'odd width', file: 'odd.bmp', bytes: () => bitmap(3, 2, noise) },
    { label: 'not a bitmap', file: 'gif.bmp', bytes: () => Buffer.from('GIF89a, not a bitmap') },
    { label: 'too short for a header', file: 'short.bmp', bytes: () => Buffer.from('BM') },
    { label: 'info header cut short', file: 'cut.bmp', bytes: () => bitmap(4, 2, bars).subarray(0, 30) },
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
        const { page, status, header } = await convertInPage(file, row);
        assert.strictEqual(status, expected.messages);
        assert.ok(expected.header === null ? header === null : header !== null && header.equals(expected.header),
                  'the downloaded header differs from the command line\'s');
        if (row.screenshot) {
            await page.click('#copy');
            await page.waitForFunction(() => window.copied !== undefined);
            assert.strictEqual(await page.evaluate(() => window.copied), expected.header.toString('latin1'));
        }
        if (row.screenshot && process.env.SCREENSHOT) {
            await page.waitForFunction(() => document.body.dataset.state === 'previewed', { timeout: 60000, polling: 50 });
            await page.select('#zoom', '4');
            await page.setViewport({ width: 1100, height: 1000 });
            await page.screenshot({ path: process.env.SCREENSHOT, fullPage: true });
        }
        await page.close();
    });
}

// Other images are made 24-bit bitmaps first, as the README's recipes make them.
test('an opaque PNG gives the ImageMagick recipe\'s header', async () => {
    const png = path.join(work, 'logo.png');
    execFileSync('convert', ['-size', '64x48', 'xc:red', '-fill', 'blue', '-draw', 'rectangle 8,8 30,30', png]);
    const expected = commandLine(png, 'logo.bmp', false, [readmeLine('convert logo.png -alpha')]);
    const { page, status, header } = await convertInPage(png);
    assert.strictEqual(status, expected.messages);
    assert.ok(header.equals(expected.header));
    await page.close();
});

test('a PNG of transparent and opaque pixels gives the transparency recipe\'s header', async () => {
    const png = path.join(work, 'sprite.png');
    execFileSync('convert', ['-size', '6x2', 'xc:red', '-alpha', 'set', '-channel', 'A', '-fx',
                             '(j==0&&i==0)||(j==1&&i<2)||(i==5)?0:1', '+channel', png]);
    const expected = commandLine(png, 'sprite.bmp', true, [readmeLine('convert sprite.png')]);
    const { page, status, header } = await convertInPage(png, { magicPink: true, transparentPink: true });
    assert.strictEqual(status, expected.messages);
    assert.ok(header.equals(expected.header));
    await page.close();
});

// An odd width is cropped as the README's ImageMagick recipe crops it, or
// padded by repeating the last column.
test('a PNG of odd width is cropped or padded', async () => {
    const png = path.join(work, 'odd.png');
    execFileSync('convert', ['-size', '63x2', 'xc:red', '-fill', 'blue', '-draw', 'point 62,0', png]);
    const cropped = commandLine(png, 'odd.bmp', false, [readmeLine('convert logo.png -crop').replaceAll('logo', 'odd')]);
    const padded = path.join(work, 'padded', 'odd.bmp');
    fs.mkdirSync(path.dirname(padded));
    fs.writeFileSync(padded, bitmap(64, 2, (x, y) => (x >= 62 && y === 0 ? [0, 0, 255] : [255, 0, 0])));
    const expected = { crop: cropped, pad: commandLine(padded, 'odd.bmp', false) };
    for (const choice of ['crop', 'pad']) {
        const { page, status, header } = await convertInPage(png, { oddWidth: choice });
        assert.strictEqual(status, expected[choice].messages);
        assert.ok(header.equals(expected[choice].header), choice);
        await page.close();
    }
});

// A large image converts in the worker: the page goes on answering and shows
// the header's progress, and the header is the command line's.
test('a 4096 x 4096 image converts in a worker, with progress', async () => {
    const file = path.join(work, 'large.bmp');
    fs.writeFileSync(file, bitmap(4096, 4096, noise));
    const expected = commandLine(file, 'large.bmp', true);
    const seen = [];
    const { page, status, header } = await convertInPage(file, {
        magicPink: true,
        watch: async (page) => seen.push(await page.$eval('#progress', (bar) => bar.value)),
    });
    assert.strictEqual(status, expected.messages);
    assert.ok(header.equals(expected.header));
    assert.ok(seen.some((value) => value > 0 && value < 1), `the progress bar showed only ${[...new Set(seen)]}`);
    await page.close();
});
