// Pairing logic of taviweb.js against a fake bridge, under Node's test runner.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const TaviWeb = require(path.join(__dirname, '../../webmodule/js/taviweb.js'));

// A bridge that records every call; the test answers them by hand.
function fakeBridge() {
    const calls = [];
    const bridge = { calls, status: {} };
    for (const m of ['RequestToVmsServer', 'RequestToVmsServerSync', 'NotifyToHost',
                     'NotifyToHostSync', 'GetDevStatus', 'GetUserToken', 'GetDevSessionId',
                     'CopyFileFunc', 'DelFileFunc', 'AfterSnapshot']) {
        bridge[m] = (...args) => {
            const cb = args.pop();
            calls.push({ method: m, args });
            const r = bridge.status[m];
            cb(typeof r === 'function' ? r(...args) : r);
        };
    }
    return bridge;
}

// Timers the test moves by hand.
function fakeTimers() {
    let now = 0;
    let next = 1;
    const pending = new Map();
    return {
        setTimeout(f, ms) { const id = next++; pending.set(id, { at: now + ms, f }); return id; },
        clearTimeout(id) { pending.delete(id); },
        advance(ms) {
            now += ms;
            for (const [id, t] of [...pending].sort((a, b) => a[1].at - b[1].at)) {
                if (t.at <= now) { pending.delete(id); t.f(); }
            }
        },
        get size() { return pending.size; },
    };
}

function setup(extra = {}) {
    TaviWeb._reset();
    const global = extra.global || {};
    const bridge = fakeBridge();
    const timers = fakeTimers();
    const client = TaviWeb.createClient(bridge, { global, timers, ...extra.options });
    return { global, bridge, timers, client };
}

const settle = () => new Promise((r) => setImmediate(r));

function outcome(promise) {
    const o = { state: 'pending' };
    promise.then((v) => { o.state = 'resolved'; o.value = v; },
                 (e) => { o.state = 'rejected'; o.error = e; });
    return o;
}

test('answers out of order reach their own requests, ack as a number', async () => {
    const { global, bridge, client } = setup();
    const a = client.request(10, 'a', 'dev-1');
    const b = client.request(11, 'b', 'dev-2');
    const c = client.request(12, 'c', '');
    const sns = bridge.calls.map((call) => call.args[2]);
    assert.deepEqual(bridge.calls.map((call) => call.args[0]), [10, 11, 12]);
    assert.deepEqual(bridge.calls[0].args, [10, 'a', sns[0], 'dev-1']);

    global.emitServerRespone(sns[2], '-3', 'third');
    global.emitServerRespone(sns[0], '0', 'first');
    global.emitServerRespone(sns[1], '7', 'second');

    assert.deepEqual(await a, { sn: sns[0], ack: 0, msg: 'first' });
    assert.deepEqual(await b, { sn: sns[1], ack: 7, msg: 'second' });
    assert.deepEqual(await c, { sn: sns[2], ack: -3, msg: 'third' });
});

test('duplicate and late answers are dropped, foreign ones are events', async () => {
    const { global, bridge, timers, client } = setup();
    const seen = [];
    client.on('serverResponse', (r) => seen.push(r));

    const answered = client.request(1, 'x', 'd');
    const late = outcome(client.request(2, 'y', 'd', { timeoutMs: 100 }));
    const [sn1, sn2] = bridge.calls.map((call) => call.args[2]);

    global.emitServerRespone(sn1, '0', 'once');
    global.emitServerRespone(sn1, '0', 'twice');
    assert.deepEqual(await answered, { sn: sn1, ack: 0, msg: 'once' });

    timers.advance(100);
    await settle();
    assert.equal(late.state, 'rejected');
    assert.equal(late.error.code, 'timeout');
    assert.equal(late.error.sn, sn2);

    global.emitServerRespone(sn2, '0', 'too late');
    global.emitServerRespone('page-own-7', '5', 'not ours');
    assert.deepEqual(seen, [{ sn: 'page-own-7', ack: 5, msg: 'not ours' }]);
    assert.equal(timers.size, 0);
});

