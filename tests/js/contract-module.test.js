// The bridge contract against the module itself: the bridge test page in the
// demo host, served through the package's launcher on the scenario of the
// contract, driven with puppeteer-core and the host's control endpoint.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { serve, attach, demoProgram, notificationPending } = require('./support/served.js');
const { defineContract } = require('./contract/bridge.contract.js');

const BRIDGE_METHODS = ['BrowseFilePath', 'BrowseFile', 'PlaySoundFile', 'GetDevStatus', 'GetDevSessionId',
    'ShowPicture', 'PlayVideoFile', 'CopyFileFunc', 'DelFileFunc', 'ShowDevAlarmTips', 'GetUserToken',
    'SetDownloadPath', 'AfterSnapshot', 'ReleaseWebPage', 'NotifyToHost', 'NotifyToHostSync',
    'RequestToVmsServer', 'RequestToVmsServerSync'];

// It records every page function call as it arrived (window.calls).
const PAGE = path.join(__dirname, '..', 'common', 'pages', 'bridge.html');

async function open() {
    const host = await serve(PAGE, { scenario: path.join(__dirname, 'contract', 'scenario.json') });
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

if (demoProgram())
    defineContract(test, open);
else
    test('the bridge contract on the module', { skip: 'TAVI_DEMO does not name the tavi-demo program' }, () => {});
