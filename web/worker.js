// The conversion, off the page's thread. One message in: the bitmap's bytes,
// the bare file name it converts under, the Magic Pink switch and the header's
// expected size. Messages out: progress while the header is written, then
// the run's lines (as the command line prints them), its status, the header's
// bytes, and the two pictures for the preview.
'use strict';

let lines = [];
let spare = null;  // storage made ready for the header while the page reads the bitmap
const ready = createPixmar({ print: (line) => lines.push(line), printErr: (line) => lines.push(line) }).then((pixmar) => {
    // The in-memory file system grows a file by an eighth at a time past
    // 1 MiB, copying it whole each time: a 98 MiB header would be copied some
    // forty times. Here it takes the storage prepared for the header at
    // once, and doubles beyond that.
    const MEMFS = pixmar.FS.filesystems.MEMFS;
    const expand = MEMFS.expandFileStorage;
    MEMFS.expandFileStorage = (node, capacity) => {
        const previous = node.contents ? node.contents.length : 0;
        if (capacity <= previous)
            return;
        if (spare && spare.length >= capacity) {
            spare.set(node.contents.subarray(0, node.usedBytes));
            node.contents = spare;
            spare = null;
            return;
        }
        expand(node, Math.max(capacity, previous * 2));
    };
    return pixmar;
});

// Storage for a header of `bytes`, touched once: the system gives new memory
// a page at a time on first use, which would otherwise slow the writing.
function prepare(bytes)
{
    try {
        spare = new Uint8Array(bytes);
        for (let at = 0; at < bytes; at += 4096)
            spare[at] = 0;
    } catch {
        spare = null;  // too much to hold: the file system grows the header as it comes
    }
}
ready.then(() => postMessage({ type: 'ready' }));

// Each block pixmar writes reports how far the header has got.
function watchWrites(FS, expected)
{
    const write = FS.write;
    let written = 0;
    FS.write = function (stream, buffer, offset, length, position, canOwn) {
        const count = write.call(FS, stream, buffer, offset, length, position, canOwn);
        written += count;
        if (length > 4096)
            postMessage({ type: 'progress', fraction: Math.min(1, written / expected) });
        return count;
    };
    return () => { FS.write = write; };
}

// A file's bytes without a copy: its storage is handed over, and the file removed.
function takeFile(FS, path)
{
    const node = FS.lookupPath(path).node;
    const bytes = node.contents.subarray(0, node.usedBytes);
    FS.unlink(path);
    return bytes;
}

// A file made of `bytes` without a copy: the file system keeps them as its storage.
function giveFile(FS, path, bytes)
{
    const stream = FS.open(path, 'w');
    FS.write(stream, bytes, 0, bytes.length, 0, true);
    FS.close(stream);
}

onmessage = async ({ data }) => {
    try {
        if (data.type === 'prepare')
            prepare(data.expectedBytes);
        else
            await (data.type === 'preview' ? preview(data) : convert(data));
    } catch (error) {
        postMessage({ type: 'converted', run: data.run, status: -1, messages: `the page failed: ${error}\n` });
    }
};

// Converts the bitmap; the header goes to the page, which hands it back for the preview.
async function convert(data)
{
    const pixmar = await ready;
    const FS = pixmar.FS;
    FS.mkdirTree('/run');
    FS.chdir('/run');
    for (const name of FS.readdir('.').filter((name) => name !== '.' && name !== '..'))
        FS.unlink(name);
    lines = [];
    giveFile(FS, data.name, new Uint8Array(data.bytes));
    const unwatch = watchWrites(FS, data.expectedBytes);
    const status = pixmar.ccall('pixmar_convert', 'number', ['string', 'number'], [data.name, data.magicPink ? 1 : 0]);
    spare = null;
    unwatch();
    const converted = { type: 'converted', run: data.run, status, messages: lines.map((line) => line + '\n').join('') };
    if (status !== 0) {
        postMessage(converted);
        return;
    }
    converted.header = takeFile(FS, data.name + '.h');
    postMessage(converted, [converted.header.buffer]);
}

// Decodes the header the page handed back, beside the bitmap it came from.
async function preview(data)
{
    const pixmar = await ready;
    const FS = pixmar.FS;
    giveFile(FS, data.name + '.h', data.header);
    lines = [];
    if (pixmar.ccall('pixmar_preview', 'number', ['string', 'string', 'string', 'string'],
                     [data.name + '.h', data.name, 'original.rgba', 'decoded.rgba']) === 0) {
        const original = takeFile(FS, 'original.rgba'), decoded = takeFile(FS, 'decoded.rgba');
        postMessage({ type: 'preview', run: data.run, psnr: lines.join(' '), original, decoded },
                    [original.buffer, decoded.buffer]);
    }
}
