// The bridge contract against the module itself: the contract page in the
// demo host (TAVI_DEMO), served through the package's launcher on the
// contract's scenario, driven with puppeteer-core (the page project's, found
// from the current folder) and the host's control endpoint.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { launch } = require('../launcher.js');
const { defineContract } = require('./bridge.contract.js');

const BRIDGE_METHODS = ['BrowseFilePath', 'BrowseFile', 'PlaySoundFile', 'GetDevStatus', 'GetDevSessionId',
    'ShowPicture', 'PlayVideoFile', 'CopyFileFunc', 'DelFileFunc', 'ShowDevAlarmTips', 'GetUserToken',
    'SetDownloadPath', 'AfterSnapshot', 'ReleaseWebPage', 'NotifyToHost', 'NotifyToHostSync',
    'RequestToVmsServer', 'RequestToVmsServerSync'];

// The host offscreen, its outputs in a folder of the run's own.
async function serve() {
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'taviweb-contract-'));
    try {
        const host = await launch({
            url: path.join(__dirname, 'contract.html'),
            scenario: path.join(__dirname, 'scenario.json'),
            cwd: work,
            screenshot: path.join(work, 'shot.png'),
            transcript: path.join(work, 'transcript.txt'),
            env: { QT_QPA_PLATFORM: process.env.QT_QPA_PLATFORM || 'offscreen' },
        });
        host.cleanUp = () => fs.rmSync(work, { recursive: true, force: true });
        return host;
    } catch (e) {
        fs.rmSync(work, { recursive: true, force: true });
        throw e;
    }
}

async function attach(host) {
    const puppeteer = require(require.resolve('puppeteer-core', { paths: [process.cwd(), __dirname] }));
    const browser = await puppeteer.connect({ browserWSEndpoint: host.browserWSEndpoint, defaultViewport: null });
    const page = (await browser.pages()).find((p) => p.url() === host.url || p.url() === new URL(host.url).href);
    if (!page) {
        await browser.disconnect();
        throw new Error(`the contract page is not among the host's pages (${host.url})`);
    }
    return { browser, page };
}

// Until a notification waits for the host's answer.
async function notificationPending(host) {
    for (const end = Date.now() + 20000; !(await host.send('/pending-notifications')).pending.length;) {
        if (Date.now() > end)
            throw new Error('no notification waits for the host');
        await new Promise((r) => setTimeout(r, 100));
    }
}

async function open() {
    const host = await serve();
    let browser;
    try {
        const attached = await attach(host);
        browser = attached.browser;
        const page = attached.page;
        // The bridge with every one of its methods.
        await page.waitForFunction(() => window.bridgeReady === true, { timeout: 20000 });
        const methods = await page.evaluate(() => Object.keys(window.bridge)
            .filter((k) => typeof window.bridge[k] === 'function' && !k.includes('(')));
        assert.deepEqual(BRIDGE_METHODS.filter((m) => !methods.includes(m)), []);
        return {
            call: (method, ...args) => page.evaluate((m, a) => new Promise((resolve) => window.bridge[m](...a,
                (value) => resolve(value === undefined ? null : value))), method, args),
            async pushes(count) {
                await page.waitForFunction((n) => window.calls.length >= n, { timeout: 20000 }, count);
                return page.evaluate(() => window.calls.slice());
            },
            clearPushes: () => page.evaluate(() => { window.calls = []; }),
            pushDeviceState: (device, channel, status) => host.pushDeviceState(device, channel, status),
            notice: (text) => host.notice(text),
            // CopyFileFunc with the outcomes the bridge tells the page meanwhile.
            copy: (orders) => page.evaluate((o) => new Promise((resolve) => {
                const told = [];
                const listen = (text) => told.push(JSON.parse(text));
                window.bridge.emitCopyResult.connect(listen);
                window.bridge.CopyFileFunc(JSON.stringify(o), () => {
                    window.bridge.emitCopyResult.disconnect(listen);
                    resolve(told);
                });
            }), orders),
            async answerNotification(answer) {
                // The notification reaches the host on its own time.
                await notificationPending(host);
                await host.answerNotification(answer);
            },
            async close() {
                await browser.disconnect();
                const exit = await host.stop();
                host.cleanUp();
                assert.equal(exit.code, 0);
            },
        };
    } catch (e) {
        if (browser)
            await browser.disconnect();
        await host.stop({ signal: 'SIGKILL' });
        host.cleanUp();
        throw e;
    }
}

defineContract(test, open);
