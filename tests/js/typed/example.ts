/// <reference path="../../../webmodule/js/taviweb.d.ts" />
// A typed page on the classic scripts: compiles only while the global
// declarations give the bridge, the page functions and the library.

function rawBridge(): void {
    // Outside the client neither exists: the declarations make the page check.
    if (typeof QWebChannel === 'undefined' || typeof qt === 'undefined')
        return;
    new QWebChannel(qt.webChannelTransport, (channel) => {
        // Absent for a page the host does not trust: the types make the page check.
        const bridge: CWebCommBridge | undefined = channel.objects.CWebComm;
        if (!bridge)
            return;
        bridge.RequestToVmsServerSync(1002, '{}', 'cam-lobby', 1000, (body: string) => console.log(body));
        bridge.NotifyToHostSync('{"ask":1}', (answer: string) => console.log(answer));
        bridge.ShowDevAlarmTips('Door opened', (later: boolean) => console.log(later));
    });
}

window.emitDevStatus = (message: string) => {
    const devices = JSON.parse(message) as TaviDeviceStatus[];
    devices.forEach((d) => d.info.forEach((c) => console.log(d.guid, c.channelId, c.status)));
};

async function withLibrary(): Promise<void> {
    const options: TaviWeb.Options = { requestTimeoutMs: 5000, timers: window };
    const tavi: TaviWeb.Client = await TaviWeb.connect(options);
    const answer: TaviWeb.ServerAnswer = await tavi.request(1001, '{}', 'cam-lobby', { timeoutMs: 2000 });
    const hostAnswer: string = await tavi.notifyHost('{"ask":"dialog"}', { sn: 'page-sn-1' });
    tavi.on('error', (e: TaviWeb.TaviWebError) => console.log(e.code));
    console.log(answer.ack, hostAnswer, TaviWeb.DEFAULTS.requestTimeoutMs, window.TaviWeb?.VERSION);
}

rawBridge();
void withLibrary();
