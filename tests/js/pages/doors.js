// What a page can try against a served demo host once it has found its
// ports, and even its secret: POSTs to the control endpoint that need no
// preflight (a forged device state and user token, a stop), a read with the
// secret, and DevTools WebSockets to the page under test, through the
// announced port (with the secret too) and on the engine's own port.
// Resolves with the names of the requests that were answered.
'use strict';

async function tryEveryDoor({ control, devtools, engine, target, secret, tag }) {
    const answered = [];
    const simplePost = (path, body) =>
        fetch(control + path, { method: 'POST', mode: 'no-cors', body: JSON.stringify(body) }).catch(() => {});
    await simplePost('/push-device-state', { device: `forged-${tag}`, channel: 1, status: 2 });
    await simplePost('/notice', { message: { cmd: 'userToken', data: { token: `forged-${tag}` } } });
    await simplePost('/stop', {});
    try {
        const read = await fetch(`${control}/transcript`, { method: 'POST', headers: { Authorization: `Bearer ${secret}` } });
        answered.push(`control read: ${read.status}`);
    } catch (e) {
        // refused, as it should be
    }
    const socket = (name, url) => new Promise((resolve) => {
        const ws = new WebSocket(url);
        ws.onopen = () => ws.send(JSON.stringify({ id: 1, method: 'Runtime.evaluate', params: { expression: '1' } }));
        ws.onmessage = () => {
            answered.push(name);
            ws.close();
            resolve();
        };
        ws.onerror = ws.onclose = () => resolve();
    });
    const announced = devtools.replace(/^http/, 'ws');
    await socket('DevTools', `${announced}/devtools/page/${target}`);
    await socket('DevTools with the secret', `${announced}/${secret}/devtools/page/${target}`);
    await socket('the engine\'s own DevTools', `ws://127.0.0.1:${engine}/devtools/page/${target}`);
    return answered;
}
