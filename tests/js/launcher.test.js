// The demo host served to automated browsers through the npm package's
// launcher: the ready line, how the run ends and what it leaves behind,
// failing on an uncaught page error, and the puppeteer-core recipe of the
// page guide.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { withServed, waitFor, attach, demoProgram } = require('./support/served.js');

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
            assert.equal(host.pid, host.process.pid);
            const version = await (await fetch(`${host.devtools}/json/version`)).json();
            assert.equal(typeof version.webSocketDebuggerUrl, 'string');
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
    { page: 'plain.html', fail: true, code: 0 },
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
        assert.equal((await fetch(`${host.control}/stop`)).status, 405);
        const bad = await fetch(`${host.control}/stop`, { method: 'POST', body: '{"unclosed' });
        assert.equal(bad.status, 400);
        assert.match((await host.send('/transcript')).text, /plain page up/);
        assert.equal((await host.stop()).code, 0);
    });
});

test('with the inspector open, its own console stays out of the page\'s lines', { skip }, async () => {
    await withServed('plain.html', { args: ['--devtools'] }, async (host) => {
        await waitFor(() => host.send('/transcript').then((t) => /DevTools loaded/.test(t.text)));
        // The inspector writes to its own console, and so does the page.
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

test('puppeteer-core: connect({ browserURL }), read and click in the page, disconnect', { skip }, async () => {
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