test('a refused request rejects at once with the status', async () => {
    const { bridge, client } = setup();
    bridge.status.RequestToVmsServer = -1;
    const r = outcome(client.request(1, 'x', 'd'));
    await settle();
    assert.equal(r.state, 'rejected');
    assert.equal(r.error.code, 'rejected');
    assert.equal(r.error.status, -1);
});

test('many requests in flight: no sn reused, every answer paired', async () => {
    const { global, bridge, client } = setup();
    const n = 5000;
    const promises = [];
    for (let i = 0; i < n; ++i)
        promises.push(client.request(i, 'm' + i, 'd'));
    const sns = bridge.calls.map((call) => call.args[2]);
    assert.equal(new Set(sns).size, n);

    // Answer in a shuffled order.
    const order = sns.map((sn, i) => i);
    for (let i = order.length - 1; i > 0; --i) {
        const j = Math.floor(Math.random() * (i + 1));
        [order[i], order[j]] = [order[j], order[i]];
    }
    for (const i of order)
        global.emitServerRespone(sns[i], String(i), 'answer ' + i);
    const results = await Promise.all(promises);
    results.forEach((r, i) => assert.deepEqual(r, { sn: sns[i], ack: i, msg: 'answer ' + i }));
});

test('two clients never share an sn', () => {
    TaviWeb._reset();
    const b1 = fakeBridge();
    const b2 = fakeBridge();
    const c1 = TaviWeb.createClient(b1, { global: {}, timers: fakeTimers() });
    const c2 = TaviWeb.createClient(b2, { global: {}, timers: fakeTimers() });
    c1.request(1, '', '');
    c2.request(1, '', '');
    assert.notEqual(b1.calls[0].args[2], b2.calls[0].args[2]);
});

test('a page function defined before the library is chained', async () => {
    const global = {};
    const pageCalls = [];
    global.emitDevStatus = function (text) { pageCalls.push(text); return 'page result'; };
    const { bridge, client } = setup({ global });
    const pushes = [];
    client.on('devStatus', (s) => pushes.push(s));

    const text = '[    {        "guid": "cam-1",        "info": [ { "channelId": 1, "status": 0 } ]    }]';
    assert.equal(global.emitDevStatus(text), 'page result');
    assert.deepEqual(pageCalls, [text]);
    assert.deepEqual(pushes, [[{ guid: 'cam-1', info: [{ channelId: 1, status: 0 }] }]]);
    assert.equal(bridge.calls.length, 0);
});

test('a page function defined after the library is chained at the next install', () => {
    const { global, client } = setup();
    const infos = [];
    client.on('info', (m) => infos.push('lib:' + m));
    global.emitInfoNotify = (m) => infos.push('page:' + m); // replaces the dispatcher
    TaviWeb.installPageFunctions(global);
    global.emitInfoNotify('hello');
    assert.deepEqual(infos, ['lib:hello', 'page:hello']);
    // Installing again does not wrap twice.
    TaviWeb.installPageFunctions(global);
    global.emitInfoNotify('again');
    assert.deepEqual(infos.slice(2), ['lib:again', 'page:again']);
});

test('notifyHost pairs emitHostResponse by sn; others are events', async () => {
    const { global, bridge, timers, client } = setup();
    const events = [];
    client.on('hostResponse', (r) => events.push(r));
    const first = client.notifyHost('{"q":1}');
    const second = outcome(client.notifyHost('{"q":2}', { timeoutMs: 50 }));
    const [sn1, sn2] = bridge.calls.map((c) => c.args[1]);
    assert.equal(bridge.calls[0].method, 'NotifyToHost');

    global.emitHostResponse('unrelated', 'page-sn');
    global.emitHostResponse('answer 1', sn1);
    assert.equal(await first, 'answer 1');

    timers.advance(50);
    await settle();
    assert.equal(second.state, 'rejected');
    global.emitHostResponse('late', sn2);
    assert.deepEqual(events, [{ msg: 'unrelated', sn: 'page-sn' }]);
});

test('userToken resolves every waiter with the next token, or times out', async () => {
    const { global, bridge, timers, client } = setup();
    const tokens = [];
    client.on('userToken', (t) => tokens.push(t));
    const a = client.userToken();
    const b = client.userToken();
    assert.equal(bridge.calls.filter((c) => c.method === 'GetUserToken').length, 2);
    global.emitUserToken('tok-1');
    assert.equal(await a, 'tok-1');
    assert.equal(await b, 'tok-1');
    assert.deepEqual(tokens, ['tok-1']);

    const c = outcome(client.userToken({ timeoutMs: 20 }));
    timers.advance(20);
    await settle();
    assert.equal(c.state, 'rejected');
    assert.equal(c.error.code, 'timeout');
});

