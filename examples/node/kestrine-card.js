// A Node.js host of kestrine.dll through the koffi FFI module: shows a card
// of a running profit and loss, adds a point to it every second from a timer,
// then closes it. Node.js for Windows; `npm install koffi@2.16.3` first.
//
//   node kestrine-card.js [path\to\kestrine.dll]
//
// Without a path, kestrine.dll is loaded from this script's folder. The DLL
// must be of node.exe's own architecture: the -win64 package for x64 Node,
// the -win32 one for 32-bit (ia32) Node.
'use strict';
const path = require('path');
const koffi = require('koffi');

// Declares the three exports. Every text is UTF-16 (koffi's str16); null
// passes a null pointer, which the DLL takes as an empty text. On x86 the
// exports use __stdcall (the DLL takes its arguments off the stack), and the
// declaration says so; x64 has one convention for all.
function loadKestrine(dllPath = path.join(__dirname, 'kestrine.dll')) {
    const lib = koffi.load(dllPath);
    const call = process.arch === 'ia32' ? '__stdcall' : '';
    return {
        ShowKestrine: lib.func(`int ${call} ShowKestrine(str16 series, str16 titleText,
            str16 subtitleText, str16 valueText, str16 noteText, int xAxisMode,
            int autoCloseSeconds, int animate, double animationSeconds, int positive,
            uint32_t positiveColor, uint32_t negativeColor)`),
        CloseKestrine: lib.func(`int ${call} CloseKestrine()`),
        KestrineVersion: lib.func(`int ${call} KestrineVersion()`),
    };
}

// 0xFFFFFFFF as a colour: the default green (positive) or red (negative).
const DEFAULT_COLOR = 0xFFFFFFFF;

// Points as the DLL reads them: "x:y" items separated by ";".
function seriesText(points) {
    return points.map(([x, y]) => `${x}:${y}`).join(';');
}

function showPnl(kestrine, points, animate) {
    const last = points[points.length - 1][1];
    const value = (last >= 0 ? '+' : '') + last.toLocaleString('en-US');
    return kestrine.ShowKestrine(seriesText(points), '本日の損益', 'Node.js + koffi', value,
                                 `${points.length} points`, 0 /* x in seconds */,
                                 0 /* no auto-close */, animate ? 1 : 0, 1.5,
                                 last >= 0 ? 1 : 0, DEFAULT_COLOR, DEFAULT_COLOR);
}

function main() {
    const kestrine = loadKestrine(process.argv[2]);
    console.log(`KestrineVersion: ${kestrine.KestrineVersion()}`);

    const points = [[0, 0], [60, 1500], [120, -300], [180, 900]];
    let rc = showPnl(kestrine, points, true);
    console.log(`ShowKestrine: ${rc}`);
    if (rc !== 0) process.exit(1);

    // A call while the card is open hands it the new data: the same window
    // redraws in place. The calls return at once and need no message loop, so
    // the timer can run on Node's own thread.
    let updates = 0;
    const timer = setInterval(() => {
        const [x, y] = points[points.length - 1];
        points.push([x + 60, y + Math.round(Math.random() * 2000 - 800)]);
        rc = showPnl(kestrine, points, false);
        console.log(`update ${++updates}: ShowKestrine: ${rc}`);
        if (rc !== 0 || updates === 5) {
            clearInterval(timer);
            // The card lives in this process: close it (or wait until the user
            // has) before the script ends, or it goes with the process.
            console.log(`CloseKestrine: ${kestrine.CloseKestrine()}`);
            process.exitCode = rc === 0 ? 0 : 1;
        }
    }, 1000);
}

module.exports = { loadKestrine, seriesText, DEFAULT_COLOR };

if (require.main === module) main();
