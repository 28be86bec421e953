// The page: in the client on the module's bridge, in an ordinary browser on
// the stand-in.
import TaviWeb, { connect, type TaviWebError } from '@tavi/taviweb';
import { startLobby } from './lobby.js';

const list = (id: string) => (items: string[]) => {
    document.getElementById(id)!.replaceChildren(
        ...items.map((text) => Object.assign(document.createElement('li'), { textContent: text })));
};

if (!('qt' in window)) {
    const mock = await import('@tavi/taviweb/mock');
    mock.install({ onRequest: () => ({ ack: 0, msg: JSON.stringify({ rows: ['09:00 lobby'] }) }) })
        .setChannelStatus('cam-lobby', 2, 1);
}
try {
    const tavi = await connect({ requestTimeoutMs: 5000 });
    await startLobby(tavi, { channels: list('channels'), records: list('records') });
} catch (e) {
    console.error(`TaviWeb ${TaviWeb.VERSION}: ${(e as TaviWebError).code}`);
}
