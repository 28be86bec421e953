// Pairing logic of taviweb.js on the stand-in bridge, under Node's test runner.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const path = require('node:path');

const libraryPath = path.join(__dirname, '../../webmodule/js/taviweb.js');
const TaviWeb = require(libraryPath);
const TaviWebMock = require(path.join(__dirname, '../../webmodule/js/taviweb-mock.js'));

// Timers the test moves by hand.
function fakeTimers() {
    let now = 0;
    let next = 1;
    const pending = new Map();
    return {
        setTimeout(f, ms) { pending.set(next, { at: now + ms, f }); return next++; },
        clearTimeout(id) { pending.delete(id); },
        advance(ms) {
            now += ms;
            for (const [id, t] of [...pending].sort((a, b) => a[1].at - b[1].at))
                if (t.at <= now) { pending.delete(id); t.f(); }
        },
        get size() { return pending.size; },
    };
}

// A client on a stand-in bridge that answers nothing by itself: the tests
// call the page functions.
function setup(global = {}) {
    TaviWeb._reset();
    const bridge = TaviWebMock.install({ global }).onRequest(() => null).onNotify(() => null);
    const timers = fakeTimers();
    return { global, bridge, timers, client: TaviWeb.createClient(bridge.bridge, { global, timers }) };
}

// The library connected to a fresh stand-in bridge installed with options.
async function connected(options = {}) {
    TaviWeb._reset();
    const global = {};
    const mock = TaviWebMock.install({ global, ...options });
    return { global, mock, tavi: await TaviWeb.connect({ global }) };
}

// The state of a promise, readable at once after settle().
function outcome(promise) {
    const o = { state: 'pending' };
    promise.then((v) => { o.state = 'resolved'; o.value = v; }, (e) => { o.state = 'rejected'; o.error = e; });
    return o;
}
const settle = () => new Promise((r) => setImmediate(r));

test('many requests in flight: no sn reused, each answer paired, ack as a number', async () => {
    const { global, bridge, client } = setup();
    const n = 5000;
    const promises = [];
    for (let i = 0; i < n; ++i)
        promises.push(client.request(i, 'm' + i, 'dev-' + i));
    const sns = bridge.calls.map((call) => call.args[2]);
    assert.equal(new Set(sns).size, n);
    assert.deepEqual(bridge.calls[7].args, [7, 'm7', sns[7], 'dev-7']);
    const order = sns.map((sn, i) => i).sort(() => Math.random() - 0.5);
    for (const i of order)
        global.emitServerRespone(sns[i], String(i - 3), 'answer ' + i);
    const results = await Promise.all(promises);
    results.forEach((r, i) => assert.deepEqual(r, { sn: sns[i], ack: i - 3, msg: 'answer ' + i }));

    // Another client never shares an sn.
    const other = TaviWebMock.install({ global: {} });
    TaviWeb.createClient(other.bridge, { global: {}, timers: fakeTimers() }).request(1, '', '');
    assert.ok(!sns.includes(other.calls[0].args[2]));
});

test('duplicate, late and refused requests; foreign answers are events', async () => {
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
    assert.deepEqual([late.error.code, late.error.sn], ['timeout', sn2]);
    global.emitServerRespone(sn2, '0', 'too late');
    global.emitServerRespone('page-own-7', '5', 'not ours');
    assert.deepEqual(seen, [{ sn: 'page-own-7', ack: 5, msg: 'not ours' }]);
    assert.equal(timers.size, 0);

    bridge.onRequest(() => ({ status: -1 }));
    const refused = outcome(client.request(1, 'x', 'd'));
    await settle();
    assert.deepEqual([refused.state, refused.error.code, refused.error.status], ['rejected', 'rejected', -1]);
});

test('page functions of the page itself are chained, before or after the library', () => {
    const pageCalls = [];
    const global = { emitDevStatus: (text) => { pageCalls.push(text); return 'page result'; } };
    const { bridge, client } = setup(global);
    const events = [];
    client.on('devStatus', (s) => events.push(s));
    client.on('info', (m) => events.push('lib:' + m));
    const text = '[    {        "guid": "cam-1",        "info": [ { "channelId": 1, "status": 0 } ]    }]';
    assert.equal(global.emitDevStatus(text), 'page result');
    assert.deepEqual(pageCalls, [text]);
    assert.equal(bridge.calls.length, 0);

    global.emitInfoNotify = (m) => events.push('page:' + m); // replaces the dispatcher
    TaviWeb.installPageFunctions(global);
    TaviWeb.installPageFunctions(global); // does not wrap twice
    global.emitInfoNotify('hello');
    assert.deepEqual(events, [[{ guid: 'cam-1', info: [{ channelId: 1, status: 0 }] }], 'lib:hello', 'page:hello']);
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
    const waiting = [client.userToken(), client.userToken()];
    assert.equal(bridge.calls.filter((c) => c.method === 'GetUserToken').length, 2);
    global.emitUserToken('tok-1');
    assert.deepEqual(await Promise.all(waiting), ['tok-1', 'tok-1']);
    assert.deepEqual(tokens, ['tok-1']);

    const c = outcome(client.userToken({ timeoutMs: 20 }));
    timers.advance(20);
    await settle();
    assert.deepEqual([c.state, c.error.code], ['rejected', 'timeout']);
});