test('synchronous calls pass their time-out only when given', async () => {
    const { bridge, client } = setup();
    bridge.status.NotifyToHostSync = 'host answer';
    bridge.status.RequestToVmsServerSync = '{"ok":true}';
    assert.equal(await client.notifyHostSync('m'), 'host answer');
    assert.equal(await client.notifyHostSync('m', { timeoutMs: 1000 }), 'host answer');
    assert.equal(await client.requestSync(5, 'body', 'dev'), '{"ok":true}');
    assert.equal(await client.requestSync(5, 'body', 'dev', { timeoutMs: 900 }), '{"ok":true}');
    assert.deepEqual(bridge.calls.map((c) => c.args), [
        ['m'], ['m', 1000], [5, 'body', 'dev'], [5, 'body', 'dev', 900],
    ]);
});

test('devStatus parses the snapshot and rejects what is not JSON', async () => {
    const { bridge, client } = setup();
    bridge.status.GetDevStatus = '[\n    {\n        "guid": "a",\n        "info": [\n        ]\n    }\n]\n';
    assert.deepEqual(await client.devStatus(), [{ guid: 'a', info: [] }]);
    bridge.status.GetDevStatus = 'oops';
    await assert.rejects(client.devStatus(), { code: 'bad-json' });
});

test('pushes: data cache, info, a bad device status, a throwing handler', () => {
    const { global, client } = setup();
    const got = [];
    client.on('dataCache', () => { throw new Error('handler bug'); });
    client.on('dataCache', (d) => got.push(d));
    client.on('error', (e) => got.push(e.code));
    const original = console.error;
    console.error = () => {};
    try {
        global.emitDataCacheNotify('k\t1', 'v');
    } finally {
        console.error = original;
    }
    global.emitDevStatus('not json');
    assert.deepEqual(got, [{ key: 'k\t1', value: 'v' }, 'bad-json']);

    const handler = () => got.push('x');
    client.on('info', handler).off('info', handler);
    global.emitInfoNotify('ignored');
    assert.equal(got.length, 2);
});

test('wrappers send JSON where the bridge expects it', async () => {
    const { bridge, client } = setup();
    bridge.status.AfterSnapshot = 0;
    await client.copyFiles([{ sourceFile: '/a b/ç.jpg', targetFile: '/t/ç.jpg' }]);
    await client.deleteFiles(['/t/ç.jpg', '/t/x']);
    assert.equal(await client.saveSnapshot('data:image/png;base64,AAAA', 'ch-1', 1700000000, '/s/a.png'), 0);
    assert.deepEqual(JSON.parse(bridge.calls[0].args[0]), [{ sourceFile: '/a b/ç.jpg', targetFile: '/t/ç.jpg' }]);
    assert.deepEqual(JSON.parse(bridge.calls[1].args[0]), ['/t/ç.jpg', '/t/x']);
    assert.deepEqual(bridge.calls[2].args, ['data:image/png;base64,AAAA', 'ch-1', 1700000000, '/s/a.png']);
});

test('connect resolves with a client over the channel object, or says what is missing', async () => {
    TaviWeb._reset();
    const bridge = fakeBridge();
    function FakeChannel(transport, ready) { this.objects = { CWebComm: bridge }; ready(this); }
    const client = await TaviWeb.connect({ global: {}, transport: {}, QWebChannel: FakeChannel });
    assert.equal(client.raw, bridge);

    function EmptyChannel(transport, ready) { this.objects = {}; ready(this); }
    await assert.rejects(TaviWeb.connect({ global: {}, transport: {}, QWebChannel: EmptyChannel }),
                         { code: 'no-bridge' });
    await assert.rejects(TaviWeb.connect({ global: {}, QWebChannel: FakeChannel }),
                         { code: 'no-transport' });
    await assert.rejects(TaviWeb.connect({ global: {} }), { code: 'no-channel' });
});
