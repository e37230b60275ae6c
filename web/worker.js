// Every job of the page, off the page's thread: reading the chosen file,
// decoding an image and making it a 24-bit bitmap, the conversion itself (the
// command line's own run), and the preview's pictures.
// Messages in:
//   { type: 'job', run, file, name, magicPink, transparentPink, crop, asImage,
//     preview, batch, sentAt }: one file; the jobs of a batch (batch set) come
//     all at once and do not cancel one another;
//   { type: 'cancel', run }: cancels every older job;
//   { type: 'zip', run, entries }: the headers of a batch in one zip.
// A newer job cancels an older one at its next step. Messages out, each with
// its job's run: progress (a step and how far it has got), converted (the
// run's lines, its status, the header's bytes, what was done to the picture,
// and how long each step took), refused (why the file was not converted),
// cancelled, headerBlob (a single file's header again, as a Blob), preview
// (the two pictures as bitmaps and the PSNR line) or previewFailed; and
// zipped for a zip.
'use strict';

let lines = [];
let job = null;     // the job being worked on
let latest = 0;     // the newest job asked for
const print = (line) => lines.push(line);
const onWritten = (bytes) => {
    if (job && job.expected > 0)
        postMessage({ type: 'progress', run: job.run, step: 'converting', fraction: Math.min(1, bytes / job.expected) });
};
const start = () => createPixmar({ print, printErr: print, onWritten });
let ready = start();
ready.then(() => postMessage({ type: 'ready' }));

const commandLines = () => lines.map((line) => line + '\n').join('');

// What the first bytes say the file is; null for no image kind the page knows.
function kindOf(bytes)
{
    const starts = (...values) => values.every((value, i) => bytes[i] === value);
    const text = (at, word) => [...word].every((letter, i) => bytes[at + i] === letter.charCodeAt(0));
    if (starts(0x89, 0x50, 0x4e, 0x47))
        return 'PNG';
    if (text(0, 'GIF8'))
        return 'GIF';
    if (starts(0xff, 0xd8, 0xff))
        return 'JPEG';
    if (text(0, 'RIFF') && text(8, 'WEBP'))
        return 'WebP';
    if (text(0, 'BM'))
        return 'BMP';
    return null;
}

// The most the page holds: a message carries less than 2 GiB, and the module
// holds 4 GiB in all: the bitmap, its pixels and the header's text, 12 bytes
// a pixel, with room to spare.
const kMaxHeaderBytes = 2 ** 31 - 1;
const kMaxModuleBytes = 3.5 * 2 ** 30;
const kReadWhole = 2 ** 20;

function tooLarge(width, height)
{
    return headerBytes(width, height) > kMaxHeaderBytes || width * height * 12 > kMaxModuleBytes;
}

// The file `name` of the module made of `bytes`; false when memory runs out.
function put(pixmar, name, bytes)
{
    const at = pixmar.ccall('pixmar_make_file', 'number', ['string', 'number'], [name, bytes.length]) >>> 0;
    if (at === 0 && bytes.length > 0)
        return false;
    pixmar.HEAPU8.set(bytes, at);
    return true;
}

// The bytes of the file `name` of the module, as they lie in its memory.
function view(pixmar, name)
{
    const size = pixmar.ccall('pixmar_file_size', 'number', ['string'], [name]);
    const at = pixmar.ccall('pixmar_file_bytes', 'number', ['string'], [name]) >>> 0;
    return pixmar.HEAPU8.subarray(at, at + size);
}

// A 32-bit little-endian field of a bitmap's headers (0 past the end).
const field = (bytes, offset) => (bytes.length >= offset + 4 ? new DataView(bytes.buffer, bytes.byteOffset).getInt32(offset, true) : 0);

const tooLargeProblem = (file, width, height) =>
    `${file} is ${width} x ${height} pixels: its header would be larger than this page can hold. Convert it with the command line.`;

