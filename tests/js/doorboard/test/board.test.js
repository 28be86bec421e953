// The door board end to end: in the demo host through the launcher, on its
// scenario, driven as a user and as the host would.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');
const { serve, attach, demoProgram, notificationPending } = require('../../support/served.js');

const skip = demoProgram() ? false : 'TAVI_DEMO does not name the tavi-demo program';

test('the board shows each door\'s state, pushed changes, and the host\'s answer to "open"', { skip }, async () => {
    const host = await serve(path.join(__dirname, '..', 'index.html'), {
        scenario: path.join(__dirname, '..', 'scenario.json'),
        failOnPageError: true,
    });
    let browser;
    try {
        const attached = await attach(host);
        browser = attached.browser;
        const page = attached.page;
        const states = () => page.$$eval('#doors .state', (items) => items.map((i) => i.textContent));
        const waitForStates = (expected) => page.waitForFunction(
            (e) => JSON.stringify([...document.querySelectorAll('#doors .state')].map((i) => i.textContent)) === e,
            { timeout: 20000 }, JSON.stringify(expected)).catch(async (e) => {
            throw new Error(`${e.message}: the board shows ${JSON.stringify(await states())}`);
        });

        // The scenario's timeline has raised door-2/2's alarm by now or soon.
        await waitForStates(['door-1/1: closed', 'door-2/1: closed', 'door-2/2: alarm']);

        await page.click('li[data-door="door-1/1"] button');
        await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('asking'));
        const waiting = await host.send('/pending-notifications');
        assert.deepEqual(waiting.pending.map((p) => JSON.parse(p.msg)), [{ cmd: 'openDoor', guid: 'door-1', channelId: 1 }]);
        await host.answerNotification(JSON.stringify({ opened: true }));
        await page.waitForFunction(() => document.getElementById('status').textContent === 'door-1/1 opened',
                                   { timeout: 20000 });

        await host.pushDeviceState('door-1', 1, 1);
        await waitForStates(['door-1/1: open', 'door-2/1: closed', 'door-2/2: alarm']);

        await page.click('li[data-door="door-2/1"] button');
        await notificationPending(host);
        await host.answerNotification({ opened: false, why: 'locked down' });
        await page.waitForFunction(() => document.getElementById('status').textContent === 'door-2/1 refused: locked down',
                                   { timeout: 20000 });

        await browser.disconnect();
        browser = null;
        assert.equal((await host.stop()).code, 0);
    } finally {
        if (browser)
            await browser.disconnect();
        await host.stop({ signal: 'SIGKILL' });
        host.cleanUp();
    }
});
