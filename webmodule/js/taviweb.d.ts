// Type declarations for pages that load taviweb.js as a classic script
// (qrc:///taviweb/taviweb.js): the raw "CWebComm" bridge object, the page
// functions the module calls, and the global `TaviWeb`. The types themselves
// are those of the module form, in taviweb-api.d.ts beside this file.
//
// Use from a page's TypeScript with:
//   /// <reference path="taviweb.d.ts" />

type TaviCallback<T> = import('./taviweb-api').TaviCallback<T>;
type CWebCommBridge = import('./taviweb-api').CWebCommBridge;
type TaviDeviceStatus = import('./taviweb-api').TaviDeviceStatus;
type TaviPageFunctions = import('./taviweb-api').TaviPageFunctions;
type QWebChannel = import('./taviweb-api').QWebChannel;

/** The library, loaded by the page with <script src="qrc:///taviweb/taviweb.js">. */
declare const TaviWeb: typeof import('./taviweb-api');
declare namespace TaviWeb {
    type Options = import('./taviweb-api').Options;
    type CallOptions = import('./taviweb-api').CallOptions;
    type ServerAnswer = import('./taviweb-api').ServerAnswer;
    type Events = import('./taviweb-api').Events;
    type TaviWebError = import('./taviweb-api').TaviWebError;
    type CallRefusal = import('./taviweb-api').CallRefusal;
    type RefusalReason = import('./taviweb-api').RefusalReason;
    type Client = import('./taviweb-api').Client;
    type Timers = import('./taviweb-api').Timers;
}

// Only a page shown by the module has qt.webChannelTransport, and
// qwebchannel.js loads from qrc: only there: in an ordinary browser both are
// missing, so check before use (`typeof qt !== 'undefined'`, `window.qt?.`).
declare var qt: { webChannelTransport: unknown } | undefined;
declare var QWebChannel: import('./taviweb-api').QWebChannelConstructor | undefined;

interface Window extends Partial<TaviPageFunctions> {
    /** Set by taviweb.js when loaded as a classic script. */
    TaviWeb?: typeof TaviWeb;
}
