// Many files at once: each is converted in the worker by the rules of a single
// file (with the page's current choices, under its bare file name), one after
// another, with one progress bar for the whole batch and a way to cancel it.
// #results lists every file with its header's name and size and the last line
// the command line would print for it, or why it was not converted, under a
// #summary of how many converted, were refused and clash; any row's name
// shows that file as a single one (a refused one with its refusal), and
// #download-all gives every header in one zip.
'use strict';

let batch = null;           // the last batch: its files and rows
const waiting = new Map();  // the batch's job in the worker -> what takes its answer
let zipRun = 0;
const zipAnswers = new Map();  // the same for zips

// The most the headers of one batch may hold: the page keeps them, and the
// zip made of them, at once.
const kMaxBatchBytes = 2 ** 30;

// About how long the headers of `files` are, in all, as the worker's module
// reads them from their first bytes.
const estimates = new Map();  // the worker's estimate job -> what takes its answer
function estimateHeaderBytes(files, names)
{
    const job = ++zipRun;
    worker.postMessage({ type: 'estimate', run: job, files, names });
    return new Promise((resolve) => estimates.set(job, resolve));
}

const lastLine = (messages) => messages.trimEnd().split('\n').pop() || '';

// Answers for the batch's jobs; false for a message that is not one.
function batchAnswer(data)
{
    const answer = waiting.get(data.run);
    if (!answer)
        return false;
    if (['converted', 'refused', 'cancelled'].includes(data.type)) {
        waiting.delete(data.run);
        answer(data);
    }
    return true;
}

// A converted file's half-pink pairs and near-pink pixels, as the worker counted them.
const keyCounts = (row) => (row.key ? `; ${row.key}` : '');

// The row of the batch's file `index`, as it stands.
function resultRow(index)
{
    const row = batch.rows[index];
    const line = document.createElement('tr');
    const cell = (content) => line.appendChild(document.createElement('td')).append(content);
    const name = Object.assign(document.createElement('button'), { type: 'button', textContent: row.file.name });
    name.addEventListener('click', () => showRow(index));
    cell(name);
    cell(row.header ? `${row.name}.bmp.h, ${row.header.length.toLocaleString('en')} bytes${keyCounts(row)}` : '');
    cell(row.last);
    const download = Object.assign(document.createElement('button'), { type: 'button', textContent: 'Download' });
    download.hidden = !row.header;
    download.addEventListener('click', () => save(new Blob([row.header], { type: 'text/plain' }), `${row.name}.bmp.h`));
    cell(download);
    return line;
}

// Shows one file of the batch as a single file: its messages, header and
// pictures, or its refusal; below a long list, so it is scrolled to.
function showRow(index)
{
    chosen = batch.rows[index].file;
    asImage = false;
    $('name').value = '';
    convert();
    $('printed').scrollIntoView();
}

// How the batch stands, in counts.
function summarise()
{
    const count = (test) => batch.rows.filter(test).length;
    const clashing = count((row) => row.clash);
    const waiting = count((row) => !row.last);
    const cancelled = count((row) => row.cancelled);
    const converted = count((row) => row.header);
    const refused = batch.rows.length - converted - clashing - waiting - cancelled;
    $('summary').textContent = `${converted} converted, ${refused} refused, ${clashing} clashing` +
                               (cancelled ? `, ${cancelled} cancelled` : '') + (waiting ? `, ${waiting} to go` : '') + '.';
}

