// Every job of the page, off the page's thread: the converter's own run on
// the chosen file (or on the image it decodes), and the preview's pictures.
// The module reads the file itself (Module.pageFile; its first 64 KiB once
// a job, kept with Module.pageHeadOf naming their file) and hands back its
// message lines, its notes and the header's blocks as it makes them.
// Messages in:
//   { type: 'job', run, file, name, magicPink, transparentPink, crop, asImage,
//     preview, batch, room, sentAt }: one file (room: the width in pixels
//     the page has for each preview picture); the jobs of a batch (batch set) come
//     all at once and do not cancel one another;
//   { type: 'cancel', run }: cancels every older job;
//   { type: 'estimate', run, files, names }: about how long the headers of
//     a batch's files are, in all;
//   { type: 'zip', run, entries }: the headers of a batch in one zip.
// A newer single file's job cancels an older one at its next step, and goes
// before the batch's jobs still waiting; a cancel cancels every older job.
// Messages out, each with its job's run: progress (a step and how far it has
// got), converted (the run's lines, its status, the header (a batch's whole, a
// single file's first bytes and size), what was done to the picture, the kind
// of image decoded, a problem the page found beside them, and how long each
// step took), refused (why the file was not converted), cancelled, headerBlob
// (a single file's header as a Blob), preview (the two pictures as bitmaps,
// the PSNR line and the key's line, map and places) or previewFailed; a
// batch's converted also has its key counts; estimated for an estimate and
// zipped for a zip.
'use strict';

let job = null;     // the job being worked on
let latest = 0;     // the newest single file's job asked for
let cancelled = 0;  // every job older than this one is cancelled
let found = null;   // what the module has handed back for the job in hand

// What the module calls back while it works on a job.
const callbacks = {
    onLine: (line) => found.lines.push(line),
    onNote: (note) => found.notes.push(note),
    onRefused: (reason, width, height) => { found.refused = { reason, width, height }; },
    onReadFailed: (error) => { found.readFailed = found.readFailed || error; },
    onHeaderCreate(size) {
        // What the worker can keep, and hand to the page, in one piece.
        if (size >= 2 ** 31) {
            found.tooLarge = true;
            return false;
        }
        try {
            found.header = new Uint8Array(size);
        } catch {
            found.tooLarge = true;
            return false;
        }
        found.written = 0;
        return true;
    },
    onHeaderBlock(block) {
        found.header.set(block, found.written);
        found.written += block.length;
        if (job)
            postMessage({ type: 'progress', run: job.run, step: 'converting', fraction: found.written / found.header.length });
    },
    onHeaderFinish(complete) {
        if (!complete)
            found.header = null;
    },
    onPictures: (original, decoded, width, height) => { found.pictures = { original, decoded, width, height }; },
    onKey: (line, map, list, width, height) => { found.key = { line, map, list, width, height }; },
};
const start = () => createPixmar(callbacks);
let ready = start();
ready.then(() => postMessage({ type: 'ready' }));

const tooLargeProblem = (file, width, height) => (width > 0
    ? `${file} is ${width} x ${height} pixels: its header would be larger than this page can hold. Convert it with the command line.`
    : `${file}: its header would be larger than this page can hold. Convert it with the command line.`);

const problems = {
    'undecodable': (data, kind) => `${data.file.name}: a ${kind} image that cannot be decoded: damaged or unsupported.`,
    'OS/2 bitmap': (data) => `${data.file.name}: an OS/2 bitmap (12-byte header), which the page does not take: save it as a Windows bitmap first (the README's recipes do).`,
    'transparency': (data, kind) => `${data.file.name}: a ${kind} with transparency, whose stored colours the browser does not give exactly: save it as a PNG first (the README's recipes do).`,
    'sixteen bits': (data) => `${data.file.name}: a PNG of 16 bits a sample, which the page does not take: save it with 8 bits a sample (the README's recipes do).`,
    'too large': (data, kind, refused) => tooLargeProblem(data.file.name, refused.width, refused.height),
    'no memory': () => 'ERROR: not enough memory for the image',
};

// Gives the worker's event loop a turn, so that a newer job or a cancel can
// be seen: a message to itself, which no timer's clamping delays.
const turns = new MessageChannel();
const waitingTurns = [];
turns.port1.onmessage = () => waitingTurns.shift()();
const yieldTurn = () => new Promise((resolve) => {
    waitingTurns.push(resolve);
    turns.port2.postMessage(null);
});

onmessage = ({ data }) => {
    if (data.type === 'cancel')
        cancelled = data.run;
    else if (data.type === 'job' && !data.batch)
        latest = data.run;
    if (data.type === 'zip' || data.type === 'estimate')
        enqueue(() => (data.type === 'zip' ? zip(data) : estimate(data)), false);
    else if (data.type === 'job')
        enqueue(() => work(data), !data.batch);
};

