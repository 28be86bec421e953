/*
 * taviweb.js: promises and events over the "CWebComm" bridge.
 *
 * Load it after qwebchannel.js:
 *   <script src="qrc:///qtwebchannel/qwebchannel.js"></script>
 *   <script src="qrc:///taviweb/taviweb.js"></script>
 *   TaviWeb.connect().then(function (tavi) { ... });
 *
 * The bridge and the page functions the module calls stay as they are: the
 * library installs those six global functions itself and dispatches them to
 * the pending calls and to on() subscribers; a page function of the same
 * name that the page defined itself keeps being called.
 *
 * No dependencies. This file is the plain script (global TaviWeb) and the
 * CommonJS module; taviweb.mjs gives the same library as an ES module. The
 * JSDoc types refer to taviweb-api.d.ts, which the tests hold this file to.
 */
(/** @param {any} root @param {(root: any) => any} factory */ function (root, factory) {
    'use strict';
    var lib = factory(root);
    if (typeof module === 'object' && module.exports)
        module.exports = lib;
    if (root)
        root.TaviWeb = lib;
})(typeof window !== 'undefined' ? window : (typeof globalThis !== 'undefined' ? globalThis : this),
/** @param {any} root */
function (root) {
    'use strict';

    /** @typedef {import('./taviweb-api').CWebCommBridge} CWebCommBridge */
    /** @typedef {import('./taviweb-api').Options} Options */
    /** @typedef {import('./taviweb-api').CallOptions} CallOptions */
    /** @typedef {import('./taviweb-api').ServerAnswer} ServerAnswer */
    /** @typedef {import('./taviweb-api').TaviDeviceStatus} TaviDeviceStatus */

    // In step with the module's version (a test compares them).
    var VERSION = '1.1.0';

    // The functions the module calls in the page, with the event each feeds.
    /** @type {Array<keyof import('./taviweb-api').TaviPageFunctions>} */
    var PAGE_FUNCTIONS = ['emitServerRespone', 'emitHostResponse', 'emitDevStatus',
                          'emitDataCacheNotify', 'emitInfoNotify', 'emitUserToken'];

    var DEFAULTS = {
        requestTimeoutMs: 15000,   // request(): waiting for emitServerRespone
        notifyTimeoutMs: 5000,     // notifyHost(): waiting for emitHostResponse
        tokenTimeoutMs: 5000,      // userToken(): waiting for emitUserToken
        connectTimeoutMs: 10000,   // connect(): waiting for the channel
    };

    /**
     * The library's errors: a real class, so `e instanceof TaviWeb.TaviWebError`
     * works; callable without `new` too.
     * @param {string} code @param {string} message @param {object} [details]
     * @returns {import('./taviweb-api').TaviWebError}
     */
    function TaviWebError(code, message, details) {
        /** @type {any} */
        var e = new Error(message);
        Object.setPrototypeOf(e, TaviWebError.prototype);
        e.code = code;
        if (details)
            Object.keys(details).forEach(function (k) { e[k] = /** @type {any} */ (details)[k]; });
        return e;
    }
    TaviWebError.prototype = Object.create(Error.prototype, {
        constructor: { value: TaviWebError, writable: true, configurable: true },
        name: { value: 'TaviWebError', writable: true, configurable: true },
    });

    function randomPrefix() {
        var bytes = [];
        var c = root && root.crypto;
        if (c && typeof c.getRandomValues === 'function') {
            var a = new Uint8Array(6);
            c.getRandomValues(a);
            for (var i = 0; i < a.length; ++i) bytes.push(a[i]);
        } else {
            for (var j = 0; j < 6; ++j) bytes.push(Math.floor(Math.random() * 256));
        }
        return bytes.map(function (b) { return (b < 16 ? '0' : '') + b.toString(16); }).join('');
    }

    // A call the bridge refused: refusal is what the bridge told the page
    // (emitCallRefused: {method, reason, why, path}); without it (a module
    // that tells none) the host did not trust this page's origin, told apart
    // where the refused value is one the call never has otherwise (-1 from
    // NotifyToHost, '' from GetDevStatus).
    /** @param {string} method @param {any} [refusal] @param {any[]} [all] */
    function refused(method, refusal, all) {
        refusal = refusal || { reason: 'untrusted-document',
                               why: 'the host does not trust this page\'s origin' };
        /** @type {any} */
        var details = { method: method, reason: refusal.reason, why: refusal.why };
        if (refusal.path !== undefined)
            details.path = refusal.path;
        if (all && all.length > 1)
            details.refusals = all;
        return TaviWebError('refused', 'the bridge refused ' + method + ': ' + refusal.why, details);
    }

    /** @returns {{ ok: boolean, value?: any, error?: any }} */
    function parseJson(text) {
        try {
            return { ok: true, value: JSON.parse(text) };
        } catch (e) {
            return { ok: false, error: e };
        }
    }

    // ---- The client -------------------------------------------------------

    /**
     * @param {CWebCommBridge} raw
     * @param {Options} [options]
     */
    function Client(raw, options) {
        /** @type {any} */
        var given = options || {};
        /** @type {any} */
        var effective = {};
        Object.keys(DEFAULTS).forEach(function (k) {
            effective[k] = given[k] !== undefined ? given[k] : /** @type {any} */ (DEFAULTS)[k];
        });
        this.raw = raw;
        /** @type {Required<import('./taviweb-api').TimeoutOptions>} */
        this.options = effective;
        /** @type {import('./taviweb-api').QWebChannel | undefined} */
        this.channel = undefined;
        /** @type {import('./taviweb-api').Timers} */
        this._timers = given.timers || {
            setTimeout: function (f, ms) { return setTimeout(f, ms); },
            clearTimeout: function (t) { clearTimeout(t); },
        };
        // Unique across pages too: every page receives every answer.
        this._snPrefix = 'tw-' + randomPrefix() + '-';
        this._snCounter = 0;
        this._requests = new Map();     // sn -> pending request()
        this._notifies = new Map();     // sn -> pending notifyHost()
        /** @type {any[]} */
        this._tokenWaiters = [];
        /** @type {Object<string, Function[]>} */
        this._handlers = {};
        // Calls sent and not yet answered, in order: a refusal comes before
        // its call's answer, so it is the oldest one's of its method.
        /** @type {Array<{ method: string, refusals: any[] }>} */
        this._inFlight = [];
        var self = this;
        var signal = raw && /** @type {any} */ (raw).emitCallRefused;
        if (signal && typeof signal.connect === 'function') {
            signal.connect(function (/** @type {string} */ text) {
                var refusal = parseJson(text);
                if (!refusal.ok || !refusal.value)
                    return;
                var call = self._inFlight.filter(function (c) {
                    return c.method === refusal.value.method;
                })[0];
                if (call)
                    call.refusals.push(refusal.value);
            });
        }
    }

    Client.prototype.nextSn = function () {
        this._snCounter += 1;
        return this._snPrefix + this._snCounter;
    };

    // Calls a bridge method and resolves with its result; rejects with code
    // 'refused' when the bridge told that the policy refused the call.
    /** @param {keyof CWebCommBridge} method @param {unknown[]} args @returns {Promise<any>} */
    Client.prototype.invoke = function (method) {
        var args = Array.prototype.slice.call(arguments, 1);
        return this._call(method, args).then(function (answer) {
            if (answer.refusals.length)
                throw refused(method, answer.refusals[0], answer.refusals);
            return answer.result;
        });
    };

    // A bridge call: its result and the refusals told for it.
    /** @param {string} method @param {unknown[]} args @returns {Promise<{ result: any, refusals: any[] }>} */
    Client.prototype._call = function (method, args) {
        var raw = this.raw;
        var inFlight = this._inFlight;
        return new Promise(function (resolve, reject) {
            /** @type {Function | undefined} */
            var fn = /** @type {any} */ (raw && raw[method]);
            if (typeof fn !== 'function') {
                reject(TaviWebError('no-method', 'the bridge has no method ' + method));
                return;
            }
            var call = { method: method, refusals: /** @type {any[]} */ ([]) };
            var done = function () {
                var i = inFlight.indexOf(call);
                if (i >= 0)
                    inFlight.splice(i, 1);
            };
            inFlight.push(call);
            try {
                fn.apply(raw, args.concat([function (/** @type {any} */ result) {
                    done();
                    resolve({ result: result, refusals: call.refusals });
                }]));
            } catch (e) {
                done();
                reject(e);
            }
        });
    };

    // An sn this client made: its answer is either awaited or late/duplicate.
    Client.prototype.ownsSn = function (sn) {
        return typeof sn === 'string' && sn.indexOf(this._snPrefix) === 0;
    };

    Client.prototype._wait = function (table, sn, timeoutMs, what) {
        var self = this;
        var entry = {};
        var promise = new Promise(function (resolve, reject) {
            entry.resolve = resolve;
            entry.reject = reject;
        });
        if (timeoutMs > 0 && timeoutMs !== Infinity) {
            entry.timer = this._timers.setTimeout(function () {
                if (table.get(sn) !== entry)
                    return;
                table.delete(sn);
                entry.reject(TaviWebError('timeout', what + ' ' + sn + ' got no answer within '
                                          + timeoutMs + ' ms', { sn: sn }));
            }, timeoutMs);
        }
        table.set(sn, entry);
        return { promise: promise, entry: entry };
    };

    Client.prototype._settle = function (table, sn, value, error) {
        var entry = table.get(sn);
        if (!entry)
            return false;
        table.delete(sn);
        if (entry.timer !== undefined)
            this._timers.clearTimeout(entry.timer);
        if (error)
            entry.reject(error);
        else
            entry.resolve(value);
        return true;
    };

    // Asynchronous server request: resolves with {ack, msg, sn} when the
    // matching emitServerRespone arrives.
    /** @param {number} cmd @param {string} msg @param {string} devid @param {CallOptions} [opts] @returns {Promise<ServerAnswer>} */
    Client.prototype.request = function (cmd, msg, devid, opts) {
        opts = opts || {};
        var self = this;
        var sn = this.nextSn();
        var timeout = opts.timeoutMs !== undefined ? opts.timeoutMs : this.options.requestTimeoutMs;
        var waiting = this._wait(this._requests, sn, timeout, 'request');
        this.invoke('RequestToVmsServer', Number(cmd) | 0, String(msg === undefined ? '' : msg), sn,
                    String(devid === undefined ? '' : devid))
            .then(function (status) {
                if (typeof status === 'number' && status < 0)
                    self._settle(self._requests, sn, null,
                                 TaviWebError('rejected', 'the bridge refused request ' + sn
                                              + ' with status ' + status, { sn: sn, status: status }));
            }, function (e) {
                self._settle(self._requests, sn, null, e);
            });
        return waiting.promise;
    };

    // Synchronous server request: the bridge call itself carries the answer.
    // Blocks the page's window for up to timeoutMs on the native side.
    /** @param {number} cmd @param {string} msg @param {string} devid @param {CallOptions} [opts] @returns {Promise<string>} */
    Client.prototype.requestSync = function (cmd, msg, devid, opts) {
        opts = opts || {};
        /** @type {[any, ...unknown[]]} */
        var args = ['RequestToVmsServerSync', Number(cmd) | 0, String(msg === undefined ? '' : msg),
                    String(devid === undefined ? '' : devid)];
        if (opts.timeoutMs !== undefined)
            args.push(opts.timeoutMs | 0);
        return this.invoke.apply(this, args);
    };

    // Notification with an answer: resolves with the host's answer text when
    // the matching emitHostResponse arrives.
    /** @param {string} msg @param {CallOptions & { sn?: string }} [opts] @returns {Promise<string>} */
    Client.prototype.notifyHost = function (msg, opts) {
        opts = opts || {};
        var self = this;
        var sn = opts.sn !== undefined ? String(opts.sn) : this.nextSn();
        var timeout = opts.timeoutMs !== undefined ? opts.timeoutMs : this.options.notifyTimeoutMs;
        var waiting = this._wait(this._notifies, sn, timeout, 'notification');
        this.invoke('NotifyToHost', String(msg === undefined ? '' : msg), sn)
            .then(function (status) {
                if (status === -1)
                    self._settle(self._notifies, sn, null, refused('NotifyToHost'));
            }, function (e) { self._settle(self._notifies, sn, null, e); });
        return waiting.promise;
    };

    // Notification without waiting for an answer; resolves with the status.
    /** @param {string} msg @param {string} [sn] @returns {Promise<number>} */
    Client.prototype.notifyHostNoReply = function (msg, sn) {
        return this.invoke('NotifyToHost', String(msg === undefined ? '' : msg),
                           sn === undefined ? this.nextSn() : String(sn))
            .then(function (status) {
                if (status === -1)
                    throw refused('NotifyToHost');
                return status;
            });
    };

    // Synchronous notification: the host's answer, or '' after the time-out
    // (300 ms when not given). Blocks the page's window meanwhile.
    /** @param {string} msg @param {CallOptions} [opts] @returns {Promise<string>} */
    Client.prototype.notifyHostSync = function (msg, opts) {
        opts = opts || {};
        if (opts.timeoutMs !== undefined)
            return this.invoke('NotifyToHostSync', String(msg), opts.timeoutMs | 0);
        return this.invoke('NotifyToHostSync', String(msg));
    };

    Client.prototype.devSessionId = function (devId) {
        return this.invoke('GetDevSessionId', String(devId === undefined ? '' : devId));
    };

    // Every channel's state: [{guid, info: [{channelId, status}]}].
    /** @returns {Promise<TaviDeviceStatus[]>} */
    Client.prototype.devStatus = function () {
        return this.invoke('GetDevStatus').then(function (text) {
            if (text === '')
                throw refused('GetDevStatus');
            var parsed = parseJson(text);
            if (!parsed.ok)
                throw TaviWebError('bad-json', 'device status is not JSON: ' + parsed.error.message);
            return parsed.value;
        });
    };

    // Asks the host for the user token; resolves with the next emitUserToken.
    /** @param {CallOptions} [opts] @returns {Promise<string>} */
    Client.prototype.userToken = function (opts) {
        opts = opts || {};
        var self = this;
        var timeout = opts.timeoutMs !== undefined ? opts.timeoutMs : this.options.tokenTimeoutMs;
        var waiter = {};
        var promise = new Promise(function (resolve, reject) {
            waiter.resolve = resolve;
            waiter.reject = reject;
        });
        if (timeout > 0 && timeout !== Infinity) {
            waiter.timer = this._timers.setTimeout(function () {
                var i = self._tokenWaiters.indexOf(waiter);
                if (i < 0)
                    return;
                self._tokenWaiters.splice(i, 1);
                waiter.reject(TaviWebError('timeout', 'no user token within ' + timeout + ' ms'));
            }, timeout);
        }
        this._tokenWaiters.push(waiter);
        this.invoke('GetUserToken').then(null, function (e) {
            var i = self._tokenWaiters.indexOf(waiter);
            if (i >= 0) {
                self._tokenWaiters.splice(i, 1);
                waiter.reject(e);
            }
        });
        return promise;
    };

    // Thin wrappers of the remaining bridge methods.
    Client.prototype.browseFolder = function (start) { return this.invoke('BrowseFilePath', String(start || '')); };
    Client.prototype.browseFile = function (start) { return this.invoke('BrowseFile', String(start || '')); };
    Client.prototype.playSound = function (file) { return this.invoke('PlaySoundFile', String(file)); };
    Client.prototype.showPicture = function (path) { return this.invoke('ShowPicture', String(path)); };
    Client.prototype.playVideo = function (file) { return this.invoke('PlayVideoFile', String(file)); };
    Client.prototype.showAlarmTip = function (msg) { return this.invoke('ShowDevAlarmTips', String(msg)); };
    Client.prototype.setDownloadPath = function (path) { return this.invoke('SetDownloadPath', String(path)); };
    Client.prototype.releasePage = function (url) { return this.invoke('ReleaseWebPage', String(url || '')); };
    // orders: [{sourceFile, targetFile}]; the host gets a "showTip" per copy.
    // Resolves with each order's outcome ({index, sourceFile, targetFile,
    // outcome: 'written' | 'refused' | 'failed', why}), and reports long
    // copies' progress ({index, sourceFile, targetFile, done, total}) to
    // opts.onProgress. A host whose module tells no outcomes resolves with
    // undefined. One copy at a time: the outcomes go to the call that asked.
    Client.prototype.copyFiles = function (orders, opts) {
        opts = opts || {};
        var self = this;
        var run = function () {
            var raw = self.raw;
            /** @type {any[]} */
            var results = [];
            var resultSignal = raw && raw.emitCopyResult && typeof raw.emitCopyResult.connect === 'function'
                ? raw.emitCopyResult : null;
            var progressSignal = raw && raw.emitCopyProgress && typeof raw.emitCopyProgress.connect === 'function'
                ? raw.emitCopyProgress : null;
            var onResult = function (text) {
                try { results.push(JSON.parse(text)); } catch (e) { /* not ours to judge */ }
            };
            var onProgress = function (text) {
                if (typeof opts.onProgress !== 'function')
                    return;
                var value;
                try { value = JSON.parse(text); } catch (e) { return; }
                try { opts.onProgress(value); } catch (e) { self._emit('error', e); }
            };
            if (resultSignal)
                resultSignal.connect(onResult);
            if (progressSignal)
                progressSignal.connect(onProgress);
            var done = function () {
                if (resultSignal)
                    resultSignal.disconnect(onResult);
                if (progressSignal)
                    progressSignal.disconnect(onProgress);
            };
            // A refused order is one of the outcomes; only a refused call rejects.
            return self._call('CopyFileFunc', [JSON.stringify(orders || [])])
                .then(function (answer) {
                    done();
                    var untrusted = answer.refusals.filter(function (r) {
                        return r.reason === 'untrusted-document';
                    })[0];
                    if (untrusted)
                        throw refused('CopyFileFunc', untrusted);
                    return resultSignal ? results : undefined;
                }, function (e) { done(); throw e; });
        };
        var copy = (this._copying || Promise.resolve()).then(run, run);
        this._copying = copy.then(function () {}, function () {});
        return copy;
    };
    // paths: array of file paths; folders and missing files are skipped.
    Client.prototype.deleteFiles = function (paths) {
        return this.invoke('DelFileFunc', JSON.stringify(paths || []));
    };
    // dataUrl: "data:image/...;base64,..."; resolves with 0 or -1.
    Client.prototype.saveSnapshot = function (dataUrl, channelId, time, filePath) {
        return this.invoke('AfterSnapshot', String(dataUrl), String(channelId), Number(time) | 0,
                           String(filePath));
    };
    // Resolves with {filePath, outcome: 'written' | 'refused' | 'failed', why}
    // once the PDF file is on the disk or could not be written.
    Client.prototype.savePageAsPdf = function (filePath) {
        var self = this;
        var path = String(filePath);
        var raw = this.raw;
        if (!raw || !raw.emitPdfResult || typeof raw.emitPdfResult.connect !== 'function')
            return Promise.reject(TaviWebError('no-method', 'the bridge has no method SavePageAsPdf'));
        var signal = raw.emitPdfResult;
        return new Promise(function (resolve, reject) {
            var onResult = function (text) {
                var value;
                try { value = JSON.parse(text); } catch (e) { return; }
                if (!value || value.filePath !== path)
                    return;
                signal.disconnect(onResult);
                resolve(value);
            };
            signal.connect(onResult);
            self.invoke('SavePageAsPdf', path).then(null, function (e) {
                signal.disconnect(onResult);
                reject(e);
            });
        });
    };

    // ---- Events -----------------------------------------------------------

    // Events: 'devStatus' (parsed array), 'dataCache' ({key, value}), 'info'
    // (text), 'userToken' (token), 'hostResponse' ({msg, sn}) and
    // 'serverResponse' ({sn, ack, msg}) for answers no call of this client
    // waits for, 'error' (Error) for pushes that could not be read.
    Client.prototype.on = function (event, handler) {
        if (typeof handler !== 'function')
            throw new TypeError('handler must be a function');
        (this._handlers[event] = this._handlers[event] || []).push(handler);
        return this;
    };

    Client.prototype.off = function (event, handler) {
        if (handler === undefined) {
            delete this._handlers[event];
            return this;
        }
        var list = this._handlers[event];
        if (list) {
            var i = list.indexOf(handler);
            if (i >= 0)
                list.splice(i, 1);
        }
        return this;
    };

    Client.prototype._emit = function (event, value) {
        var list = (this._handlers[event] || []).slice();
        list.forEach(function (h) {
            try {
                h(value);
            } catch (e) {
                if (typeof console !== 'undefined')
                    console.error('TaviWeb: a "' + event + '" handler threw: ' + e);
            }
        });
        return list.length;
    };

    // Entry of the page functions; the arguments are always strings.
    Client.prototype.dispatch = function (name, args) {
        switch (name) {
        case 'emitServerRespone': {
            var sn = String(args[0]);
            var ack = parseInt(args[1], 10);
            var answer = { sn: sn, ack: isNaN(ack) ? args[1] : ack, msg: args[2] };
            if (this._settle(this._requests, sn, answer) || this.ownsSn(sn))
                return; // a late or duplicate answer of ours is dropped
            this._emit('serverResponse', answer);
            return;
        }
        case 'emitHostResponse': {
            var hsn = String(args[1]);
            if (this._settle(this._notifies, hsn, args[0]) || this.ownsSn(hsn))
                return;
            this._emit('hostResponse', { msg: args[0], sn: hsn });
            return;
        }
        case 'emitDevStatus': {
            var parsed = parseJson(args[0]);
            if (parsed.ok)
                this._emit('devStatus', parsed.value);
            else
                this._emit('error', TaviWebError('bad-json', 'device status push is not JSON: '
                                                 + parsed.error.message, { text: args[0] }));
            return;
        }
        case 'emitDataCacheNotify':
            this._emit('dataCache', { key: args[0], value: args[1] });
            return;
        case 'emitInfoNotify':
            this._emit('info', args[0]);
            return;
        case 'emitUserToken': {
            var waiters = this._tokenWaiters;
            var timers = this._timers;
            this._tokenWaiters = [];
            waiters.forEach(function (w) {
                if (w.timer !== undefined)
                    timers.clearTimeout(w.timer);
                w.resolve(args[0]);
            });
            this._emit('userToken', args[0]);
            return;
        }
        }
    };

    // ---- The page functions -----------------------------------------------

    var clients = [];

    function makeDispatcher(name, previous) {
        var f = /** @this {any} */ function () {
            var args = Array.prototype.slice.call(arguments);
            clients.forEach(function (c) { c.dispatch(name, args); });
            if (typeof previous === 'function')
                return previous.apply(this, args);
        };
        f.__taviweb = clients; // this copy's: another copy's dispatcher is chained
        f.__taviwebPrevious = previous;
        return f;
    }

    // Puts the dispatchers in place; a function the page defined itself
    // (before or after this script), or another copy of the library put
    // there, is chained, not replaced.
    function installPageFunctions(global) {
        global = global || root;
        if (!global)
            return;
        PAGE_FUNCTIONS.forEach(function (name) {
            var current = global[name];
            if (typeof current === 'function' && current.__taviweb === clients)
                return;
            global[name] = makeDispatcher(name, typeof current === 'function' ? current : undefined);
        });
    }

    // A client over an existing bridge object (also for tests and fakes).
    function createClient(raw, options) {
        options = options || {};
        var client = new Client(raw, options);
        clients.push(client);
        installPageFunctions(options.global);
        return client;
    }

    // Resolves with a client once the channel's "CWebComm" object is there.
    // Without one (no module: an ordinary browser; or a host that withholds
    // the bridge from this document) options.standIn, if given, installs a
    // stand-in, and the client is made on it.
    /** @param {Options} [options] @returns {Promise<import('./taviweb-api').Client>} */
    function connect(options) {
        var given = options || {};
        var standIn = given.standIn;
        if (typeof standIn !== 'function')
            return connectOnce(given);
        return connectOnce(given).then(null, function (/** @type {any} */ e) {
            var known = e instanceof TaviWebError
                && ['no-channel', 'no-transport', 'no-bridge'].indexOf(/** @type {any} */ (e).code) >= 0;
            if (!known)
                throw e;
            return Promise.resolve(/** @type {Function} */ (standIn)(e)).then(function () {
                /** @type {any} */
                var again = Object.assign({}, given);
                delete again.standIn;
                delete again.QWebChannel;
                delete again.transport;
                return connectOnce(again);
            });
        });
    }

    /** @param {any} options @returns {Promise<any>} */
    function connectOnce(options) {
        var global = options.global || root;
        return new Promise(function (resolve, reject) {
            var QWC = options.QWebChannel || (global && global.QWebChannel);
            var transport = options.transport
                || (global && global.qt && global.qt.webChannelTransport);
            if (typeof QWC !== 'function') {
                reject(TaviWebError('no-channel', 'QWebChannel is not loaded: include '
                                    + 'qrc:///qtwebchannel/qwebchannel.js first'));
                return;
            }
            if (!transport) {
                reject(TaviWebError('no-transport', 'qt.webChannelTransport is missing: the page '
                                    + 'is not shown by the Tavi web module'));
                return;
            }
            var timeout = options.connectTimeoutMs !== undefined ? options.connectTimeoutMs
                                                                 : DEFAULTS.connectTimeoutMs;
            var done = false;
            var timer = setTimeout(function () {
                if (done) return;
                done = true;
                reject(TaviWebError('timeout', 'the web channel did not open within ' + timeout + ' ms'));
            }, timeout);
            new QWC(transport, function (channel) {
                if (done) return;
                done = true;
                clearTimeout(timer);
                var raw = channel.objects && channel.objects.CWebComm;
                // The module withholds the bridge from documents of origins
                // the host does not trust, and only from them.
                if (!raw) {
                    var origin = global && global.location ? String(global.location.origin) : '';
                    reject(TaviWebError('no-bridge', 'the host does not trust this document\'s origin ('
                                        + origin + '): its web channel holds no "CWebComm"',
                                        { reason: 'untrusted-document', origin: origin,
                                          why: 'the host does not trust this document\'s origin' }));
                    return;
                }
                var client = createClient(raw, options);
                client.channel = channel;
                resolve(client);
            });
        });
    }

    installPageFunctions(root);

    /** @type {typeof import('./taviweb-api')} */
    var api = {
        VERSION: VERSION,
        TaviWebError: /** @type {any} */ (TaviWebError),
        DEFAULTS: DEFAULTS,
        PAGE_FUNCTIONS: PAGE_FUNCTIONS.slice(),
        connect: connect,
        createClient: createClient,
        installPageFunctions: installPageFunctions,
        Client: Client,
        // For tests: forget every client.
        _reset: function () { clients.length = 0; },
    };
    return api;
});
