// Demo page core: connects to the bridge, keeps the page log, dispatches the
// module's calls into the page, and runs every section's tour once.
(function () {
    'use strict';

    var sections = [];
    var listeners = {};

    var Demo = window.Demo = {
        bridge: null,

        // Adds a card: spec = { id, title, text, build(el, bridge), tour(bridge) -> Promise }.
        section: function (spec) { sections.push(spec); },

        // Page log; kind is 'call', 'push', 'err' or ''. Each line also goes to
        // the console, where the demo host picks it up for its transcript.
        log: function (text, kind) {
            var li = document.createElement('li');
            li.textContent = text;
            if (kind) li.className = kind;
            var log = document.getElementById('log');
            if (log) { log.appendChild(li); log.scrollTop = log.scrollHeight; }
            console.log(text);
        },

        // Subscribes to one of the functions the module calls in the page.
        on: function (name, handler) { (listeners[name] = listeners[name] || []).push(handler); },

        // Calls a bridge method and resolves with its result.
        call: function (method) {
            var args = Array.prototype.slice.call(arguments, 1);
            return new Promise(function (resolve) {
                Demo.bridge[method].apply(Demo.bridge, args.concat([resolve]));
            });
        },

        // Small DOM helper: el('button', {text: 'Go', onclick: f}).
        el: function (tag, props, children) {
            var e = document.createElement(tag);
            Object.keys(props || {}).forEach(function (k) {
                if (k === 'text') e.textContent = props[k];
                else if (k.indexOf('on') === 0) e.addEventListener(k.slice(2), props[k]);
                else e.setAttribute(k, props[k]);
            });
            (children || []).forEach(function (c) { e.appendChild(c); });
            return e;
        },

        sleep: function (ms) { return new Promise(function (r) { setTimeout(r, ms); }); },
    };

    // The functions the module calls in the page.
    ['emitServerRespone', 'emitHostResponse', 'emitDevStatus', 'emitDataCacheNotify',
     'emitInfoNotify', 'emitUserToken'].forEach(function (name) {
        window[name] = function () {
            var args = Array.prototype.slice.call(arguments);
            (listeners[name] || []).forEach(function (h) { h.apply(null, args); });
        };
    });

    // The core section: a notification for the host.
    Demo.section({
        id: 'notify',
        title: 'Notify the host',
        text: 'NotifyToHost(msg, sn) reaches the host as emitFuncWebNotify; ' +
              'the host panel on the right shows what arrived.',
        build: function (el) {
            var msg = Demo.el('input', { value: '{"action":"hello","from":"demo page"}' });
            var sn = Demo.el('input', { value: 'demo-1', style: 'max-width:80px' });
            var out = Demo.el('pre', { class: 'out', text: '—' });
            el.appendChild(Demo.el('div', { class: 'row' }, [msg, sn]));
            el.appendChild(Demo.el('div', { class: 'row' }, [Demo.el('button', {
                text: 'NotifyToHost',
                onclick: function () { send(msg.value, sn.value, out); },
            })]));
            el.appendChild(out);
            this.out = out;
        },
        tour: function () {
            return send('{"action":"hello","from":"demo page"}', 'demo-1', this.out);
        },
    });

    function send(msg, sn, out) {
        Demo.log('NotifyToHost(' + msg + ', ' + sn + ')', 'call');
        return Demo.call('NotifyToHost', msg, sn).then(function (r) {
            out.textContent = 'returned ' + r;
            Demo.log('NotifyToHost returned ' + r, 'call');
        });
    }

    function setStatus(text, cls) {
        var s = document.getElementById('status');
        s.textContent = text;
        s.className = 'badge ' + cls;
    }

    function start() {
        if (typeof qt === 'undefined' || !qt.webChannelTransport) {
            setStatus('no web channel', 'bad');
            Demo.log('qt.webChannelTransport is missing: open this page in the demo host', 'err');
            return;
        }
        new QWebChannel(qt.webChannelTransport, function (channel) {
            Demo.bridge = channel.objects.CWebComm;
            if (!Demo.bridge) {
                setStatus('CWebComm missing', 'bad');
                Demo.log('the channel holds no "CWebComm" object', 'err');
                return;
            }
            setStatus('CWebComm connected', 'ok');
            Demo.log('found "CWebComm" on the web channel');
            var host = document.getElementById('sections');
            sections.forEach(function (s) {
                var card = Demo.el('section', { id: 'section-' + s.id }, [
                    Demo.el('h2', { text: s.title }),
                    Demo.el('p', { text: s.text || '' }),
                ]);
                host.appendChild(card);
                s.build.call(s, card, Demo.bridge);
            });
            runTour();
        });
    }

    // Every section shows its feature once; the host learns when all are done.
    function runTour() {
        var chain = Promise.resolve();
        sections.forEach(function (s) {
            if (!s.tour) return;
            chain = chain.then(function () { return s.tour.call(s, Demo.bridge); })
                .catch(function (e) { Demo.log(s.id + ': ' + e, 'err'); });
        });
        chain.then(function () {
            Demo.log('tour finished');
            Demo.bridge.NotifyToHost('{"demo":"tour-finished"}', 'demo-tour');
        });
    }

    window.addEventListener('DOMContentLoaded', start);
})();
