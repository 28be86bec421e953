/// <reference path="../../../webmodule/js/taviweb.d.ts" />
// A typed page on the classic scripts: compiles only while the global
// declarations match the bridge and the library.

function rawBridge(): void {
    // Outside the client neither exists: the declarations make the page check.
    if (typeof QWebChannel === 'undefined' || typeof qt === 'undefined')
        return;
    new QWebChannel(qt.webChannelTransport, (channel) => {
        const bridge: CWebCommBridge = channel.objects.CWebComm;
        bridge.RequestToVmsServer(1001, '{"page":1}', 'sn-1', 'cam-lobby', (status: number) => {
            console.log('status', status);
        });
        bridge.RequestToVmsServerSync(1002, '{}', 'cam-lobby', 1000, (body: string) => console.log(body));
        bridge.NotifyToHostSync('{"ask":1}', (answer: string) => console.log(answer));
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
    const options: TaviWeb.Options = { requestTimeoutMs: 5000, timers: window };
    const tavi: TaviWeb.Client = await TaviWeb.connect(options);
    const answer: TaviWeb.ServerAnswer = await tavi.request(1001, '{}', 'cam-lobby', { timeoutMs: 2000 });
    const hostAnswer: string = await tavi.notifyHost('{"ask":"dialog"}', { sn: 'page-sn-1' });
    tavi.on('userToken', (token) => console.log(token.length));
    tavi.on('error', (e: TaviWeb.TaviWebError) => console.log(e.code));
    console.log(answer.ack, hostAnswer, TaviWeb.DEFAULTS.requestTimeoutMs, window.TaviWeb?.VERSION);
}

rawBridge();
void withLibrary();
