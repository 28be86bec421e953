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
 * page's sn) and NotifyToHostSync (sn ''). null: no answer.
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
    /** Timers for those answers (default: the global setTimeout). */
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
    /** A copy of the devices GetDevStatus reports. */
    devices(): TaviDeviceStatus[];
    /** New devices: GetDevStatus reports them, and they are pushed as emitDevStatus. */
    setDevices(devices: TaviDeviceStatus[]): unknown;
    /** One channel's new status (device and channel added when new), pushed as setDevices does. */
    setChannelStatus(guid: string, channelId: number, status: number): unknown;
    /** Calls a page function now, every argument as a string; returns what it returns. */
    push(name: keyof TaviPageFunctions, ...args: unknown[]): unknown;
    /** Puts back the global qt and QWebChannel found at install(). */
    uninstall(): void;
}

/** Installs a fake bridge on the global and returns its controls. */
export declare function install(options?: MockOptions): MockHost;
/** The simulated host's devices, the default of install(). */
export declare const SAMPLE_DEVICES: TaviDeviceStatus[];