// The tasks waiting, worked on one at a time: a single file's job first.
const pending = [];
let working = false;
async function enqueue(task, first)
{
    if (first)
        pending.unshift(task);
    else
        pending.push(task);
    if (working)
        return;
    working = true;
    while (pending.length > 0)
        await pending.shift()();
    working = false;
}

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

// About how long a batch's headers are: what each file's first bytes tell
// the module, or, where they tell nothing (JPEG, WebP), a guess from its size.
async function estimate(data)
{
    const pixmar = await ready;
    let total = 0;
    data.files.forEach((file, index) => {
        pixmar.pageFile = file;
        found = { readFailed: null };
        total += pixmar.ccall('pixmar_header_estimate', 'number', ['string'], [data.names[index]]) || file.size * 24;
    });
    pixmar.pageFile = pixmar.pageHeadOf = null;  // the next job reads its file afresh
    postMessage({ type: 'estimated', run: data.run, total });
}

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
        found = null;
        const pixmar = await ready;
        pixmar.ccall('pixmar_forget', null, [], []);
        pixmar.pageFile = pixmar.pageHeadOf = null;  // the next job reads its file afresh
    }
}

// The RGBA rows of a JPEG or WebP, which the browser decodes, in the
// module's memory for pixmar_convert_image; or the problem that stopped it.
async function browserDecoded(pixmar, data, bitmap)
{
    // The file's own header tells its size, so that one too large is refused
    // before the browser decodes it whole.
    const [told, toldHeight, orientation] = pixmar.ccall('pixmar_browser_image', 'string', [], []).split(' ').map(Number);
    if (told > 0 && !pixmar.ccall('pixmar_fits', 'number', ['string', 'number', 'number'], [bitmap, told, toldHeight]))
        return { problem: 'too large', width: told, height: toldHeight };
    let image;
    try {
        // As stored: no colour-profile conversion.
        image = await createImageBitmap(data.file, { colorSpaceConversion: 'none', premultiplyAlpha: 'none' });
    } catch {
        return { problem: 'undecodable' };
    }
    const { width, height } = image;
    if (!pixmar.ccall('pixmar_fits', 'number', ['string', 'number', 'number'], [bitmap, width, height]))
        return { problem: 'too large', width, height };
    const context = new OffscreenCanvas(width, height).getContext('2d', { willReadFrequently: true });
    context.drawImage(image, 0, 0);
    const rgba = context.getImageData(0, 0, width, height).data;
    // A canvas keeps colours premultiplied by alpha: a partly transparent
    // pixel comes back changed, and a fully transparent one black, so only a
    // fully transparent pixel that becomes the key colour comes back exact.
    for (let alpha = 3; alpha < rgba.length; alpha += 4) {
        if (rgba[alpha] !== 255 && (rgba[alpha] !== 0 || !data.transparentPink))
            return { problem: 'transparency' };
    }
    const at = pixmar.ccall('pixmar_allocate', 'number', ['number'], [rgba.length]) >>> 0;
    if (at === 0)
        return { problem: 'no memory' };
    pixmar.HEAPU8.set(rgba, at);
    // The browser always turns a JPEG as its EXIF orientation asks.
    const turned = orientation > 1 ? [`shown turned as the file asks (EXIF orientation ${orientation}), as ImageMagick's -auto-orient does`] : [];
    return { at, width, height, turned };
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
    const stale = () => data.run < cancelled || (!data.batch && data.run < latest);
    await yieldTurn();
    if (stale())
        return post({ type: 'cancelled' });
    const bitmap = data.name + '.bmp';
    found = { lines: [], notes: [], refused: null, readFailed: null, header: null, written: 0, tooLarge: false, pictures: null };
    pixmar.pageFile = data.file;
    post({ type: 'progress', step: 'reading', fraction: 0 });
    const convertFile = () => {
        found.lines = [];
        post({ type: 'progress', step: 'converting', fraction: 0 });
        return pixmar.ccall('pixmar_convert_file', 'number', ['string', 'number'], [bitmap, data.magicPink ? 1 : 0]);
    };

    // A 24-bit bitmap, and a file of no image kind the page knows, go to the
    // converter as they are: its checks say what they are. Any other image
    // is decoded and goes to it as pixels.
    const kind = pixmar.ccall('pixmar_image_kind', 'string', ['number'], [data.asImage ? 1 : 0]);
    let status, problem = '', asImage = false, notes = '';
    if (kind === '') {
        status = convertFile();
        // A bitmap whose info header the converter refuses but the decoder
        // reads can be converted as an image.
        asImage = status === 4 && pixmar.ccall('pixmar_can_decode', 'number', [], []) !== 0;
    } else {
        post({ type: 'progress', step: 'decoding', fraction: 0 });
        let decoded = { at: 0, width: 0, height: 0 };
        if (kind === 'JPEG' || kind === 'WebP')
            decoded = await browserDecoded(pixmar, data, bitmap);
        if (stale()) {
            pixmar._free(decoded.at || 0);
            return post({ type: 'cancelled' });
        }
        status = decoded.problem ? -1
            : pixmar.ccall('pixmar_convert_image', 'number', ['string', 'number', 'number', 'number', 'number', 'number', 'number', 'number'],
                           [bitmap, data.magicPink ? 1 : 0, data.transparentPink ? 1 : 0, data.crop ? 1 : 0, decoded.at,
                            decoded.width, decoded.height, 1]);
        const refused = decoded.problem ? decoded : found.refused && { problem: found.refused.reason, ...found.refused };
        if (status >= 0) {
            notes = [`made 24-bit from a ${kind}`, ...(decoded.turned || []), ...found.notes].map((note) => note + '\n').join('');
        } else if (refused.problem !== 'undecodable') {
            return post({ type: 'refused', problem: problems[refused.problem](data, kind, refused) });
        } else {
            // What the command line says of the file goes with the page's own
            // explanation; a bitmap the decoder gives up on has only the former.
            if (kind !== 'BMP' || data.asImage)
                problem = problems.undecodable(data, kind);
            status = convertFile();
        }
    }
    timed('convert');
    // A file changed or removed since it was chosen.
    if (found.readFailed)
        return post({ type: 'refused', problem: `${data.file.name} cannot be read any more (${found.readFailed}): choose it again.` });
    if (found.tooLarge)
        problem = tooLargeProblem(data.file.name, 0, 0);
    // decodedAs: the kind of image decoded for the converter, '' where it read the file itself.
    const converted = { type: 'converted', status, messages: found.lines.join(''), notes, decodedAs: notes === '' ? '' : kind,
                        problem, asImage, steps };
    if (status !== 0)
        return post(converted);
    const header = found.header;
    found.header = null;
    if (data.preview === false) {
        converted.header = header;
        converted.key = pixmar.ccall('pixmar_key_counts', 'string', [], []);
        return post(converted, [header.buffer]);
    }
    // The page shows the header's first lines at once; the Blob for Download
    // and Copy is made here, so that the page's thread never copies it.
    converted.headerStart = header.slice(0, 4096);
    converted.headerSize = header.length;
    converted.sentAt = now();
    post(converted);
    post({ type: 'headerBlob', header: new Blob([header], { type: 'text/plain' }) });

    await yieldTurn();
    if (stale())
        return;
    post({ type: 'progress', step: 'preview', fraction: 0 });
    const at = pixmar.ccall('pixmar_allocate', 'number', ['number'], [header.length]) >>> 0;
    if (at !== 0)
        pixmar.HEAPU8.set(header, at);
    found.refused = null;
    found.key = null;
    const psnr = at === 0 ? '' : pixmar.ccall('pixmar_preview', 'string', ['number', 'number'], [at, header.length]);
    if (psnr === '') {
        post({ type: 'previewFailed', why: at === 0 || (found.refused && found.refused.reason === 'no memory')
            ? 'The preview did not fit in the page\'s memory; the header is whole.' : 'The preview could not be made.' });
        return;
    }
    // Made from the module's memory as it stands: nothing runs in the module
    // meanwhile, and each bitmap keeps a copy of its own.
    const { original, decoded, width, height } = found.pictures;
    // A picture wider than the page's room for it also comes scaled to fit
    // there, which the page draws at once however large the image.
    const fit = width > data.room
        ? { resizeWidth: data.room, resizeHeight: Math.max(1, Math.round(height * data.room / width)), resizeQuality: 'medium' } : null;
    const picture = (rgba, scaled) => (width > 0 && height > 0
        ? createImageBitmap(new ImageData(new Uint8ClampedArray(pixmar.HEAPU8.buffer, rgba, width * height * 4), width, height),
                            ...(scaled ? [scaled] : []))
        : null);
    const pictures = [await picture(original), await picture(decoded)];
    const fitted = pictures[0] && fit ? [await picture(original, fit), await picture(decoded, fit)] : null;
    const key = await keyOfPreview(picture);
    post({ type: 'preview', psnr: psnr.trim(), original: pictures[0], decoded: pictures[1], fit: fitted, ...key },
         [...(pictures[0] ? pictures : []), ...(fitted || []), ...(key.keyMap ? [key.keyMap] : [])]);
}

// The key's line, its map as a bitmap and the places of its half-pink pairs
// and near-pink pixels (row from the top, column, 1 for half-pink), as the
// module reported them.
async function keyOfPreview(picture)
{
    if (!found.key)
        return { key: '', keyMap: null, keySpots: new Uint32Array(0) };
    const { line, map, list } = found.key;
    const lines = list.split('\n').filter((entry) => entry !== '');
    const keySpots = new Uint32Array(lines.length * 3);
    lines.forEach((entry, i) => {
        const [row, column, kind] = entry.split(',');
        keySpots.set([Number(row), Number(column), kind === 'half-pink' ? 1 : 0], i * 3);
    });
    return { key: line.trim(), keyMap: await picture(map), keySpots };
}
