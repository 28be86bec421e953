// The page's logic under Node, on the stand-in bridge.
import test from 'node:test';
import assert from 'node:assert/strict';
import { connect } from '@tavi/taviweb';
import { install } from '@tavi/taviweb/mock';
import { startLobby } from '../out/lobby.js';

test('the lobby shows the channels, each change, and the records', async () => {
    const mock = install({ devices: [{ guid: 'cam-1', info: [{ channelId: 1, status: 0 }] }] });
    mock.onRequest((cmd, msg, devid) => ({ ack: 0, msg: JSON.stringify({ rows: [`${cmd} ${devid} ${msg}`] }) }));
    const shown = { channels: [], records: [] };
    await startLobby(await connect(), {
        channels: (lines) => shown.channels.push(lines),
        records: (rows) => shown.records.push(rows),
    });
    await mock.setChannelStatus('cam-1', 1, 2);
    assert.deepEqual(shown, {
        channels: [['cam-1/1: 0'], ['cam-1/1: 2']],
        records: [['1001 nvr-01 {"query":"records"}']],
    });
});