async function convertBatch(files)
{
    // What the worker still has to do for an older choice goes.
    worker.postMessage({ type: 'cancel', run: ++run });
    const begun = performance.now();
    clearResult();
    // Working from the start: the estimate of a batch of hundreds takes a while.
    document.body.dataset.state = 'working';
    chosen = null;
    $('name').value = '';
    const mine = batch = { files, rows: files.map((file) => ({ file, name: bareName(file), header: null, last: '' })) };
    // Names that give no C names, and files that would give the same header, are refused first.
    const byHeader = Map.groupBy(batch.rows, (row) => row.name);
    for (const row of batch.rows) {
        const same = byHeader.get(row.name);
        if (!cIdentifier.test(row.name))
            row.last = `"${row.file.name}" gives no C names: convert it alone and type one.`;
        else if ((row.clash = same.length > 1))
            row.last = `${same.map((other) => other.file.name).join(' and ')} would ${same.length === 2 ? 'both' : 'all'} make ` +
                       `${row.name}.bmp.h: rename ${same.length === 2 ? 'one' : 'all but one'}.`;
    }
    const total = await estimateHeaderBytes(files, batch.rows.map((row) => `${row.name}.bmp`));
    if (batch !== mine)
        return;  // a newer choice took over
    if (total > kMaxBatchBytes) {
        problem(`These ${files.length} files would make about ${Math.round(total / 2 ** 20).toLocaleString('en')} MiB of headers, ` +
                `more than the page can hold in one zip (${kMaxBatchBytes / 2 ** 20} MiB): convert fewer at a time, or use the command line.`);
        document.body.dataset.state = 'done';
        return;
    }
    $('results').querySelector('tbody').replaceChildren(...batch.rows.map((row, index) => resultRow(index)));
    summarise();
    show($('results'), true);
    show($('working'), true);
    show($('cancel'), true);
    // Every job goes to the worker at once; it converts them in turn, and each
    // answer updates its row.
    const options = { magicPink: $('magic-pink').checked, transparentPink: $('transparent-pink').checked,
                      crop: $('odd-width').value === 'crop', asImage: false, preview: false, batch: true };
    const jobs = batch.rows.filter((row) => !row.last);
    let done = 0;
    $('progress').value = 0;
    $('step').textContent = `converting 1 of ${jobs.length}…`;
    await Promise.all(batch.rows.map((row, index) => {
        if (row.last)
            return null;
        const job = ++run;
        worker.postMessage({ type: 'job', run: job, file: row.file, name: row.name, ...options, sentAt: now() });
        return new Promise((resolve) => waiting.set(job, resolve)).then((answer) => {
            if (batch !== mine)
                return;
            if (answer.type === 'cancelled') {
                row.last = 'not converted: the batch was cancelled';
                row.cancelled = true;
            } else {
                row.last = answer.type === 'refused' ? answer.problem : lastLine(answer.messages);
                row.header = answer.status === 0 ? answer.header : null;
                row.key = answer.status === 0 ? answer.key : '';
            }
            $('results').querySelector('tbody').rows[index].replaceWith(resultRow(index));
            summarise();
            // A row opened meanwhile had the bar for its own job.
            show($('working'), true);
            show($('cancel'), true);
            $('progress').value = ++done / jobs.length;
            $('step').textContent = `converting ${Math.min(done + 1, jobs.length)} of ${jobs.length}…`;
        });
    }));
    if (batch !== mine)
        return;
    show($('working'), false);
    show($('cancel'), false);
    $('download-all').disabled = !batch.rows.some((row) => row.header);
    document.body.dataset.batchMs = (performance.now() - begun).toFixed(1);  // for the benchmark
    document.body.dataset.state = 'done';
}

// Chooses what the user picked or dropped: one file alone, or a batch.
function chooseFiles(files)
{
    if (files.length > 1)
        return convertBatch(files);
    batch = null;
    show($('results'), false);
    choose(files[0] || null);
}

// Cancelling makes every job of the batch that has not started answer at once.
$('cancel').addEventListener('click', () => worker.postMessage({ type: 'cancel', run: ++run }));
$('download-all').addEventListener('click', () => {
    const entries = batch.rows.filter((row) => row.header).map((row) => ({ name: `${row.name}.bmp.h`, bytes: row.header }));
    const job = ++zipRun;
    const begun = performance.now();
    $('download-all').disabled = true;
    zipAnswers.set(job, (data) => {
        document.body.dataset.zipMs = (performance.now() - begun).toFixed(1);
        $('download-all').disabled = false;
        if (data.problem)
            problem(data.problem);
        else
            save(new Blob([data.zip], { type: 'application/zip' }), 'pixmar-headers.zip');
    });
    worker.postMessage({ type: 'zip', run: job, entries });
});
