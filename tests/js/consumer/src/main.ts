// The page: on the module's bridge in the client, on the stand-in elsewhere.
import { connect } from '@tavi/taviweb';
import { startLobby } from './lobby.js';

const list = (id: string) => (items: string[]) =>
    document.getElementById(id)!.replaceChildren(
        ...items.map((text) => Object.assign(document.createElement('li'), { textContent: text })));

if (!('qt' in window))
    (await import('@tavi/taviweb/mock')).install({ onRequest: () => '{"rows":["09:00 lobby"]}' });
await startLobby(await connect(), { channels: list('channels'), records: list('records') });
