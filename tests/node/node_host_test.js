// kestrine.dll driven from Node.js for Windows through koffi, declared by the
// example's own loadKestrine: every export's results, a card window coming
// and going, and four worker threads updating one card at once.
//   node node_host_test.js path\to\kestrine.dll
// Prints one line per check; exit code 0 when all of them held.
'use strict';
const path = require('path');
const { Worker, isMainThread, workerData, parentPort } = require('worker_threads');
const koffi = require('koffi');
const { loadKestrine, seriesText, DEFAULT_COLOR } =
    require(path.join(__dirname, '..', '..', 'examples', 'node', 'kestrine-card.js'));

const WORKERS = 4;
const CALLS_PER_WORKER = 25;

function points(count, seed) {
    const out = [];
    for (let i = 0; i < count; i++) out.push([i * 10, Math.round(1000 * Math.sin(i / 7 + seed))]);
    return out;
}

if (!isMainThread) {
    // A worker: its own koffi handle on the DLL, animated hand-overs to the
    // open card as fast as it can, every result and the slowest return sent back.
    const kestrine = loadKestrine(workerData.dll);
    const results = [];
    let slowest = 0;
    for (let i = 0; i < CALLS_PER_WORKER; i++) {
        const started = process.hrtime.bigint();
        results.push(kestrine.ShowKestrine(seriesText(points(200, workerData.index * 100 + i)),
                                           `worker ${workerData.index}`, null, `${i}`, null,
                                           1, 0, 1, 0.5, i % 2, DEFAULT_COLOR, DEFAULT_COLOR));
        slowest = Math.max(slowest, Number(process.hrtime.bigint() - started) / 1e6);
    }
    parentPort.postMessage({ results, slowest });
    return;
}

const user32 = koffi.load('user32.dll');
const HWND = koffi.pointer('HWND', koffi.opaque());
const FindWindowExW = user32.func('HWND __stdcall FindWindowExW(HWND parent, HWND after, str16 cls, str16 title)');
const GetWindowThreadProcessId = user32.func('uint32_t __stdcall GetWindowThreadProcessId(HWND window, _Out_ uint32_t *pid)');
const GetWindowTextW = user32.func('int __stdcall GetWindowTextW(HWND window, _Out_ uint16_t *text, int size)');

let failures = 0;
function check(ok, what) {
    console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
    if (!ok) failures++;
}
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// This process's card windows (class "KestrineWindow").
function ownCards() {
    const cards = [];
    for (let window = null; (window = FindWindowExW(null, window, 'KestrineWindow', null));) {
        const pid = [0];
        GetWindowThreadProcessId(window, pid);
        if (pid[0] === process.pid) cards.push(window);
    }
    return cards;
}
async function waitForCards(count, ms) {
    const deadline = Date.now() + ms;
    while (ownCards().length !== count && Date.now() < deadline) await sleep(20);
    return ownCards();
}
function windowTitle(window) {
    const buffer = new Uint16Array(64);
    const length = GetWindowTextW(window, buffer, buffer.length);
    return String.fromCharCode(...buffer.subarray(0, length));
}

async function main() {
    const dll = process.argv[2];
    const kestrine = loadKestrine(dll);
    console.log(`node ${process.version} ${process.arch}, koffi ${koffi.version}`);

    check(kestrine.KestrineVersion() === 100, 'KestrineVersion() is 100');
    check(kestrine.CloseKestrine() === 0, 'CloseKestrine() with no card is 0');
    const show = (series) => kestrine.ShowKestrine(series, '本日の損益', null, null, null,
                                                   0, 0, 1, 1.5, 1, DEFAULT_COLOR, DEFAULT_COLOR);
    check(show(null) === -1, 'ShowKestrine(null series) is -1');
    check(show('') === -1, 'ShowKestrine("") is -1');
    check(show('abc;;def') === -1, 'ShowKestrine of items without ":" is -1');
    await sleep(200);
    check(ownCards().length === 0, 'no card after the refused calls');

    const rc = kestrine.ShowKestrine(seriesText(points(500, 0)), '本日の損益', 'Node.js',
                                     '+1,234', '注記', 0, 0, 1, 1.0, 0, 0x0000FF, DEFAULT_COLOR);
    check(rc === 0, `ShowKestrine(500 points, Japanese title) is 0 (got ${rc})`);
    let cards = await waitForCards(1, 10000);
    check(cards.length === 1, `one card window appears (found ${cards.length})`);
    if (cards.length !== 1) return;
    const card = koffi.address(cards[0]);
    check(windowTitle(cards[0]) === 'Kestrine', `its title is "Kestrine" ("${windowTitle(cards[0])}")`);

    // While the workers call, the main thread keeps counting card windows.
    const counts = new Set();
    let sampling = true;
    const sampler = (async () => {
        while (sampling) { counts.add(ownCards().length); await sleep(5); }
    })();
    const started = Date.now();
    const replies = await Promise.all(Array.from({ length: WORKERS }, (_, index) =>
        new Promise((resolve, reject) => {
            const worker = new Worker(__filename, { workerData: { dll, index } });
            worker.once('message', resolve);
            worker.once('error', reject);
        })));
    sampling = false;
    await sampler;
    const results = replies.flatMap((reply) => reply.results);
    const slowest = Math.max(...replies.map((reply) => reply.slowest));
    check(results.length === WORKERS * CALLS_PER_WORKER && results.every((r) => r === 0),
          `${WORKERS} workers x ${CALLS_PER_WORKER} ShowKestrine calls all 0 ` +
          `(${Date.now() - started} ms, slowest call ${slowest.toFixed(2)} ms)`);
    check(counts.size === 1 && counts.has(1),
          `exactly one card window throughout (counts seen: ${[...counts].join(', ')})`);
    cards = ownCards();
    check(cards.length === 1 && koffi.address(cards[0]) === card, 'still the first card\'s window');

    check(kestrine.CloseKestrine() === 1, 'CloseKestrine() with one card is 1');
    cards = await waitForCards(0, 5000);
    check(cards.length === 0, 'the card window is gone');
    check(kestrine.CloseKestrine() === 0, 'CloseKestrine() afterwards is 0');
}

main().then(() => {
    console.log(failures ? `${failures} check(s) failed` : 'all checks passed');
    process.exitCode = failures ? 1 : 0;
}, (error) => {
    console.log(`FAIL ${error.stack || error}`);
    process.exitCode = 1;
});
