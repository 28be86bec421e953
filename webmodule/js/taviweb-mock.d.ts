// Types of taviweb-mock.js, the stand-in bridge for running pages without
// the client ("@tavi/taviweb/mock").

import type { CWebCommBridge, QWebChannelConstructor, TaviDeviceStatus, TaviPageFunctions } from './taviweb-api';

/** What the simulated server answers a request; status < 0 refuses it (no answer follows). */
export interface ServerReply {
    ack?: number;
    msg?: string;
    status?: number;
}

/**
 * The server: the answer to RequestToVmsServer (arriving as emitServerRespone)
 * and RequestToVmsServerSync. A string is the body with ack 0; null: no answer.
 */
export type RequestHandler = (cmd: number, msg: string, devid: string) =>
    ServerReply | string | null | undefined | Promise<ServerReply | string | null | undefined>;

/**
 * The host: its answer to NotifyToHost (arriving as emitHostResponse with the
 * page's sn) and NotifyToHostSync (with an sn the host makes, "{…}"; an answer
 * after the call's time-out arrives as emitHostResponse with that sn). null,
 * or a promise that never settles: no answer.
 */
export type NotifyHandler = (msg: string, sn: string) =>
    string | null | undefined | Promise<string | null | undefined>;

export interface MockOptions {
    /** Where qt, QWebChannel and the page functions are (default: window, or globalThis). */
    global?: object;
    /** The devices GetDevStatus reports (default: SAMPLE_DEVICES). */
    devices?: TaviDeviceStatus[];
    onRequest?: RequestHandler;
    onNotify?: NotifyHandler;
    /** Results of bridge methods: a value, or a function of the call's arguments (may return a promise). */
    answers?: { [M in keyof CWebCommBridge]?: unknown };
    /** The token GetUserToken brings (default 'mock-token'). */
    userToken?: string;
    /** How long after the call the later answers arrive (default 0 ms). */
    delayMs?: number;
    /**
     * The host's file roots: files are read under read and write, written under write.
     * A path outside them, an empty one, a URL or one with a NUL is refused as the module
     * refuses it (the method's failure value, the refusal on emitCallRefused).
     * Default: no limits.
     */
    fileRoots?: { read?: string[]; write?: string[] };
    /** The longest NotifyToHostSync waits, as the host sets it (default 5000 ms). */
    notifyWaitLimitMs?: number;
    /** Timers for those answers and for pushes (default: the global setTimeout). */
    timers?: { setTimeout(callback: () => void, ms: number): unknown };
}

export interface MockHost {
    /** The fake "CWebComm" object. */
    readonly bridge: CWebCommBridge;
    /** The fake channel constructor and transport, also put on the global. */
    readonly QWebChannel: QWebChannelConstructor;
    readonly transport: unknown;
    /** Every bridge call so far, its arguments converted as Qt converts them. */
    readonly calls: Array<{ method: keyof CWebCommBridge; args: Array<string | number> }>;
    /** The token the next GetUserToken brings. */
    userToken: string;
    /** Replaces the server (no argument: the echo server again). */
    onRequest(handler?: RequestHandler): this;
    /** Replaces the host's answers to notifications (no argument: the default answer again). */
    onNotify(handler?: NotifyHandler): this;
    /** Scripts one method's result (undefined: the default again). */
    answer(method: keyof CWebCommBridge, value: unknown): this;
    /**
     * What a copy allowed by the file roots does (files are never touched): nothing
     * for 'written', or { outcome: 'failed', why }; progress() reports on emitCopyProgress.
     */
    onCopy(handler?: (sourceFile: string, targetFile: string,
                      progress: (done: number, total: number) => void) =>
        { outcome: 'failed'; why: string } | void): this;
    /** A copy of the devices GetDevStatus reports. */
    devices(): TaviDeviceStatus[];
    /** New devices: GetDevStatus reports them, and they are pushed as emitDevStatus. */
    setDevices(devices: TaviDeviceStatus[]): Promise<unknown>;
    /** One channel's new status (device and channel added when new), pushed as setDevices does. */
    setChannelStatus(guid: string, channelId: number, status: number): Promise<unknown>;
    /**
     * Calls a page function on a later turn, as the module does, every argument as a
     * string; the promise gives what it returned.
     */
    push(name: keyof TaviPageFunctions, ...args: unknown[]): Promise<unknown>;
    /** A host notice, as the module passes it on: emitInfoNotify without line feeds, or emitUserToken. */
    notice(text: string): Promise<unknown>;
    /** Puts back the global qt and QWebChannel found at install(). */
    uninstall(): void;
}

/** Installs a fake bridge on the global and returns its controls. */
export declare function install(options?: MockOptions): MockHost;
/** The simulated host's devices, the default of install(). */
export declare const SAMPLE_DEVICES: TaviDeviceStatus[];
