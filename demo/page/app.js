// Demo page core, on taviweb.js: connects, keeps the page log, and runs every
// section's tour once.
(function () {
    'use strict';

    var sections = [];

    var Demo = window.Demo = {
        tavi: null,

        // Adds a card: card = { id, title, text, build(el, tavi), tour(tavi) -> Promise }.
        section: function (card) { sections.push(card); },

        // Page log; kind is 'call', 'push', 'err' or ''. Lines also go to the
        // console, where the demo host picks them up for its transcript.
        log: function (text, kind) {
            var li = Demo.el('li', { text: text, class: kind || '' });
            var log = document.getElementById('log');
            log.appendChild(li);
            log.scrollTop = log.scrollHeight;
            console.log(text);
        },

        // Logs a call and its outcome; resolves with the result.
        run: async function (label, promise) {
            Demo.log(label, 'call');
            try {
                var result = await promise;
                Demo.log(label + ' → ' + (result === undefined || result === null ? 'done'
                                                                                  : JSON.stringify(result)), 'call');
                return result;
            } catch (e) {
                Demo.log(label + ' failed: ' + e.message, 'err');
                throw e;
            }
        },

        // el('button', {text: 'Go', onclick: f}, [children])
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
        row: function (children) { return Demo.el('div', { class: 'row' }, children); },
        button: function (text, onclick, cls) {
            return Demo.el('button', { text: text, onclick: onclick, class: cls || '' });
        },
        out: function () { return Demo.el('pre', { class: 'out', text: '—' }); },
        // A card's usual body: a row of fields, a row of buttons, and the
        // output box, which it returns.
        panel: function (el, fields, buttons) {
            var out = Demo.out();
            el.append(Demo.row(fields), Demo.row(buttons), out);
            return out;
        },
        sleep: function (ms) { return new Promise(function (r) { setTimeout(r, ms); }); },
    };

    // The core section: a notification for the host, answered by the host.
    Demo.section({
        id: 'notify',
        title: 'Notify the host',
        text: 'notifyHost() sends NotifyToHost(msg, sn) and resolves with the host\'s answer ' +
              '(emitHostResponse for the same sn). The transcript on the right shows what the host received.',
        build: function (el, tavi) {
            var self = this;
            var msg = Demo.el('input', { value: '{"action":"hello","from":"demo page"}' });
            self.out = Demo.panel(el, [msg], [Demo.button('NotifyToHost', function () {
                send(tavi, msg.value, self.out);
            })]);
        },
        tour: function (tavi) { return send(tavi, '{"action":"hello","from":"demo page"}', this.out); },
    });

    // The demo host trusts its own pages only: a link to another site is
    // refused, and the host hears of it ("navigationRefused"), so that it
    // could open the link in the system browser.
    Demo.section({
        id: 'outside',
        title: 'A link to another site',
        text: 'The host allows navigation to its trusted origins only. Following this link is ' +
              'refused; the host panel shows the "navigationRefused" notice with the address.',
        build: function (el) {
            this.link = Demo.el('a', { href: 'https://example.com/', text: 'https://example.com/' });
            el.append(Demo.row([this.link]));
        },
        tour: async function () {
            Demo.log('following a link to ' + this.link.href, 'call');
            this.link.click();
            await Demo.sleep(500);
            Demo.log('still here: the host refused to leave its own pages', 'call');
        },
    });

    async function send(tavi, msg, out) {
        var answer = await Demo.run('notifyHost(' + msg + ')', tavi.notifyHost(msg));
        out.textContent = 'host answered: ' + answer;
    }

    function setStatus(text, cls) {
        var s = document.getElementById('status');
        s.textContent = text;
        s.className = 'badge ' + cls;
    }

    async function start() {
        var tavi;
        try {
            tavi = Demo.tavi = await TaviWeb.connect();
        } catch (e) {
            setStatus(e.code || 'no bridge', 'bad');
            Demo.log(e.message, 'err');
            return;
        }
        setStatus('CWebComm connected', 'ok');
        Demo.log('found "CWebComm" on the web channel');
        var host = document.getElementById('sections');
        sections.forEach(function (s) {
            var card = Demo.el('section', { id: 'section-' + s.id },
                               [Demo.el('h2', { text: s.title }), Demo.el('p', { text: s.text || '' })]);
            host.appendChild(card);
            s.build.call(s, card, tavi);
        });
        // Every section shows its feature once; then the host is told.
        for (var s of sections) {
            if (!s.tour) continue;
            try {
                await s.tour.call(s, tavi);
            } catch (e) {
                Demo.log(s.id + ': ' + e.message, 'err');
            }
        }
        Demo.log('tour finished');
        tavi.notifyHostNoReply('{"demo":"tour-finished"}', 'demo-tour');
    }

    window.addEventListener('DOMContentLoaded', start);
})();