test('bridge calls: time-outs only when given, JSON where the bridge expects it', async () => {
    const { bridge, client } = setup();
    bridge.answer('NotifyToHostSync', 'host answer').answer('RequestToVmsServerSync', '{"ok":true}');
    assert.equal(await client.notifyHostSync('m'), 'host answer');
    assert.equal(await client.notifyHostSync('m', { timeoutMs: 1000 }), 'host answer');
    assert.equal(await client.requestSync(5, 'body', 'dev'), '{"ok":true}');
    assert.equal(await client.requestSync(5, 'body', 'dev', { timeoutMs: 900 }), '{"ok":true}');
    await client.copyFiles([{ sourceFile: '/a b/ç.jpg', targetFile: '/t/ç.jpg' }]);
    await client.deleteFiles(['/t/ç.jpg', '/t/x']);
    assert.equal(await client.saveSnapshot('data:image/png;base64,AAAA', 'ch-1', 1700000000, '/s/a.png'), 0);
    assert.deepEqual(bridge.calls.map((c) => c.args), [
        ['m'], ['m', 1000], [5, 'body', 'dev'], [5, 'body', 'dev', 900],
        [JSON.stringify([{ sourceFile: '/a b/ç.jpg', targetFile: '/t/ç.jpg' }])], [JSON.stringify(['/t/ç.jpg', '/t/x'])],
        ['data:image/png;base64,AAAA', 'ch-1', 1700000000, '/s/a.png'],
    ]);
});

test('device status and pushes: parsed, bad JSON an error, a throwing handler isolated', async () => {
    const { global, bridge, client } = setup();
    bridge.answer('GetDevStatus', '[\n    {\n        "guid": "a",\n        "info": [\n        ]\n    }\n]\n');
    assert.deepEqual(await client.devStatus(), [{ guid: 'a', info: [] }]);
    bridge.answer('GetDevStatus', 'oops');
    await assert.rejects(client.devStatus(), { code: 'bad-json' });
    // Refused values that a call never has otherwise: the host distrusts the page.
    bridge.answer('GetDevStatus', '');
    bridge.answer('NotifyToHost', -1);
    for (const p of [client.devStatus(), client.notifyHost('m'), client.notifyHostNoReply('m')])
        await assert.rejects(p, { code: 'refused' });

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
    const handler = () => got.push('x');
    client.on('info', handler).off('info', handler);
    global.emitInfoNotify('ignored');
    assert.deepEqual(got, [{ key: 'k\t1', value: 'v' }, 'bad-json']);
});

test('connect resolves with a client over the channel object, or says what is missing', async () => {
    const { global, mock, tavi: client } = await connected();
    assert.equal(client.raw, mock.bridge);
    function EmptyChannel(transport, ready) { this.objects = {}; ready(this); }
    await assert.rejects(TaviWeb.connect({ global, QWebChannel: EmptyChannel }), { code: 'no-bridge' });
    mock.uninstall();
    await assert.rejects(TaviWeb.connect({ global, QWebChannel: mock.QWebChannel }), { code: 'no-transport' });
    await assert.rejects(TaviWeb.connect({ global }), { code: 'no-channel' });
    const standIn = await TaviWeb.connect({ global, standIn: () => TaviWebMock.install({ global }) });
    assert.equal(await standIn.devSessionId('cam-lobby'), 'sess-cam-lobby');
});

test('a second copy of the library on the page chains the first', () => {
    const { global, client } = setup();
    delete require.cache[libraryPath];
    const copy = require(libraryPath).createClient(TaviWebMock.install({ global }).bridge, { global });
    const seen = [];
    client.on('info', (m) => seen.push('first ' + m));
    copy.on('info', (m) => seen.push('second ' + m));
    global.emitInfoNotify('hello');
    assert.deepEqual(seen, ['second hello', 'first hello']);
});

// Its answers to each bridge call are the contract's (webmodule/js/contract/stand-in.test.js);
// here what the library sees of its options and scripts.
test('the stand-in bridge answers as the simulated host, or as scripted', async () => {
    const { mock, tavi } = await connected({ userToken: 'tok' });
    assert.equal(JSON.parse(await tavi.notifyHost('{"a":1}')).received, '{"a":1}');
    assert.equal(await tavi.userToken(), 'tok');
    mock.onRequest(() => ({ status: -2 })).answer('ShowDevAlarmTips', (msg) => msg === 'later?');
    await assert.rejects(tavi.request(1, '', ''), { code: 'rejected', status: -2 });
    assert.equal(await tavi.showAlarmTip('later?'), true);
});

