// The bridge as pages see it, written once and run against each
// implementation: the stand-in bridge under Node (contract-mock.test.js) and
// the module in the demo host (contract-module.test.js). An implementation
// is made by open(), on the scenario in scenario.json, and gives:
//   call(method, ...args)        the bridge call's result
//   pushes(count)                the page function calls so far, once there are count
//   clearPushes()
//   pushDeviceState(device, channel, status), notice(text),
//   answerNotification(answer)   what the host does when the test says so
//   copy(orders)                 CopyFileFunc's outcomes told to the page
//   close()
'use strict';

const assert = require('node:assert/strict');

const scenario = require('./scenario.json');

// The devices of the scenario as GetDevStatus gives them.
function scenarioDevices(changes = {}) {
    return Object.keys(scenario.devices).sort().map((guid) => ({
        guid,
        info: Object.keys(scenario.devices[guid]).map(Number).sort((a, b) => a - b)
            .map((channelId) => ({
                channelId,
                status: changes[`${guid}/${channelId}`] ?? scenario.devices[guid][channelId],
            })),
    }));
}

function echo(cmd, devid, request, known = true) {
    return JSON.stringify({ cmd, devid, request, result: known ? 'ok' : 'unknown command' });
}

function defineContract(test, open) {
    let impl;
    test.before(async () => { impl = await open(); });
    test.after(async () => { if (impl) await impl.close(); });
    test.beforeEach(() => impl.clearPushes());

    test('GetDevStatus: the host\'s devices, indented JSON', async () => {
        const text = await impl.call('GetDevStatus');
        assert.deepEqual(JSON.parse(text), scenarioDevices());
        assert.equal(text, JSON.stringify(scenarioDevices(), null, 4) + '\n');
    });

    test('GetDevSessionId: a known device has one, another none', async () => {
        assert.equal(await impl.call('GetDevSessionId', 'cam-a'), 'sess-cam-a');
        assert.equal(await impl.call('GetDevSessionId', 'nobody'), '');
    });

    const requests = [
        { name: 'a known command: status 0, the echo with ack 0', cmd: 1001, status: 0,
          push: ['s1', '0', echo(1001, 'nvr-1', 'q')] },
        { name: 'an unknown command: status 0, ack -1', cmd: 10000, status: 0,
          push: ['s1', '-1', echo(10000, 'nvr-1', 'q', false)] },
        { name: 'a scripted answer with its ack', cmd: 4003, status: 0,
          push: ['s1', '5', '{"rows":[1,2]}'] },
        { name: 'a negative command: status -1, no answer', cmd: -5, status: -1, push: null },
        { name: 'a refusal: its status, no answer', cmd: 4001, status: -7, push: null },
        { name: 'accepted, never answered', cmd: 4002, status: 0, push: null },
    ];
    for (const r of requests) {
        test(`RequestToVmsServer, ${r.name}`, async () => {
            assert.equal(await impl.call('RequestToVmsServer', r.cmd, 'q', 's1', 'nvr-1'), r.status);
            // A marker push after it: an answer would have come first.
            await impl.call('RequestToVmsServer', 1002, 'marker', 'm', 'x');
            const pushes = await impl.pushes(r.push ? 2 : 1);
            const answers = pushes.filter((p) => p.fn === 'emitServerRespone');
            assert.deepEqual(answers.map((p) => p.args),
                (r.push ? [r.push] : []).concat([['m', '0', echo(1002, 'x', 'marker')]]));
        });
    }

    const syncRequests = [
        { cmd: 1001, result: echo(1001, 'nvr-1', 'q') },
        { cmd: -5, result: '' },
        { cmd: 4001, result: '' },
        { cmd: 4003, result: '{"rows":[1,2]}' },
    ];
    for (const r of syncRequests)
        test(`RequestToVmsServerSync, command ${r.cmd}: ${JSON.stringify(r.result).slice(0, 30)}`, async () => {
            assert.equal(await impl.call('RequestToVmsServerSync', r.cmd, 'q', 'nvr-1', 1000), r.result);
        });

    test('NotifyToHost: 0, then the answer as emitHostResponse with the page\'s sn', async () => {
        assert.equal(await impl.call('NotifyToHost', '{"mode":"now"}', 'page-sn-1'), 0);
        assert.deepEqual((await impl.pushes(1)).map((p) => [p.fn, ...p.args]),
            [['emitHostResponse', '{"answered":"now"}', 'page-sn-1']]);
    });

    test('NotifyToHostSync: the answer given at once', async () => {
        assert.equal(await impl.call('NotifyToHostSync', '{"mode":"now"}', 1000), '{"answered":"now"}');
    });

    test('NotifyToHostSync without an answer: \'\' once the time-out has passed, nothing later', async () => {
        assert.equal(await impl.call('NotifyToHostSync', '{"mode":"never"}', 200), '');
        assert.equal(await impl.call('NotifyToHostSync', '{"mode":"never"}'), '');
        assert.deepEqual(await impl.pushes(0), []);
    });

    test('NotifyToHostSync: a time-out above the host\'s limit is cut to it', async () => {
        // Uncut, the call would outlast the test's own time-out.
        assert.equal(await impl.call('NotifyToHostSync', '{"mode":"never"}', 3600000), '');
    });

    test('NotifyToHostSync answered late: \'\', then emitHostResponse with an sn the host made', async () => {
        assert.equal(await impl.call('NotifyToHostSync', '{"mode":"late"}', 100), '');
        const [push] = await impl.pushes(1);
        assert.equal(push.fn, 'emitHostResponse');
        assert.equal(push.args[0], '{"answered":"late"}');
        assert.match(push.args[1], /^\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\}$/);
    });

    test('NotifyToHost answered when the test says so, line breaks and tabs taken out', async () => {
        assert.equal(await impl.call('NotifyToHost', '{"mode":"held"}', 'page-sn-2'), 0);
        await impl.answerNotification('first\r\nsecond\tthird');
        assert.deepEqual((await impl.pushes(1)).map((p) => [p.fn, ...p.args]),
            [['emitHostResponse', 'firstsecondthird', 'page-sn-2']]);
    });

    test('device states pushed in their order, each the whole status without line feeds', async () => {
        await impl.pushDeviceState('cam-a', 2, 0);
        await impl.pushDeviceState('door-b', 1, 1);
        const pushes = await impl.pushes(2);
        const expected = [
            scenarioDevices({ 'cam-a/2': 0 }),
            scenarioDevices({ 'cam-a/2': 0, 'door-b/1': 1 }),
        ].map((d) => ['emitDevStatus', JSON.stringify(d, null, 4).replace(/\n/g, '')]);
        assert.deepEqual(pushes.map((p) => [p.fn, ...p.args]), expected);
        assert.deepEqual(JSON.parse(await impl.call('GetDevStatus')), scenarioDevices({ 'cam-a/2': 0, 'door-b/1': 1 }));
        // Back as the scenario has them, for the cases after this one.
        await impl.pushDeviceState('cam-a', 2, 1);
        await impl.pushDeviceState('door-b', 1, 2);
        await impl.pushes(4);
    });

    // Files outside the host's roots: refused, nothing written.
    test('AfterSnapshot outside the file roots: -1', async () => {
        assert.equal(await impl.call('AfterSnapshot', 'data:image/jpeg;base64,AAAA', 'ch-1', 1,
                                     '/tavi-contract-outside/shot.jpg'), -1);
    });

    test('CopyFileFunc: each order\'s outcome to the page, refusals with why', async () => {
        const outcomes = await impl.copy([
            { sourceFile: '/tavi-contract-outside/a.bin', targetFile: '/tavi-contract-outside/b.bin' },
            'not an order',
        ]);
        assert.deepEqual(outcomes, [
            { index: 0, sourceFile: '/tavi-contract-outside/a.bin', targetFile: '/tavi-contract-outside/b.bin',
              outcome: 'refused', why: 'the source is outside the host\'s file roots' },
            { index: 1, sourceFile: '', targetFile: '', outcome: 'refused', why: 'not an order {sourceFile, targetFile}' },
        ]);
        assert.deepEqual(await impl.copy({ sourceFile: 'x' }), [
            { index: -1, sourceFile: '', targetFile: '', outcome: 'refused', why: 'the command is not a JSON array of orders' },
        ]);
    });

    const notices = [
        { name: 'a text of quotes, backslashes and a line feed',
          text: 'it\'s "a" \\ b\nc \u2028 d', pushed: ['emitInfoNotify', 'it\'s "a" \\ bc \u2028 d'] },
        { name: 'a user token', text: '{"cmd":"userToken",\n"data":{"token":"t-1"}}',
          pushed: ['emitUserToken', 't-1'] },
    ];
    for (const n of notices)
        test(`a notice: ${n.name}, arriving exactly`, async () => {
            await impl.notice(n.text);
            assert.deepEqual((await impl.pushes(1)).map((p) => [p.fn, ...p.args]), [n.pushed]);
        });
}

module.exports = { defineContract, scenario, scenarioDevices };
