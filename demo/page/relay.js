// Host relay: requests to the VMS server, identity, notifications that wait
// for the host, and the live device status and data cache pushed by the host.
(function () {
    'use strict';

    var style = document.createElement('style');
    style.textContent =
        '.dev { display: flex; gap: 4px; align-items: center; margin: 3px 0; flex-wrap: wrap; }' +
        '.dev b { min-width: 80px; font-weight: 600; }' +
        '.ch { padding: 1px 6px; border-radius: 3px; font-size: 11px; transition: background .4s; }' +
        '.ch.s0 { background: #5c1e1e; } .ch.s1 { background: #1f4d2c; } .ch.s2 { background: #5a4a1a; }' +
        '.ch.flash { outline: 2px solid #d2a8ff; }' +
        '.kv { display: grid; grid-template-columns: auto 1fr; gap: 2px 10px; font-size: 12px; margin-top: 6px; }' +
        '.kv span:nth-child(odd) { color: var(--dim); }';
    document.head.appendChild(style);

    function show(out, text) { out.textContent = text; }
    function quote(s) { return JSON.stringify(s); }
    // Keeps the last few results in an output box.
    function add(out, text) {
        var lines = out.textContent === '—' ? [] : out.textContent.split('\n');
        lines.push(text);
        out.textContent = lines.slice(-4).join('\n');
    }

    // Resolves with the arguments of the next call of page function fn that
    // matches, or with null after ms.
    function nextCall(fn, match, ms) {
        return new Promise(function (resolve) {
            var done = false;
            Demo.on(fn, function () {
                var args = Array.prototype.slice.call(arguments);
                if (done || (match && !match.apply(null, args))) return;
                done = true;
                resolve(args);
            });
            setTimeout(function () { if (!done) { done = true; resolve(null); } }, ms);
        });
    }

    // ---- Server requests ----------------------------------------------------
    var snCounter = 0;
    Demo.on('emitServerRespone', function (sn, ack, msg) {
        Demo.log('emitServerRespone(' + quote(sn) + ', ' + quote(ack) + ', ' + msg + ')', 'push');
    });

    Demo.section({
        id: 'requests',
        title: 'Server requests',
        text: 'RequestToVmsServer returns at once; the answer arrives later as ' +
              'emitServerRespone(sn, ack, msg). RequestToVmsServerSync returns the answer.',
        build: function (el) {
            var self = this;
            self.cmd = Demo.el('input', { value: '1001', style: 'max-width:60px' });
            self.msg = Demo.el('input', { value: '{"query":"records","channel":3}' });
            self.dev = Demo.el('input', { value: 'nvr-01', style: 'max-width:90px' });
            self.out = Demo.el('pre', { class: 'out', text: '—' });
            el.appendChild(Demo.el('div', { class: 'row' }, [self.cmd, self.msg, self.dev]));
            el.appendChild(Demo.el('div', { class: 'row' }, [
                Demo.el('button', { text: 'RequestToVmsServer', onclick: function () {
                    self.async(+self.cmd.value, self.msg.value, self.dev.value);
                } }),
                Demo.el('button', { text: 'Sync', class: 'secondary', onclick: function () {
                    self.sync(+self.cmd.value, self.msg.value, self.dev.value);
                } }),
            ]));
            el.appendChild(self.out);
        },
        async: function (cmd, msg, dev) {
            var out = this.out;
            var sn = 'relay-' + (++snCounter);
            var answer = nextCall('emitServerRespone', function (s) { return s === sn; }, 5000);
            Demo.log('RequestToVmsServer(' + cmd + ', ' + msg + ', ' + sn + ', ' + dev + ')', 'call');
            return Demo.call('RequestToVmsServer', cmd, msg, sn, dev).then(function (r) {
                show(out, 'returned ' + r + ', waiting for ' + sn + '…');
                return answer;
            }).then(function (args) {
                show(out, args ? 'sn ' + args[0] + ', ack ' + args[1] + '\n' + args[2]
                               : 'no answer for ' + sn);
            });
        },
        sync: function (cmd, msg, dev) {
            var out = this.out;
            Demo.log('RequestToVmsServerSync(' + cmd + ', ' + msg + ', ' + dev + ')', 'call');
            return Demo.call('RequestToVmsServerSync', cmd, msg, dev).then(function (r) {
                Demo.log('RequestToVmsServerSync returned ' + r, 'call');
                show(out, 'sync answer:\n' + r);
            });
        },
        tour: function () {
            var self = this;
            return self.async(1001, '{"query":"records","note":"it\'s 50%2F100"}', 'nvr-01')
                .then(function () { return self.async(0, '{"query":"unknown"}', 'nvr-01'); })
                .then(function () { return self.sync(1002, '{"query":"time"}', 'cam-lobby'); });
        },
    });

    // ---- Identity -----------------------------------------------------------
    Demo.on('emitUserToken', function (token) {
        Demo.log('emitUserToken(' + quote(token) + ')', 'push');
    });

    Demo.section({
        id: 'identity',
        title: 'Identity',
        text: 'GetDevSessionId reads a device\'s session id (empty for an unknown device); ' +
              'GetUserToken asks the host, whose answer arrives as emitUserToken.',
        build: function (el) {
            var self = this;
            self.dev = Demo.el('input', { value: 'nvr-01' });
            self.out = Demo.el('pre', { class: 'out', text: '—' });
            el.appendChild(Demo.el('div', { class: 'row' }, [self.dev]));
            el.appendChild(Demo.el('div', { class: 'row' }, [
                Demo.el('button', { text: 'GetDevSessionId', onclick: function () {
                    self.session(self.dev.value);
                } }),
                Demo.el('button', { text: 'GetUserToken', class: 'secondary', onclick: function () {
                    self.token();
                } }),
            ]));
            el.appendChild(self.out);
        },
        session: function (dev) {
            var out = this.out;
            return Demo.call('GetDevSessionId', dev).then(function (id) {
                Demo.log('GetDevSessionId(' + dev + ') = ' + quote(id), 'call');
                add(out, 'session id of ' + dev + ': ' + quote(id));
            });
        },
        token: function () {
            var out = this.out;
            var pushed = nextCall('emitUserToken', null, 3000);
            Demo.log('GetUserToken()', 'call');
            return Demo.call('GetUserToken').then(function () { return pushed; })
                .then(function (args) {
                    add(out, args ? 'user token: ' + args[0] : 'no token arrived');
                });
        },
        tour: function () {
            var self = this;
            return self.session('nvr-01')
                .then(function () { return self.session('no-such-device'); })
                .then(function () { return self.token(); });
        },
    });

    // ---- Waiting for the host -----------------------------------------------
    Demo.on('emitHostResponse', function (msg, sn) {
        Demo.log('emitHostResponse(' + msg + ', ' + quote(sn) + ')', 'push');
    });

    Demo.section({
        id: 'syncnotify',
        title: 'Notify and wait',
        text: 'NotifyToHostSync waits up to its time-out (300 ms by default) for the host. ' +
              'An answer that comes later arrives as emitHostResponse.',
        build: function (el) {
            var self = this;
            self.mode = Demo.el('select', {}, ['handler', 'thread', 'none', 'late'].map(function (m) {
                return Demo.el('option', { value: m, text: 'host answers: ' + m });
            }));
            self.timeout = Demo.el('input', { value: '', placeholder: 'time-out ms (300)',
                                              style: 'max-width:120px' });
            self.out = Demo.el('pre', { class: 'out', text: '—' });
            el.appendChild(Demo.el('div', { class: 'row' }, [self.mode, self.timeout]));
            el.appendChild(Demo.el('div', { class: 'row' }, [
                Demo.el('button', { text: 'NotifyToHostSync', onclick: function () {
                    var t = self.timeout.value === '' ? undefined : +self.timeout.value;
                    self.ask(self.mode.value, t);
                } }),
            ]));
            el.appendChild(self.out);
        },
        ask: function (mode, timeout) {
            var out = this.out;
            var msg = JSON.stringify({ ask: 'confirm', answer: mode });
            var args = timeout === undefined ? ['NotifyToHostSync', msg]
                                             : ['NotifyToHostSync', msg, timeout];
            var t0 = performance.now();
            var late = mode === 'late' ? nextCall('emitHostResponse', null, 8000) : null;
            Demo.log('NotifyToHostSync(' + msg + (timeout === undefined ? '' : ', ' + timeout) + ')',
                     'call');
            return Demo.call.apply(null, args).then(function (r) {
                var ms = Math.round(performance.now() - t0);
                Demo.log('NotifyToHostSync returned ' + quote(r) + ' after ' + ms + ' ms', 'call');
                add(out, mode + ' (' + ms + ' ms): ' + (r === '' ? '(time-out, empty)' : r));
                return late;
            }).then(function (lateArgs) {
                if (lateArgs)
                    add(out, 'late answer as emitHostResponse: ' + lateArgs[0]);
            });
        },
        tour: function () {
            var self = this;
            return self.ask('handler')
                .then(function () { return self.ask('thread'); })
                .then(function () { return self.ask('none', 150); })
                .then(function () { return self.ask('late', 200); });
        },
    });

    // ---- Device status and data cache ---------------------------------------
    Demo.section({
        id: 'devstatus',
        title: 'Device status',
        text: 'GetDevStatus reads every channel; the host pushes each change as emitDevStatus ' +
              'in the same JSON, and data-cache changes as emitDataCacheNotify.',
        build: function (el) {
            var self = this;
            self.table = Demo.el('div', {});
            self.cache = Demo.el('div', { class: 'kv' });
            self.notice = Demo.el('pre', { class: 'out', text: 'no notice yet' });
            self.values = {};
            self.pushes = 0;
            el.appendChild(Demo.el('div', { class: 'row' }, [
                Demo.el('button', { text: 'GetDevStatus', onclick: function () { self.pull(); } }),
            ]));
            el.appendChild(self.table);
            el.appendChild(self.cache);
            el.appendChild(self.notice);

            Demo.on('emitDevStatus', function (msg) {
                self.pushes++;
                Demo.log('emitDevStatus (' + msg.length + ' characters)', 'push');
                self.render(msg, true);
            });
            Demo.on('emitDataCacheNotify', function (key, value) {
                self.values[key] = value;
                self.cache.textContent = '';
                Object.keys(self.values).sort().forEach(function (k) {
                    self.cache.appendChild(Demo.el('span', { text: k }));
                    self.cache.appendChild(Demo.el('span', { text: quote(self.values[k]) }));
                });
            });
            Demo.on('emitInfoNotify', function (msg) {
                Demo.log('emitInfoNotify(' + msg + ')', 'push');
                show(self.notice, 'notice: ' + msg);
            });
        },
        render: function (json, flash) {
            var self = this;
            var devices;
            try { devices = JSON.parse(json); } catch (e) {
                Demo.log('device status is not JSON: ' + e, 'err');
                return;
            }
            var before = self.last || {};
            self.last = {};
            self.table.textContent = '';
            devices.forEach(function (d) {
                var row = Demo.el('div', { class: 'dev' }, [Demo.el('b', { text: d.guid })]);
                d.info.forEach(function (c) {
                    var key = d.guid + '/' + c.channelId;
                    self.last[key] = c.status;
                    var changed = flash && before[key] !== undefined && before[key] !== c.status;
                    row.appendChild(Demo.el('span', {
                        class: 'ch s' + c.status + (changed ? ' flash' : ''),
                        text: 'ch' + c.channelId + ': ' + c.status,
                    }));
                });
                self.table.appendChild(row);
            });
        },
        pull: function () {
            var self = this;
            return Demo.call('GetDevStatus').then(function (json) {
                Demo.log('GetDevStatus returned ' + JSON.parse(json).length + ' devices', 'call');
                self.render(json, false);
            });
        },
        tour: function () {
            var self = this;
            var seen = self.pushes;
            return self.pull().then(function () {
                // The host pushes about once a second; watch two changes arrive.
                return new Promise(function (resolve) {
                    var start = Date.now();
                    (function poll() {
                        if (self.pushes >= seen + 2 || Date.now() - start > 5000) resolve();
                        else setTimeout(poll, 100);
                    })();
                });
            });
        },
    });
})();