const copyCases = [
    { name: 'written, and refused outside the roots, each with why',
      orders: [{ sourceFile: '/media/a.mp4', targetFile: '/usb/a.mp4' },
               { sourceFile: '/etc/passwd', targetFile: '/usb/p' },
               { sourceFile: '/media/b.mp4', targetFile: '/media/../etc/b' },
               'not an order'],
      outcomes: [['written', undefined],
                 ['refused', 'the source is outside the host\'s file roots'],
                 ['refused', 'the target is outside the host\'s file roots'],
                 ['refused', 'not an order {sourceFile, targetFile}']] },
    { name: 'a command that is no array', orders: { sourceFile: '/media/a' },
      outcomes: [['refused', 'the command is not a JSON array of orders']] },
    { name: 'a failed copy', orders: [{ sourceFile: '/media/broken', targetFile: '/usb/x' }],
      outcomes: [['failed', 'the copy could not be written']] },
];
for (const c of copyCases)
    test(`copyFiles resolves with the outcomes: ${c.name}`, async () => {
        const { mock, tavi } = await connected({ fileRoots: { read: ['/media'], write: ['/usb'] } });
        mock.onCopy((source) => (source === '/media/broken' ? { outcome: 'failed', why: 'the copy could not be written' } : undefined));
        const outcomes = await tavi.copyFiles(c.orders);
        assert.deepEqual(outcomes.map((o) => [o.outcome, o.why]), c.outcomes);
        assert.deepEqual(outcomes.map((o) => o.index), Array.isArray(c.orders) ? c.orders.map((_, i) => i) : [-1]);
    });

test('copyFiles reports progress, and two copies at once each get their own outcomes', async () => {
    const { mock, tavi } = await connected();
    mock.onCopy((source, target, progress) => { progress(1, 3); progress(3, 3); });
    const seen = [];
    const [first, second] = await Promise.all([
        tavi.copyFiles([{ sourceFile: '/a', targetFile: '/b' }], { onProgress: (p) => seen.push(p) }),
        tavi.copyFiles([{ sourceFile: '/c', targetFile: '/d' }, { sourceFile: '/e', targetFile: '/f' }]),
    ]);
    assert.deepEqual(first.map((o) => o.sourceFile), ['/a']);
    assert.deepEqual(second.map((o) => o.sourceFile), ['/c', '/e']);
    assert.deepEqual(seen, [{ index: 0, sourceFile: '/a', targetFile: '/b', done: 1, total: 3 },
                            { index: 0, sourceFile: '/a', targetFile: '/b', done: 3, total: 3 }]);
});

test('copyFiles on a bridge that tells no outcomes resolves with undefined', async () => {
    const { mock, tavi } = await connected();
    delete mock.bridge.emitCopyResult;
    delete mock.bridge.emitCopyProgress;
    assert.equal(await tavi.copyFiles([{ sourceFile: '/a', targetFile: '/b' }]), undefined);
});

test('refused calls reject with the error class and why, as the stand-in judges paths', async () => {
    const { tavi: client } = await connected({ fileRoots: { write: ['/in'] } });
    const snap = (path) => client.saveSnapshot('data:x;base64,AA', 'c', 1, path);
    const settled = await Promise.all([snap('/out/a.jpg'), client.showPicture('file:///in/a.png'),
        client.deleteFiles(['/in/a', '']), snap('/in/a.jpg')]
        .map((p) => p.then((v) => v, (e) => e instanceof TaviWeb.TaviWebError && `${e.method} ${e.reason}`)));
    assert.deepEqual(settled, ['AfterSnapshot outside-file-roots', 'ShowPicture url-not-path', 'DelFileFunc empty-path', 0]);
});
const pdfCases = [
    { name: 'in a write root', path: '/usb/r.pdf', outcome: { filePath: '/usb/r.pdf', outcome: 'written' } },
    { name: 'outside the write roots', path: '/etc/r.pdf',
      outcome: { filePath: '/etc/r.pdf', outcome: 'refused', why: 'the path is outside the host\'s file roots' } },
    { name: 'a module without it', path: '/usb/r.pdf', old: true, code: 'no-method' },
];
for (const c of pdfCases)
    test(`savePageAsPdf resolves with its own file's outcome: ${c.name}`, async () => {
        const { mock, tavi } = await connected({ fileRoots: { read: [], write: ['/usb'] } });
        if (c.old)
            delete mock.bridge.emitPdfResult;
        // Another call's outcome first: not this one's.
        if (!c.old)
            mock.bridge.SavePageAsPdf('/usb/other.pdf', () => {});
        const result = tavi.savePageAsPdf(c.path);
        if (c.code)
            await assert.rejects(result, { code: c.code });
        else
            assert.deepEqual(await result, c.outcome);
    });
