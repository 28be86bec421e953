// Host relay: server requests, identity, notifications that wait for the
// host, and the device status and data cache that the host pushes.
(function () {
    'use strict';

    var style = document.createElement('style');
    style.textContent =
        '.dev { display: flex; gap: 4px; align-items: center; margin: 3px 0; flex-wrap: wrap; }' +
        '.dev b { min-width: 80px; font-weight: 600; }' +
        '.ch { padding: 1px 6px; border-radius: 3px; font-size: 11px; }' +
        '.ch.s0 { background: #5c1e1e; } .ch.s1 { background: #1f4d2c; } .ch.s2 { background: #5a4a1a; }' +
        '.ch.flash { outline: 2px solid #d2a8ff; }' +
        '.kv { display: grid; grid-template-columns: auto 1fr; gap: 2px 10px; font-size: 12px; margin-top: 6px; }' +
        '.kv span:nth-child(odd) { color: var(--dim); }';
    document.head.appendChild(style);

    // Keeps the last few results in an output box.
    function add(out, text) {
        var lines = out.textContent === '—' ? [] : out.textContent.split('\n');
        out.textContent = lines.concat([text]).slice(-4).join('\n');
    }

    Demo.section({
        id: 'requests',
        title: 'Server requests',
        text: 'request() sends RequestToVmsServer with a fresh sn and resolves with the matching ' +
              'emitServerRespone; requestSync() returns the answer of RequestToVmsServerSync.',
        build: function (el, tavi) {
            var self = this;
            var cmd = Demo.el('input', { value: '1001', style: 'max-width:60px' });
            var msg = Demo.el('input', { value: '{"query":"records","channel":3}' });
            var dev = Demo.el('input', { value: 'nvr-01', style: 'max-width:90px' });
            self.out = Demo.panel(el, [cmd, msg, dev], [
                Demo.button('request', function () { self.request(tavi, +cmd.value, msg.value, dev.value); }),
                Demo.button('requestSync', function () { self.sync(tavi, +cmd.value, msg.value, dev.value); },
                            'secondary'),
            ]);
        },
        request: async function (tavi, cmd, msg, dev) {
            try {
                var a = await Demo.run('request(' + cmd + ', ' + msg + ', ' + dev + ')',
                                       tavi.request(cmd, msg, dev, { timeoutMs: 5000 }));
                this.out.textContent = 'ack ' + a.ack + ' for ' + a.sn + '\n' + a.msg;
            } catch (e) {
                this.out.textContent = e.message;
            }
        },
        sync: async function (tavi, cmd, msg, dev) {
            var body = await Demo.run('requestSync(' + cmd + ', ' + msg + ', ' + dev + ')',
                                      tavi.requestSync(cmd, msg, dev));
            this.out.textContent = 'sync answer:\n' + body;
        },
        tour: async function (tavi) {
            await this.request(tavi, 1001, '{"query":"records","note":"it\'s 50%2F100"}', 'nvr-01');
            await this.request(tavi, 0, '{"query":"unknown"}', 'nvr-01');
            await this.sync(tavi, 1002, '{"query":"time"}', 'cam-lobby');
        },
    });

    Demo.section({
        id: 'identity',
        title: 'Identity',
        text: 'devSessionId() reads a device\'s session id (empty for an unknown device); ' +
              'userToken() asks the host and resolves with its emitUserToken.',
        build: function (el, tavi) {
            var self = this;
            var dev = Demo.el('input', { value: 'nvr-01' });
            self.out = Demo.panel(el, [dev], [
                Demo.button('devSessionId', function () { self.session(tavi, dev.value); }),
                Demo.button('userToken', function () { self.token(tavi); }, 'secondary'),
            ]);
        },
        session: async function (tavi, dev) {
            var id = await Demo.run('devSessionId(' + dev + ')', tavi.devSessionId(dev));
            add(this.out, 'session id of ' + dev + ': ' + JSON.stringify(id));
        },
        token: async function (tavi) {
            try {
                add(this.out, 'user token: ' + await Demo.run('userToken()', tavi.userToken()));
            } catch (e) {
                add(this.out, e.message);
            }
        },
        tour: async function (tavi) {
            await this.session(tavi, 'nvr-01');
            await this.session(tavi, 'no-such-device');
            await this.token(tavi);
        },
    });

    Demo.section({
        id: 'syncnotify',
        title: 'Notify and wait',
        text: 'notifyHostSync() waits up to its time-out (300 ms by default) for the host; ' +
              'an answer that comes later arrives as a hostResponse event.',
        build: function (el, tavi) {
            var self = this;
            var mode = Demo.el('select', {}, ['handler', 'thread', 'none', 'late'].map(function (m) {
                return Demo.el('option', { value: m, text: 'host answers: ' + m });
            }));
            var timeout = Demo.el('input', { placeholder: 'time-out ms (300)', style: 'max-width:120px' });
            self.out = Demo.panel(el, [mode, timeout], [Demo.button('notifyHostSync', function () {
                self.ask(tavi, mode.value, timeout.value === '' ? undefined : +timeout.value);
            })]);
            tavi.on('hostResponse', function (r) {
                Demo.log('hostResponse ' + r.msg + ' for ' + r.sn, 'push');
                add(self.out, 'late answer: ' + r.msg);
            });
        },
        ask: async function (tavi, mode, timeoutMs) {
            var msg = JSON.stringify({ ask: 'confirm', answer: mode });
            var t0 = performance.now();
            var r = await Demo.run('notifyHostSync(' + msg + (timeoutMs === undefined ? '' : ', ' + timeoutMs) + ')',
                                   tavi.notifyHostSync(msg, { timeoutMs: timeoutMs }));
            var ms = Math.round(performance.now() - t0);
            add(this.out, mode + ' (' + ms + ' ms): ' + (r === '' ? '(time-out, empty)' : r));
        },
        tour: async function (tavi) {
            await this.ask(tavi, 'handler');
            await this.ask(tavi, 'thread');
            await this.ask(tavi, 'none', 150);
            await this.ask(tavi, 'late', 200);
            await Demo.sleep(1500); // the late answer arrives as an event
        },
    });

    Demo.section({
        id: 'devstatus',
        title: 'Device status',
        text: 'devStatus() reads every channel; the host pushes each change (devStatus event, ' +
              'the same JSON parsed), data-cache changes (dataCache) and notices (info).',
        build: function (el, tavi) {
            var self = this;
            var cache = Demo.el('div', { class: 'kv' });
            var notice = Demo.el('pre', { class: 'out', text: 'no notice yet' });
            var values = {};
            self.table = Demo.el('div', {});
            self.pushes = 0;
            el.append(Demo.row([Demo.button('devStatus', function () { self.pull(tavi); })]),
                      self.table, cache, notice);
            tavi.on('devStatus', function (devices) {
                self.pushes++;
                Demo.log('devStatus event: ' + devices.length + ' devices', 'push');
                self.render(devices, true);
            });
            tavi.on('dataCache', function (d) {
                values[d.key] = d.value;
                cache.textContent = '';
                Object.keys(values).sort().forEach(function (k) {
                    cache.append(Demo.el('span', { text: k }), Demo.el('span', { text: JSON.stringify(values[k]) }));
                });
            });
            tavi.on('info', function (text) {
                Demo.log('info event: ' + text, 'push');
                notice.textContent = 'notice: ' + text;
            });
        },
        render: function (devices, flash) {
            var self = this;
            var before = self.last || {};
            self.last = {};
            self.table.textContent = '';
            devices.forEach(function (d) {
                var row = Demo.el('div', { class: 'dev' }, [Demo.el('b', { text: d.guid })]);
                d.info.forEach(function (c) {
                    var key = d.guid + '/' + c.channelId;
                    self.last[key] = c.status;
                    var changed = flash && key in before && before[key] !== c.status;
                    row.append(Demo.el('span', { class: 'ch s' + c.status + (changed ? ' flash' : ''),
                                                 text: 'ch' + c.channelId + ': ' + c.status }));
                });
                self.table.append(row);
            });
        },
        pull: async function (tavi) {
            this.render(await Demo.run('devStatus()', tavi.devStatus()), false);
        },
        tour: async function (tavi) {
            var seen = this.pushes;
            await this.pull(tavi);
            // The host pushes about once a second: watch two changes arrive.
            for (var waited = 0; this.pushes < seen + 2 && waited < 5000; waited += 100)
                await Demo.sleep(100);
        },
    });
})();
