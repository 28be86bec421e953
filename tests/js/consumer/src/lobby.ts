// The page's logic, apart from the page: the channels and their changes, and
// the recordings the server lists.
import type { Client, TaviDeviceStatus } from '@tavi/taviweb';

export interface LobbyView {
    channels(lines: string[]): void;
    records(rows: string[]): void;
}

export async function startLobby(tavi: Client, view: LobbyView): Promise<void> {
    const show = (devices: TaviDeviceStatus[]) =>
        view.channels(devices.flatMap((d) => d.info.map((c) => `${d.guid}/${c.channelId}: ${c.status}`)));
    tavi.on('devStatus', show);
    show(await tavi.devStatus());
    const { ack, msg } = await tavi.request(1001, JSON.stringify({ query: 'records' }), 'nvr-01');
    view.records(ack === 0 ? (JSON.parse(msg) as { rows: string[] }).rows : []);
}
