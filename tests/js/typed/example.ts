/// <reference path="../../../webmodule/js/taviweb.d.ts" />
// A typed page: compiles only while the declarations match the bridge.

function rawBridge(): void {
    new QWebChannel(qt.webChannelTransport, (channel) => {
        const bridge: CWebCommBridge = channel.objects.CWebComm;
        bridge.RequestToVmsServer(1001, '{"page":1}', 'sn-1', 'cam-lobby', (status: number) => {
            console.log('status', status);
        });
        bridge.RequestToVmsServerSync(1002, '{}', 'cam-lobby', (body: string) => console.log(body));
        bridge.RequestToVmsServerSync(1002, '{}', 'cam-lobby', 1000, (body: string) => console.log(body));
        bridge.NotifyToHostSync('{"ask":1}', (answer: string) => console.log(answer));
        bridge.NotifyToHostSync('{"ask":1}', 500, (answer: string) => console.log(answer));
        bridge.AfterSnapshot('data:image/png;base64,AAAA', 'ch-1', Date.now() / 1000, '/tmp/a.png',
                             (rc: number) => console.log(rc));
        bridge.ShowDevAlarmTips('Door opened', (later: boolean) => console.log(later));
    });
}

window.emitServerRespone = (sn: string, ack: string, msg: string) => console.log(sn, Number(ack), msg);
window.emitDevStatus = (message: string) => {
    const devices = JSON.parse(message) as TaviDeviceStatus[];
    devices.forEach((d) => d.info.forEach((c) => console.log(d.guid, c.channelId, c.status)));
};

async function withLibrary(): Promise<void> {
    const tavi = await TaviWeb.connect({ requestTimeoutMs: 5000 });
    const answer: TaviWeb.ServerAnswer = await tavi.request(1001, '{}', 'cam-lobby', { timeoutMs: 2000 });
    const ack: number = answer.ack;
    const token: string = await tavi.userToken();
    const devices: TaviDeviceStatus[] = await tavi.devStatus();
    const hostAnswer: string = await tavi.notifyHost('{"ask":"dialog"}');
    const later: boolean = await tavi.showAlarmTip('Motion at the gate');
    const saved: number = await tavi.saveSnapshot('data:image/png;base64,AAAA', 'ch', 0, '/tmp/s.png');
    tavi.on('devStatus', (list) => list.forEach((d) => console.log(d.guid)));
    tavi.on('dataCache', ({ key, value }) => console.log(key, value));
    tavi.on('hostResponse', ({ msg, sn }) => console.log(msg, sn));
    tavi.on('error', (e) => console.log(e.code));
    console.log(ack, token, devices.length, hostAnswer, later, saved);
}

rawBridge();
void withLibrary();
