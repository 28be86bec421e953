// Shared by the Node suites that run pages in the demo host: launching it
// offscreen with its outputs in a folder of the test's own, and reading
// what it wrote.
'use strict';

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { launch } = require('../../../webmodule/js/launcher.js');

const pagesDir = path.join(__dirname, '..', 'pages');

// Whether the suites that need the demo host can run here.
function demoProgram() {
    const program = process.env.TAVI_DEMO;
    return program && fs.existsSync(program) ? program : null;
}

// Starts the demo host on page (a file under pages/, or a URL) with options
// for launch(); work is the folder for its outputs and its current folder.
async function serve(page, options = {}) {
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tavi-served-'));
    const url = page === undefined ? undefined
        : /^[a-z]+:/.test(page) ? page : path.resolve(pagesDir, page);
    const host = await launch({
        demo: demoProgram(),
        url,
        cwd: work,
        screenshot: path.join(work, 'shot.png'),
        transcript: path.join(work, 'transcript.txt'),
        env: { QT_QPA_PLATFORM: 'offscreen', ...(options.env || {}) },
        ...options,
    });
    host.work = work;
    host.transcriptText = () => fs.readFileSync(path.join(work, 'transcript.txt'), 'utf8');
    host.cleanUp = () => fs.rmSync(work, { recursive: true, force: true });
    return host;
}

// The page target of the served page, through puppeteer-core.
async function attach(host, options = {}) {
    const puppeteer = require('puppeteer-core');
    const browser = await puppeteer.connect({ browserWSEndpoint: host.browserWSEndpoint, defaultViewport: null, ...options });
    const pages = await browser.pages();
    const page = pages.find((p) => p.url() === host.url || p.url() === new URL(host.url).href)
        || pages.find((p) => !p.url().startsWith('devtools:'));
    if (!page)
        throw new Error(`no page among ${pages.map((p) => p.url()).join(', ')}`);
    return { browser, page };
}

// Runs body(host) on the demo host serving page; the host is killed and its
// folder removed afterwards, whatever happened.
async function withServed(page, options, body) {
    const host = await serve(page, options);
    try {
        return await body(host);
    } finally {
        await host.stop({ signal: 'SIGKILL' });
        host.cleanUp();
    }
}

// Polls check (a promise of a boolean) until it holds.
async function waitFor(check, timeoutMs = 20000) {
    const end = Date.now() + timeoutMs;
    while (!(await check())) {
        if (Date.now() > end)
            throw new Error('timed out waiting');
        await new Promise((r) => setTimeout(r, 100));
    }
}

// Until a notification waits for the host's answer.
const notificationPending = (host) =>
    waitFor(async () => (await host.send('/pending-notifications')).pending.length > 0);

module.exports = { serve, withServed, waitFor, notificationPending, attach, demoProgram, pagesDir };
