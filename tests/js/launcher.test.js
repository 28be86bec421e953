// The demo host served to automated browsers through the npm package's
// launcher: the ready line, how the run ends and what it leaves behind,
// failing on an uncaught page error, the puppeteer-core recipe of the page
// guide, and that no web page drives a served run.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');
const { withServed, waitFor, attach, demoProgram, pagesDir } = require('./support/served.js');

const skip = demoProgram() ? false : 'TAVI_DEMO does not name the tavi-demo program';

// The scratch folder the demo announced in its transcript.
function demoFilesFolder(transcript) {
    const match = /demo files in (\S+), downloads/.exec(transcript);
    assert.ok(match, 'the transcript names the demo files folder');
    return match[1];
}

const endings = [
    { how: 'a control request', stop: {} },
    { how: 'SIGTERM', stop: { signal: 'SIGTERM' } },
    { how: 'SIGINT', stop: { signal: 'SIGINT' } },
];
for (const { how, stop } of endings) {
    test(`served: ready once, DevTools answers; ${how} ends it with exit 0 and its outputs`, { skip }, async () => {
        await withServed('plain.html', {}, async (host) => {
            assert.match(host.devtools, /^http:\/\/127\.0\.0\.1:\d+$/);
            assert.match(host.control, /^http:\/\/127\.0\.0\.1:\d+$/);
            assert.match(host.secret, /^[0-9a-f]{32}$/);
            assert.equal(host.pid, host.process.pid);
            // The addresses DevTools hands out lead back through its gate.
            const version = await (await fetch(`${host.devtools}/json/version`,
                { headers: { Authorization: `Bearer ${host.secret}` } })).json();
            assert.equal(version.webSocketDebuggerUrl, host.browserWSEndpoint);
            assert.ok(host.browserWSEndpoint.startsWith(`${host.devtools.replace('http', 'ws')}/${host.secret}/devtools/browser/`));
            const exit = await host.stop(stop);
            assert.deepEqual({ code: exit.code, signal: exit.signal }, { code: 0, signal: null });
            const transcript = host.transcriptText();
            assert.equal(transcript.match(/\[host\] ready for automated browsers/g).length, 1);
            assert.match(transcript, /\[page info\] plain page up \(file:\/\/\/\S+\/plain\.html:\d+\)/);
            assert.ok(fs.statSync(path.join(host.work, 'shot.png')).size > 0);
            assert.equal(fs.existsSync(demoFilesFolder(transcript)), false, 'scratch folder left behind');
            assert.deepEqual(host.stdout().filter((l) => l.startsWith('TAVI-READY')), []);
        });
    });
}

const pageErrors = [
    { page: 'throws.html', fail: true, code: 4 },
    { page: 'throws.html', fail: false, code: 0 },
    { page: 'logs-error.html', fail: true, code: 0 },
];
for (const { page, fail, code } of pageErrors) {
    test(`${page}${fail ? ' with --fail-on-page-error' : ''} exits ${code}`, { skip }, async () => {
        await withServed(page, { failOnPageError: fail }, async (host) => {
            // The uncaught error comes from a timer after the load.
            if (page === 'throws.html')
                await waitFor(() => host.send('/transcript').then((t) => /Uncaught Error: left uncaught/.test(t.text)));
            const exit = await host.stop();
            assert.equal(exit.code, code);
            if (code === 4)
                assert.match(host.transcriptText(), /\[host\] the page left an error uncaught/);
        });
    });
}

test('a control that is not there, a GET, a body that is not JSON: refused, the host runs on', { skip }, async () => {
    await withServed('plain.html', {}, async (host) => {
        await assert.rejects(host.send('/no-such-thing'), (e) => e.status === 404);
        const headers = { Authorization: `Bearer ${host.secret}` };
        assert.equal((await fetch(`${host.control}/stop`, { headers })).status, 405);
        const bad = await fetch(`${host.control}/stop`, { method: 'POST', body: '{"unclosed', headers });
        assert.equal(bad.status, 400);
        assert.match((await host.send('/transcript')).text, /plain page up/);
        assert.equal((await host.stop()).code, 0);
    });
});