// Makes the image `bytes` of `kind` the 24-bit bitmap `bitmap`: PNG, GIF and
// BMP decoded in the module, JPEG and WebP by the browser. Returns the
// bitmap's width and height and the notes on what was done to the picture,
// or the problem that stopped it.
async function makeBitmap(pixmar, data, kind, bitmap, whole)
{
    let width, height, rgba = null;
    if (kind === 'JPEG' || kind === 'WebP') {
        // The browser's own decoders, as stored: no colour-profile conversion.
        let image;
        try {
            image = await createImageBitmap(data.file, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
        } catch {
            return { problem: 'undecodable' };
        }
        width = image.width, height = image.height;
        if (tooLarge(width, height))
            return { problem: 'too large', width, height };
        const context = new OffscreenCanvas(width, height).getContext('2d', { willReadFrequently: true });
        context.drawImage(image, 0, 0);
        rgba = context.getImageData(0, 0, width, height).data;
    } else {
        if (!put(pixmar, 'image', whole || new Uint8Array(await data.file.arrayBuffer())))
            return { problem: 'no memory' };
        width = pixmar.ccall('pixmar_image_width', 'number', ['string'], ['image']);
        height = pixmar.ccall('pixmar_image_height', 'number', ['string'], ['image']);
        if (width === 0)
            return { problem: 'undecodable' };
        if (tooLarge(width, height))
            return { problem: 'too large', width, height };
    }
    if (rgba && !put(pixmar, 'image', rgba))
        return { problem: 'no memory' };
    lines = [];
    const made = pixmar.ccall('pixmar_image_to_bitmap', 'number', ['string', 'string', 'number', 'number', 'number', 'number'],
                              ['image', bitmap, rgba ? width : 0, rgba ? height : 0, data.transparentPink ? 1 : 0, data.crop ? 1 : 0]);
    if (made !== 0)
        return { problem: ['', 'undecodable', 'sixteen bits', 'no memory'][made] };
    width += width % 2 === 0 ? 0 : data.crop ? -1 : 1;
    return { width, height, notes: `made 24-bit from a ${kind}\n` + commandLines() };
}

// Gives the page's event loop a turn, so that a newer job can be seen.
const yieldTurn = () => new Promise((resolve) => setTimeout(resolve));

onmessage = ({ data }) => {
    if (data.type === 'zip') {
        queue = queue.then(() => zip(data));
        return;
    }
    if (!data.batch)
        latest = data.run;
    if (data.type === 'job')
        queue = queue.then(() => work(data));
};

// The headers of a batch in one zip, each entry under its header's name.
function zip(data)
{
    try {
        const archive = fflate.zipSync(Object.fromEntries(data.entries.map(({ name, bytes }) => [name, bytes])));
        postMessage({ type: 'zipped', run: data.run, zip: archive }, [archive.buffer]);
    } catch (error) {
        postMessage({ type: 'zipped', run: data.run, problem: `the zip could not be made: ${error}` });
    }
}
let queue = Promise.resolve();

async function work(data)
{
    job = data;
    const post = (message, transfer = []) => postMessage({ run: data.run, ...message }, transfer);
    try {
        await convert(data, post);
    } catch (error) {
        post({ type: 'refused', problem: `the page failed: ${error}` });
        // A module that has trapped is not used again.
        if (error instanceof WebAssembly.RuntimeError)
            ready = start();
    } finally {
        job = null;
        const pixmar = await ready;
        pixmar.ccall('pixmar_remove_files', null, [], []);
        pixmar.pageFile = null;
    }
}

async function convert(data, post)
{
    // How long each step took, for the benchmark to show where the time goes.
    const now = () => performance.timeOrigin + performance.now();  // the same clock as the page's
    const steps = { handover: Number((now() - data.sentAt).toFixed(1)) };
    let stepStart = performance.now();
    const timed = (step) => {
        const end = performance.now();
        steps[step] = Number((end - stepStart).toFixed(1));
        stepStart = end;
    };
    const pixmar = await ready;
    const stale = () => data.run < latest;
    let width = 0, height = 0, notes = '', asImageOffered = false;
    post({ type: 'progress', step: 'reading', fraction: 0 });
    const bitmap = data.name + '.bmp';
    const refuse = (problem) => post({ type: 'refused', problem });
    const noMemory = 'ERROR: not enough memory for the image';
    try {
        // A small file is read whole at once; of a large one, its first bytes
        // tell what it is first, so that one too large is refused unread.
        const whole = data.file.size <= kReadWhole ? new Uint8Array(await data.file.arrayBuffer()) : null;
        const head = whole ? whole.subarray(0, 32) : new Uint8Array(await data.file.slice(0, 32).arrayBuffer());
        const kind = kindOf(head);
        let made = null;
        // A 24-bit bitmap, and a file of no kind a decoder knows, go to the
        // converter as they are: its checks say what they are. So does a
        // bitmap that the decoder gives up on.
        if (kind !== null && !(kind === 'BMP' && head[28] === 24 && head[29] === 0 && !data.asImage)) {
            post({ type: 'progress', step: 'decoding', fraction: 0 });
            made = await makeBitmap(pixmar, data, kind, bitmap, whole);
            if (made.problem === 'undecodable' && kind === 'BMP' && !data.asImage)
                made = null;
            else if (made.problem)
                return refuse(made.problem === 'undecodable' ? `${data.file.name}: a ${kind} image that cannot be decoded: damaged or unsupported.`
                              : made.problem === 'sixteen bits' ? `${data.file.name}: a PNG of 16 bits a sample, which the page does not take: save it with 8 bits a sample (the README's recipes do).`
                              : made.problem === 'too large' ? tooLargeProblem(data.file.name, made.width, made.height) : noMemory);
        }
        ({ width, height } = made || { width: Math.abs(field(head, 18)), height: Math.abs(field(head, 22)) });
        if (!made) {
            if (kind === 'BMP' && tooLarge(width, height))
                return refuse(tooLargeProblem(data.file.name, width, height));
            // The bitmap stays in the worker's memory, read from there by the converter.
            pixmar.pageFile = whole || new Uint8Array(await data.file.arrayBuffer());
            pixmar.ccall('pixmar_name_page_file', null, ['string', 'number'], [bitmap, pixmar.pageFile.length]);
        }
        notes = made ? made.notes : '';
        asImageOffered = !made && kind === 'BMP';
    } catch (error) {
        // A file changed or removed since it was chosen.
        if (!(error instanceof DOMException))
            throw error;
        return refuse(`${data.file.name} cannot be read any more (${error.name}): choose it again.`);
    }
    timed('read');
    if (stale())
        return post({ type: 'cancelled' });

    post({ type: 'progress', step: 'converting', fraction: 0 });
    lines = [];
    data.expected = headerBytes(width, height);
    const status = pixmar.ccall('pixmar_convert', 'number', ['string', 'number', 'number'], [bitmap, data.magicPink ? 1 : 0, data.expected]);
    timed('convert');
    const converted = { type: 'converted', status, messages: commandLines(), notes, steps };
    if (status !== 0) {
        // A bitmap whose info header the converter refuses but the decoder reads
        // (its headers are enough to tell) can be converted as an image.
        converted.asImage = asImageOffered && status === 4 && put(pixmar, 'image', pixmar.pageFile.subarray(0, 4096)) &&
                            pixmar.ccall('pixmar_image_width', 'number', ['string'], ['image']) > 0;
        post(converted);
        return;
    }
    // A copy that the page takes without a copy of its own, to show at once.
    converted.header = view(pixmar, bitmap + '.h').slice();
    timed('take');
    converted.sentAt = now();
    post(converted, [converted.header.buffer]);
    if (data.preview === false)
        return;
    // The header again as a Blob for Download and Copy: making one copies it,
    // which is done here rather than on the page's thread.
    post({ type: 'headerBlob', header: new Blob([view(pixmar, bitmap + '.h')], { type: 'text/plain' }) });

    await yieldTurn();
    if (stale())
        return;
    post({ type: 'progress', step: 'preview', fraction: 0 });
    lines = [];
    const previewed = pixmar.ccall('pixmar_preview', 'number', ['string', 'string', 'string', 'string'],
                                   [bitmap + '.h', bitmap, 'original.rgba', 'decoded.rgba']);
    if (previewed !== 0) {
        post({ type: 'previewFailed', why: previewed === 2 ? 'The preview did not fit in the page\'s memory; the header is whole.'
                                                           : 'The preview could not be made.' });
        return;
    }
    // Made from the module's memory as it stands: nothing runs in the module
    // meanwhile, and the bitmap keeps a copy of its own.
    const picture = async (name) => {
        const at = pixmar.ccall('pixmar_file_bytes', 'number', ['string'], [name]) >>> 0;
        const rgba = new Uint8ClampedArray(pixmar.HEAPU8.buffer, at, width * height * 4);
        return width > 0 && height > 0 ? createImageBitmap(new ImageData(rgba, width, height)) : null;
    };
    const original = await picture('original.rgba'), decoded = await picture('decoded.rgba');
    post({ type: 'preview', psnr: commandLines().trim(), original, decoded }, original ? [original, decoded] : []);
}
