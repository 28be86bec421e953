// The bridge contract against the stand-in bridge (taviweb-mock.js), under
// Node, on the scenario the module's run uses: its devices, its answers to
// notifications and its server.
'use strict';

const test = require('node:test');
const { install } = require('../taviweb-mock.js');
const { defineContract, scenario, scenarioDevices } = require('./bridge.contract.js');

const PAGE_FUNCTIONS = ['emitUserToken', 'emitInfoNotify', 'emitHostResponse', 'emitDevStatus',
    'emitDataCacheNotify', 'emitServerRespone'];

// The simulated host's echo, as the stand-in's own server answers.
function echoServer(cmd, msg, devid) {
    const known = cmd >= 1 && cmd <= 9999;
    return { ack: known ? 0 : -1,
        msg: JSON.stringify({ cmd, devid, request: msg, result: known ? 'ok' : 'unknown command' }) };
}

function answerText(answer) {
    return typeof answer === 'string' ? answer : JSON.stringify(answer);
}

async function open() {
    const global = {};
    const pushes = [];
    for (const name of PAGE_FUNCTIONS)
        global[name] = (...args) => { pushes.push({ fn: name, args }); };
    const held = [];
    const mock = install({
        global,
        devices: scenarioDevices(),
        notifyWaitLimitMs: scenario.notifyWaitLimitMs,
        // As the demo host's: its own scratch folders only.
        fileRoots: { read: ['/tmp/tavi-demo-media'], write: ['/tmp/tavi-demo-files'] },
        onRequest(cmd, msg, devid) {
            const rule = scenario.server.find((r) => r.cmd === cmd);
            if (!rule)
                return echoServer(cmd, msg, devid);
            if (rule.refuse)
                return { status: rule.refuse };
            if (rule.never)
                return null;
            return { ack: rule.ack || 0, msg: answerText(rule.answer) };
        },
        onNotify(msg) {
            const rule = scenario.notifications.find((r) => msg.includes(r.match));
            if (rule.mode === 'now')
                return answerText(rule.answer);
            if (rule.mode === 'late')
                return new Promise((resolve) => setTimeout(() => resolve(answerText(rule.answer)), rule.afterMs));
            if (rule.mode === 'manual')
                return new Promise((resolve) => held.push(resolve));
            return null;
        },
    });
    const timers = new Set();
    return {
        call(method, ...args) {
            return new Promise((resolve) => mock.bridge[method](...args, (r) => resolve(r === undefined ? null : r)));
        },
        async pushes(count) {
            for (let i = 0; pushes.length < count; ++i) {
                if (i > 2000)
                    throw new Error(`${pushes.length} of ${count} pushes`);
                await new Promise((r) => { const t = setTimeout(r, 10); timers.add(t); });
            }
            return pushes.slice();
        },
        clearPushes() { pushes.length = 0; },
        pushDeviceState: (device, channel, status) => mock.setChannelStatus(device, channel, status),
        notice: (text) => mock.notice(text),
        copy(orders) {
            const told = [];
            const listen = (text) => told.push(JSON.parse(text));
            mock.bridge.emitCopyResult.connect(listen);
            return new Promise((resolve) => mock.bridge.CopyFileFunc(JSON.stringify(orders), () => {
                mock.bridge.emitCopyResult.disconnect(listen);
                resolve(told);
            }));
        },
        async answerNotification(answer) {
            held.shift()(answer);
        },
        close() { mock.uninstall(); },
    };
}

defineContract(test, open);
