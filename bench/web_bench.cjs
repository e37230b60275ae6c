// Converting a 4096 x 4096 bitmap in the page, in headless chromium, against
// the native command line, in one rotation.
//   PIXMAR_PAGE=index.html PIXMAR=pixmar BITMAP=big.bmp node web_bench.cjs [RUNS]
// For the page: a fresh page whose converter is compiled, then the time from
// choosing the file to the header in the page (its data-converted-ms), and
// from the header to the preview (data-preview-ms). For the
// command line: one run in a folder of its own, making the header for the
// first time, then one replacing it; each after a sync. For the page's floor:
// a worker of the same page that is handed the file, reads it and makes a
// Blob of as many bytes as its header, converting nothing. Then 200 bitmaps of
// 64 x 64 chosen at once, converted and zipped in the page (its
// data-batch-ms and data-zip-ms), against 200 command-line runs in one
// shell loop.
'use strict';
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { pathToFileURL } = require('node:url');
const puppeteer = require('puppeteer-core');

const runs = Number(process.argv[2] || 9);
const median = (values) => values.slice().sort((a, b) => a - b)[Math.floor(values.length / 2)];

function timeNative(folder)
{
    execFileSync('sync');
    const start = process.hrtime.bigint();
    const run = spawnSync(process.env.PIXMAR, ['big.bmp'], { cwd: folder });
    const ms = Number(process.hrtime.bigint() - start) / 1e6;
    if (run.status !== 0)
        throw new Error('pixmar failed');
    return ms;
}

// The page's floor for `file`: from handing it to a worker to that worker's
// answer, once it has read the file and made a Blob of `size` bytes.
async function floor(page, file, size)
{
    await page.evaluate(() => document.body.append(Object.assign(document.createElement('input'), { type: 'file', id: 'floor' })));
    await (await page.$('#floor')).uploadFile(file);
    execFileSync('sync');
    return page.evaluate(async (size) => {
        const source = `postMessage('ready');
        onmessage = ({ data }) => {
            const bytes = new FileReaderSync().readAsArrayBuffer(data.file);
            const blob = new Blob([new Uint8Array(data.size)]);
            postMessage(bytes.byteLength + blob.size);
        };`;
        // Started before the clock, as the page's own worker is.
        const worker = new Worker(URL.createObjectURL(new Blob([source], { type: 'text/javascript' })));
        await new Promise((resolve) => { worker.onmessage = resolve; });
        const start = performance.now();
        await new Promise((resolve) => {
            worker.onmessage = resolve;
            worker.postMessage({ file: document.getElementById('floor').files[0], size });
        });
        worker.terminate();
        return performance.now() - start;
    }, size);
}

(async () => {
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'pixmar-web-bench-'));
    fs.copyFileSync(process.env.BITMAP, path.join(folder, 'big.bmp'));
    const browser = await puppeteer.launch({
        executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
        headless: true,
        args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
               '--disable-component-update', '--disable-sync'],
    });
    const times = { page: [], floor: [], preview: [], first: [], replace: [], steps: [], batch: [], loop: [] };
    for (let i = 0; i < runs; ++i) {
        fs.rmSync(path.join(folder, 'big.bmp.h'), { force: true });
        times.first.push(timeNative(folder));
        times.replace.push(timeNative(folder));
        const page = await browser.newPage();
        await page.goto(pathToFileURL(process.env.PIXMAR_PAGE).href);
        await page.waitForFunction(() => document.body.dataset.ready === 'yes', { polling: 10 });
        execFileSync('sync');
        await (await page.$('#image')).uploadFile(path.join(folder, 'big.bmp'));
        await page.waitForFunction(() => document.body.dataset.state === 'previewed', { polling: 5, timeout: 60000 });
        times.page.push(Number(await page.evaluate(() => document.body.dataset.convertedMs)));
        times.preview.push(Number(await page.evaluate(() => document.body.dataset.previewMs)));
        times.steps.push(JSON.parse(await page.evaluate(() => document.body.dataset.steps)));
        times.floor.push(await floor(page, path.join(folder, 'big.bmp'), fs.statSync(path.join(folder, 'big.bmp.h')).size));
        await page.close();
    }
    // A batch: 200 bitmaps of 64 x 64 dropped at once, converted and zipped,
    // against 200 runs of the command line in one shell loop.
    const sprites = path.join(folder, 'sprites');
    fs.mkdirSync(sprites);
    const names = Array.from({ length: 200 }, (_, i) => `sprite${i}.bmp`);
    for (const name of names)
        execFileSync(process.env.MAKE_NOISE, ['64', '64', path.join(sprites, name)]);
    for (let i = 0; i < runs; ++i) {
        const start = process.hrtime.bigint();
        execFileSync('sh', ['-c', 'for f in *.bmp; do "$0" "$f" >/dev/null; done', process.env.PIXMAR], { cwd: sprites });
        times.loop.push(Number(process.hrtime.bigint() - start) / 1e6);
        const page = await browser.newPage();
        await page.goto(pathToFileURL(process.env.PIXMAR_PAGE).href);
        await page.waitForFunction(() => document.body.dataset.ready === 'yes', { polling: 10 });
        await (await page.$('#image')).uploadFile(...names.map((name) => path.join(sprites, name)));
        await page.waitForFunction(() => document.body.dataset.state === 'done', { polling: 5, timeout: 120000 });
        await page.click('#download-all');
        await page.waitForFunction(() => document.body.dataset.zipMs !== undefined, { polling: 5, timeout: 60000 });
        times.batch.push(await page.evaluate(() => Number(document.body.dataset.batchMs) + Number(document.body.dataset.zipMs)));
        await page.close();
    }
    await browser.close();
    fs.rmSync(folder, { recursive: true, force: true });
    const page = median(times.page), first = median(times.first), replace = median(times.replace);
    console.log(`${os.arch()}, ${os.cpus().length} cores, ${new Date().toISOString().slice(0, 10)}, ${runs} runs each, medians`);
    console.log(`page ${page.toFixed(1)} ms; command line ${first.toFixed(1)} ms making the header, ${replace.toFixed(1)} ms replacing it`);
    console.log(`page / command line: ${(page / first).toFixed(2)} (making), ${(page / replace).toFixed(2)} (replacing)`);
    const least = median(times.floor);
    console.log(`the page's floor (read the file, make a Blob of the header's size) ${least.toFixed(1)} ms; page / floor: ${(page / least).toFixed(2)}`);
    console.log(`the preview on the page ${median(times.preview).toFixed(1)} ms after the header`);
    const steps = Object.keys(times.steps[0]).map((step) => `${step} ${median(times.steps.map((run) => run[step])).toFixed(1)} ms`);
    console.log(`in the worker: ${steps.join(', ')}; the rest is handing the file and the header between the page and the worker`);
    const batch = median(times.batch), loop = median(times.loop);
    console.log(`200 bitmaps of 64 x 64: the page ${batch.toFixed(1)} ms to convert them and make the zip; ` +
                `200 runs of the command line ${loop.toFixed(1)} ms; ${(batch / loop).toFixed(2)} times`);
})();
