/*
 * taviweb-mock.js: a stand-in for the module's "CWebComm" bridge, to run a
 * page without the client: in an ordinary browser and in Node tests.
 *
 *   var mock = TaviWebMock.install();           // before the page connects
 *   mock.onRequest(function (cmd, msg, devid) { return { ack: 0, msg: '{"rows":[]}' }; });
 *   mock.setChannelStatus('cam-lobby', 2, 1);   // pushed as emitDevStatus
 *
 * install() puts a fake QWebChannel and qt.webChannelTransport on the global,
 * so that TaviWeb.connect() and pages that open the channel themselves find a
 * "CWebComm" object with the bridge's methods. Its answers are scripted;
 * without a script they are those of the demo host's simulated host. Answers
 * that the module delivers later (server answers, host answers, the user
 * token) come through the page functions after delayMs, as the module would
 * call them: every argument a string.
 *
 * No dependencies. A plain script (global TaviWebMock) and a CommonJS module;
 * taviweb-mock.mjs is the ES module.
 */
(/** @param {any} root @param {(root: any) => any} factory */ function (root, factory) {
    'use strict';
    var lib = factory(root);
    if (typeof module === 'object' && module.exports)
        module.exports = lib;
    if (root)
        root.TaviWebMock = lib;
})(typeof window !== 'undefined' ? window : (typeof globalThis !== 'undefined' ? globalThis : this),
/** @param {any} root */
function (root) {
    'use strict';

    /** @typedef {import('./taviweb-api').TaviDeviceStatus} TaviDeviceStatus */
    /** @typedef {import('./taviweb-mock').RequestHandler} RequestHandler */
    /** @typedef {import('./taviweb-mock').NotifyHandler} NotifyHandler */

    // The bridge's methods and the types Qt converts their arguments to:
    // s string, i integer. The two Sync methods also take one fewer.
    var METHODS = {
        BrowseFilePath: 's', BrowseFile: 's', PlaySoundFile: 's', GetDevStatus: '',
        GetDevSessionId: 's', ShowPicture: 's', PlayVideoFile: 's', CopyFileFunc: 's',
        DelFileFunc: 's', ShowDevAlarmTips: 's', GetUserToken: '', SetDownloadPath: 's',
        AfterSnapshot: 'ssis', ReleaseWebPage: 's', NotifyToHost: 'ss', NotifyToHostSync: 'si',
        RequestToVmsServer: 'isss', RequestToVmsServerSync: 'issi', SavePageAsPdf: 's',
    };

    // The simulated host's devices.
    var SAMPLE_DEVICES = [
        { guid: 'cam-lobby', info: [{ channelId: 1, status: 1 }, { channelId: 2, status: 0 }] },
        { guid: 'door-02', info: [{ channelId: 1, status: 2 }] },
        { guid: 'nvr-01', info: [{ channelId: 1, status: 1 }, { channelId: 2, status: 1 },
                                 { channelId: 3, status: 0 }, { channelId: 4, status: 1 }] },
    ];

    /** @type {RequestHandler} */
    function echoServer(cmd, msg, devid) {
        var known = cmd >= 1 && cmd <= 9999;
        return {
            ack: known ? 0 : -1,
            msg: JSON.stringify({ cmd: cmd, devid: devid, request: msg,
                                  result: known ? 'ok' : 'unknown command' }),
        };
    }

    /** @type {NotifyHandler} */
    function answeringHost(msg) {
        return JSON.stringify({ answeredBy: 'mock host', ok: true, received: msg });
    }

    function convert(value, type) {
        if (type === 'i')
            return Number(value) | 0;
        return value === undefined || value === null ? '' : String(value);
    }

    function copyDevices(list) {
        return JSON.parse(JSON.stringify(list));
    }

    /** @param {import('./taviweb-mock').MockOptions} [options] */
    function install(options) {
        options = options || {};
        var global = options.global || root;
        var timers = options.timers || {
            setTimeout: function (f, ms) { return setTimeout(f, ms); },
        };
        var delayMs = options.delayMs !== undefined ? options.delayMs : 0;
        // The longest a synchronous notification waits, as the host sets it.
        var notifyWaitLimitMs = options.notifyWaitLimitMs !== undefined ? options.notifyWaitLimitMs : 5000;
        var devices = copyDevices(options.devices || SAMPLE_DEVICES);
        /** @type {RequestHandler} */
        var server = options.onRequest || echoServer;
        /** @type {NotifyHandler} */
        var host = options.onNotify || answeringHost;
        /** @type {Object<string, any>} */
        var answers = Object.assign({}, options.answers);
        /** @type {Object<string, any>} */
        var saved = { qt: global.qt, QWebChannel: global.QWebChannel };
        // The host's file roots: none given, every path is allowed.
        var roots = options.fileRoots || null;
        /** @type {(source: string, target: string, index: number) => object} */
        var copier = function () { return {}; };

        function within(path, list) {
            var clean = String(path).replace(/\\/g, '/');
            if (clean === '' || clean.split('/').indexOf('..') >= 0)
                return false;
            return (list || []).some(function (root) {
                var r = String(root).replace(/\\/g, '/').replace(/\/+$/, '');
                return clean === r || clean.indexOf(r + '/') === 0;
            });
        }
        function mayRead(path) {
            return !roots || within(path, roots.read) || within(path, roots.write);
        }
        function mayWrite(path) {
            return !roots || within(path, roots.write);
        }

        // A signal of the bridge object, as qwebchannel.js gives it; the
        // handlers run on a later turn, as the channel delivers.
        function signal() {
            var handlers = [];
            return {
                connect: function (h) { handlers.push(h); },
                disconnect: function (h) {
                    var i = handlers.indexOf(h);
                    if (i >= 0)
                        handlers.splice(i, 1);
                },
                emit: function (value) {
                    var text = JSON.stringify(value);
                    handlers.slice().forEach(function (h) { h(text); });
                },
            };
        }
        var copyResult = signal();
        var copyProgress = signal();
        var callRefused = signal();

        // The module's one rule for a path a page sends: why it is refused, or null.
        /** @param {unknown} path @param {boolean} write */
        function pathRefusal(path, write) {
            var clean = String(path).replace(/\\/g, '/');
            if (clean === '')
                return { reason: 'empty-path', why: 'an empty path' };
            if (clean.indexOf('\0') >= 0)
                return { reason: 'nul-in-path', why: 'a NUL character in the path' };
            if (/^[A-Za-z][A-Za-z0-9+.-]+:/.test(clean))
                return { reason: 'url-not-path', why: 'a URL, not a local file path' };
            if (!(write ? mayWrite(clean) : mayRead(clean)))
                return { reason: 'outside-file-roots', why: 'outside the host\'s file roots' };
            return null;
        }
        // True when method may use path; otherwise the page is told, as by the module.
        /** @param {string} method @param {unknown} path @param {boolean} write */
        function judge(method, path, write) {
            var refusal = pathRefusal(path, write);
            if (refusal)
                callRefused.emit({ method: method, reason: refusal.reason, why: refusal.why,
                                   path: String(path) });
            return !refusal;
        }
        // A copy order's why for a refused path.
        /** @param {string} what @param {{ reason: string }} refusal */
        function copyWhy(what, refusal) {
            return 'the ' + what + ' is ' + (refusal.reason === 'outside-file-roots'
                ? 'outside the host\'s file roots' : 'not a local file path');
        }
        var pdfResult = signal();

        /** @type {import('./taviweb-mock').MockHost} */
        var mock;

        // A page function call, every argument a string, as the module makes it.
        function callPage(name, args) {
            var fn = global[name];
            args = args.map(function (a) { return convert(a, 's'); });
            return typeof fn === 'function' ? fn.apply(global, args) : undefined;
        }

        function later(name, args, ms) {
            timers.setTimeout(function () { callPage(name, args); }, ms === undefined ? delayMs : ms);
        }

        // A push as the module makes it: on a later turn, never inside the
        // caller's own; the promise gives the page function's value.
        function pushLater(name, args) {
            return new Promise(function (resolve) {
                timers.setTimeout(function () { resolve(callPage(name, args)); }, 0);
            });
        }

        // What the module's NotifyResult does to an answer.
        function cleanAnswer(answer) {
            return String(answer).replace(/[\n\r\t]/g, '');
        }

        // An sn as the module makes one for a synchronous notification.
        function hostSn() {
            var hex = '';
            for (var i = 0; i < 32; ++i)
                hex += Math.floor(Math.random() * 16).toString(16);
            return '{' + hex.slice(0, 8) + '-' + hex.slice(8, 12) + '-' + hex.slice(12, 16) + '-'
                + hex.slice(16, 20) + '-' + hex.slice(20) + '}';
        }

        function given(answer) {
            return answer !== null && answer !== undefined;
        }

        function statusText() {
            return JSON.stringify(devices, null, 4) + '\n';
        }

        /** @type {Object<string, (...args: any[]) => any>} */
        var behaviour = {
            // A start folder the module may not read is refused: ''.
            BrowseFilePath: function (path) {
                return path === '' || judge('BrowseFilePath', path, false) ? path : '';
            },
            BrowseFile: function (path) {
                return path === '' || judge('BrowseFile', path, false) ? path : '';
            },
            PlaySoundFile: function (file) { judge('PlaySoundFile', file, false); },
            ShowPicture: function (file) { judge('ShowPicture', file, false); },
            PlayVideoFile: function (file) { judge('PlayVideoFile', file, false); },
            SetDownloadPath: function (path) {
                if (path !== '')
                    judge('SetDownloadPath', path, true);
            },
            DelFileFunc: function (command) {
                var paths;
                try {
                    paths = JSON.parse(command);
                } catch (e) {
                    return;
                }
                if (Array.isArray(paths))
                    paths.forEach(function (p) {
                        if (typeof p === 'string')
                            judge('DelFileFunc', p, true);
                    });
            },
            GetDevStatus: statusText,
            GetDevSessionId: function (id) {
                return devices.some(function (d) { return d.guid === id; }) ? 'sess-' + id : '';
            },
            ShowDevAlarmTips: function () { return false; },
            AfterSnapshot: function (base64, channelId, time, filePath) {
                return String(base64).indexOf('base64,') >= 0 && judge('AfterSnapshot', filePath, true)
                    ? 0 : -1;
            },
            // The outcome on emitPdfResult on a later turn, as the module
            // tells it once the file is on the disk; no file is written.
            SavePageAsPdf: function (filePath) {
                var ok = mayWrite(filePath);
                timers.setTimeout(function () {
                    pdfResult.emit(ok ? { filePath: filePath, outcome: 'written' }
                        : { filePath: filePath, outcome: 'refused', why: 'the path is outside the host\'s file roots' });
                }, 0);
                return ok ? 0 : -1;
            },
            // Each order's outcome on emitCopyResult, before the call returns,
            // as the module tells them; the files themselves are not touched.
            CopyFileFunc: function (command) {
                var orders;
                try {
                    orders = JSON.parse(command);
                } catch (e) {
                    orders = null;
                }
                if (!Array.isArray(orders)) {
                    copyResult.emit({ index: -1, sourceFile: '', targetFile: '', outcome: 'refused',
                                      why: 'the command is not a JSON array of orders' });
                    return;
                }
                orders.forEach(function (order, index) {
                    var isOrder = order !== null && typeof order === 'object' && !Array.isArray(order);
                    var source = isOrder && typeof order.sourceFile === 'string' ? order.sourceFile : '';
                    var target = isOrder && typeof order.targetFile === 'string' ? order.targetFile : '';
                    var result = { index: index, sourceFile: source, targetFile: target };
                    var refusedSource = isOrder ? pathRefusal(source, false) : null;
                    var refusedTarget = isOrder && !refusedSource ? pathRefusal(target, true) : null;
                    if (!isOrder)
                        result.outcome = 'refused', result.why = 'not an order {sourceFile, targetFile}';
                    else if (refusedSource && !judge('CopyFileFunc', source, false))
                        result.outcome = 'refused', result.why = copyWhy('source', refusedSource);
                    else if (refusedTarget && !judge('CopyFileFunc', target, true))
                        result.outcome = 'refused', result.why = copyWhy('target', refusedTarget);
                    else
                        Object.assign(result, { outcome: 'written' }, copier(source, target, index));
                    copyResult.emit(result);
                });
            },
            GetUserToken: function () { later('emitUserToken', [mock.userToken]); },
            NotifyToHost: function (msg, sn) {
                Promise.resolve(host(msg, sn)).then(function (answer) {
                    if (given(answer))
                        later('emitHostResponse', [cleanAnswer(answer), sn]);
                });
                return 0;
            },
            // Waits for the host's answer at most the time-out, cut to the
            // host's limit; an answer after that reaches the page as
            // emitHostResponse with the sn the host was given.
            NotifyToHostSync: function (msg, timeout) {
                var sn = hostSn();
                var wait = Math.max(0, Math.min(timeout === undefined ? 300 : timeout, notifyWaitLimitMs));
                return new Promise(function (resolve) {
                    var waiting = true;
                    timers.setTimeout(function () {
                        if (waiting) {
                            waiting = false;
                            resolve('');
                        }
                    }, wait);
                    Promise.resolve(host(msg, sn)).then(function (answer) {
                        if (!given(answer))
                            return;
                        if (waiting) {
                            waiting = false;
                            resolve(cleanAnswer(answer));
                        } else {
                            later('emitHostResponse', [cleanAnswer(answer), sn]);
                        }
                    });
                });
            },
            RequestToVmsServer: function (cmd, msg, sn, devid) {
                // The module refuses these before any server sees them.
                if (cmd < 0)
                    return -1;
                /** @type {any} */
                var answer = server(cmd, msg, devid);
                if (answer && (answer.status || 0) < 0)
                    return answer.status;
                Promise.resolve(answer).then(function (a) {
                    if (a === null || a === undefined)
                        return;
                    if (typeof a === 'string')
                        a = { ack: 0, msg: a };
                    later('emitServerRespone', [sn, String(a.ack === undefined ? 0 : a.ack), a.msg]);
                });
                return 0;
            },
            RequestToVmsServerSync: function (cmd, msg, devid) {
                if (cmd < 0)
                    return '';
                return Promise.resolve(server(cmd, msg, devid)).then(function (a) {
                    if (a === null || a === undefined || (typeof a === 'object' && (a.status || 0) < 0))
                        return '';
                    return typeof a === 'string' ? a : String(a.msg);
                });
            },
        };

        /** @type {any} */
        var bridge = {};
        Object.keys(METHODS).forEach(function (name) {
            var types = METHODS[name];
            bridge[name] = function () {
                var args = Array.prototype.slice.call(arguments);
                var cb = typeof args[args.length - 1] === 'function' ? args.pop() : null;
                args = args.slice(0, types.length).map(function (a, i) { return convert(a, types[i]); });
                mock.calls.push({ method: /** @type {any} */ (name), args: args });
                var scripted = answers[name];
                var result;
                if (scripted !== undefined)
                    result = typeof scripted === 'function' ? scripted.apply(null, args) : scripted;
                else if (behaviour[name])
                    result = behaviour[name].apply(null, args);
                // Results reach the page later, as over the web channel.
                Promise.resolve(result).then(function (r) {
                    if (cb)
                        cb(r);
                });
            };
        });

        bridge.emitCopyResult = { connect: copyResult.connect, disconnect: copyResult.disconnect };
        bridge.emitCopyProgress = { connect: copyProgress.connect, disconnect: copyProgress.disconnect };
        bridge.emitCallRefused = { connect: callRefused.connect, disconnect: callRefused.disconnect };
        bridge.emitPdfResult = { connect: pdfResult.connect, disconnect: pdfResult.disconnect };

        var transport = { send: function () {}, onmessage: null };
        /** @type {any} */
        var FakeChannel = function (transportGiven, ready) {
            this.objects = { CWebComm: bridge };
            var channel = this;
            Promise.resolve().then(function () {
                if (typeof ready === 'function')
                    ready(channel);
            });
        };

        mock = {
            bridge: bridge,
            QWebChannel: FakeChannel,
            transport: transport,
            calls: [],
            userToken: options.userToken !== undefined ? options.userToken : 'mock-token',
            onRequest: function (handler) { server = handler || echoServer; return mock; },
            onNotify: function (handler) { host = handler || answeringHost; return mock; },
            answer: function (method, value) {
                if (!(method in METHODS))
                    throw new TypeError('the bridge has no method ' + method);
                if (value === undefined)
                    delete answers[method];
                else
                    answers[method] = value;
                return mock;
            },
            // What a copy that may go ahead does: {outcome: 'failed', why} or
            // nothing for 'written'; progress(done, total) reports on
            // emitCopyProgress.
            onCopy: function (handler) {
                copier = handler ? function (source, target, index) {
                    return handler(source, target, function (done, total) {
                        copyProgress.emit({ index: index, sourceFile: source, targetFile: target,
                                            done: done, total: total });
                    }) || {};
                } : function () { return {}; };
                return mock;
            },
            devices: function () { return copyDevices(devices); },
            setDevices: function (list) {
                devices = copyDevices(list);
                // The push comes without line feeds, the indentation kept.
                return mock.push('emitDevStatus', statusText().replace(/\n/g, ''));
            },
            setChannelStatus: function (guid, channelId, status) {
                var list = copyDevices(devices);
                var device = list.filter(function (d) { return d.guid === guid; })[0];
                if (!device) {
                    device = { guid: guid, info: [] };
                    list.push(device);
                    list.sort(function (a, b) { return a.guid < b.guid ? -1 : a.guid > b.guid ? 1 : 0; });
                }
                var channel = device.info.filter(function (c) { return c.channelId === channelId; })[0];
                if (channel)
                    channel.status = status;
                else
                    device.info.push({ channelId: channelId, status: status });
                device.info.sort(function (a, b) { return a.channelId - b.channelId; });
                return mock.setDevices(list);
            },
            push: function (name) {
                return pushLater(name, Array.prototype.slice.call(arguments, 1));
            },
            // A host notice as the module passes it on: its line feeds
            // removed; one that names "userToken" becomes emitUserToken.
            notice: function (text) {
                var cleaned = String(text).replace(/\n/g, '');
                if (cleaned.indexOf('userToken') < 0)
                    return pushLater('emitInfoNotify', [cleaned]);
                var token = '';
                try {
                    var data = JSON.parse(cleaned).data;
                    if (data && typeof data.token === 'string')
                        token = data.token;
                } catch (e) {
                    // Not JSON: the token is empty, as in the module.
                }
                return pushLater('emitUserToken', [token]);
            },
            uninstall: function () {
                Object.keys(saved).forEach(function (k) {
                    if (saved[k] === undefined)
                        delete global[k];
                    else
                        global[k] = saved[k];
                });
            },
        };

        global.qt = { webChannelTransport: transport };
        global.QWebChannel = FakeChannel;
        return mock;
    }

    /** @type {typeof import('./taviweb-mock')} */
    var api = {
        install: install,
        SAMPLE_DEVICES: copyDevices(SAMPLE_DEVICES),
    };
    return api;
});