test('with the inspector open, its own console stays out of the page\'s lines', { skip }, async () => {
    await withServed('plain.html', { args: ['--devtools'] }, async (host) => {
        await waitFor(() => host.send('/transcript').then((t) => /DevTools loaded/.test(t.text)));
        const { browser, page } = await attach(host);
        const inspector = (await browser.pages()).find((p) => p.url().startsWith('devtools://'));
        assert.ok(inspector, 'the inspector is a target of its own');
        await inspector.evaluate(() => console.error('written by the inspector'));
        await page.evaluate(() => console.warn('written by the page'));
        await waitFor(() => host.send('/transcript').then((t) => /written by the page/.test(t.text)));
        await browser.disconnect();
        assert.equal((await host.stop()).code, 0);
        const transcript = host.transcriptText();
        assert.doesNotMatch(transcript, /written by the inspector/);
        assert.match(transcript, /\[page warning\] written by the page \(/);
    });
});

test('puppeteer-core: connect({ browserWSEndpoint }), read and click in the page, disconnect', { skip }, async () => {
    await withServed('plain.html', {}, async (host) => {
        const { browser, page } = await attach(host);
        assert.equal(await page.title(), 'served page');
        await page.click('#add');
        await page.click('#add');
        assert.equal(await page.$eval('#count', (e) => e.textContent), '2');
        // Disconnect, never close: the browser is the host's.
        await browser.disconnect();
        assert.equal((await host.stop()).code, 0);
    });
});

// window.open in a page with the driver attached: answered (null: the demo
// host opens no windows), and the page's timers go on (the engine held the
// opener until a driver released the new window's target, which the module
// never made).
const popups = [
    { name: 'same-origin', url: (port) => `http://127.0.0.1:${port}/plain.html` },
    { name: 'cross-origin', url: (port) => `http://localhost:${port}/plain.html` },
    { name: 'blank', url: () => '' },
];
for (const { name, url } of popups) {
    test(`puppeteer-core attached: a ${name} window.open returns and the page runs on`, { skip }, async () => {
        await withPages((port) => withServed(`http://127.0.0.1:${port}/plain.html`, {}, async (host) => {
            const { browser, page } = await attach(host, { protocolTimeout: 20000 });
            assert.equal(await page.evaluate((u) => String(window.open(u)), url(port)), 'null');
            assert.equal(await page.evaluate(() => new Promise((r) => setTimeout(() => r('ran'), 10))), 'ran');
            await browser.disconnect();
            assert.equal((await host.stop()).code, 0);
        }));
    });
}

test('--watch: a changed page, a new file in a new folder, then that file changed: each reloads the page', { skip }, async () => {
    const folder = fs.mkdtempSync(path.join(require('node:os').tmpdir(), 'tavi-watch-'));
    try {
        fs.copyFileSync(path.join(pagesDir, 'plain.html'), path.join(folder, 'index.html'));
        await withServed(path.join(folder, 'index.html'), { args: ['--watch'] }, async (host) => {
            const { browser, page } = await attach(host);
            const changes = [
                () => fs.appendFileSync(path.join(folder, 'index.html'), '<!-- edited -->\n'),
                () => { fs.mkdirSync(path.join(folder, 'lib')); fs.writeFileSync(path.join(folder, 'lib/app.js'), '1;\n'); },
                () => fs.writeFileSync(path.join(folder, 'lib/app.js'), '2;\n'),
            ];
            for (const change of changes) {
                await page.evaluate(() => { window.marker = true; });
                change();
                // A reload drops the marker.
                await waitFor(() => page.evaluate(() => window.marker === undefined).catch(() => false));
            }
            assert.match((await host.send('/transcript')).text, /reloading the page: \S+lib(\/app\.js)? changed/);
            await browser.disconnect();
            assert.equal((await host.stop()).code, 0);
        });
    } finally {
        fs.rmSync(folder, { recursive: true, force: true });
    }
});

// run(port) with the test pages served over HTTP on loopback at port: as
// 127.0.0.1 and as localhost, two sites.
async function withPages(run) {
    const server = http.createServer((request, response) => {
        // ?slow: a page that takes a while to come, so that it loads well after the host started.
        if (request.url.endsWith('?slow') && !request.held) {
            request.held = true;
            setTimeout(() => server.emit('request', request, response), 1500);
            return;
        }
        const file = path.join(pagesDir, path.basename(new URL(request.url, 'http://pages').pathname));
        fs.readFile(file, (error, data) => {
            response.writeHead(error ? 404 : 200, { 'Content-Type': file.endsWith('.js') ? 'text/javascript' : 'text/html' });
            response.end(data);
        });
    });
    await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
    try {
        return await run(server.address().port);
    } finally {
        server.close();
    }
}

test('a timeline step "at": 0 comes after the page\'s load, one "afterStart" before it', { skip }, async () => {
    const scenario = path.join(fs.mkdtempSync(path.join(require('node:os').tmpdir(), 'tavi-at-')), 'scenario.json');
    fs.writeFileSync(scenario, JSON.stringify({ timeline: [
        { afterStart: 0, notice: 'timed from the start' }, { at: 0, notice: 'timed from the load' }] }));
    try {
        await withPages((port) => withServed(`http://127.0.0.1:${port}/notices.html?slow`, { scenario }, async (host) => {
            const { browser, page } = await attach(host);
            await page.waitForFunction(() => window.notices.length > 0);
            assert.deepEqual(await page.evaluate(() => window.notices), ['timed from the load']);
            await browser.disconnect();
        }));
    } finally {
        fs.rmSync(path.dirname(scenario), { recursive: true, force: true });
    }
});

test('no page drives a served run: not the page under test, not a frame of another site in it', { skip }, async () => {
    await withPages((port) => withServed(`http://127.0.0.1:${port}/doors.html`, {}, async (host) => {
        const { browser, page } = await attach(host);
        await page.waitForFunction(() => window.frameReady === true);
        // Everything a page could learn by scanning loopback and more: the
        // page's own DevTools target, the engine's port, the secret.
        const listing = await (await fetch(`${host.devtools}/json/list`,
            { headers: { Authorization: `Bearer ${host.secret}` } })).json();
        const target = listing.find((t) => t.url === host.url).id;
        const engine = /remote debugging on http:\/\/127\.0\.0\.1:(\d+)/.exec((await host.send('/transcript')).text)[1];
        const doors = { control: host.control, devtools: host.devtools, engine, target, secret: host.secret };
        assert.deepEqual(await page.evaluate((d) => tryEveryDoor({ ...d, tag: 'page' }), doors), []);
        assert.deepEqual(await page.evaluate((d) => tryFromFrame({ ...d, tag: 'frame' }), doors), []);
        // No POST took effect: the host runs on, with no forged state or token.
        assert.doesNotMatch((await host.send('/transcript')).text, /forged-/);
        // And the launcher still drives the page.
        assert.equal(await page.evaluate(() => document.title), 'doors');
        await browser.disconnect();
        assert.equal((await host.stop()).code, 0);
    }));
});
