// Types of taviweb.js as a module: what `import ... from "@tavi/taviweb"`
// and `require("@tavi/taviweb")` give. taviweb.d.ts declares the same for
// pages that load the classic script and use the global `TaviWeb`.

/** Result callback of a bridge call made through qwebchannel.js. */
export type TaviCallback<T> = (result: T) => void;

/**
 * The native bridge object, `channel.objects.CWebComm`. Every method takes its
 * arguments and then a callback that receives the result once the call has
 * run in the host. Calls marked "blocks" hold the host's window (and its GUI
 * thread) until they return. Calls marked "waits" answer only when done (a
 * dialog closed, every file copied) while the window stays responsive and
 * pushes keep arriving; further bridge calls are answered after them.
 */
export interface CWebCommBridge {
    /** Folder dialog (modal, waits); the chosen folder, or originalPath when cancelled. */
    BrowseFilePath(originalPath: string, cb?: TaviCallback<string>): void;
    /** File dialog offering audio files first (modal, waits); the chosen file, or originalPath. */
    BrowseFile(originalPath: string, cb?: TaviCallback<string>): void;
    /** Plays a local sound file once; a new call replaces the previous sound. */
    PlaySoundFile(file: string, cb?: TaviCallback<void>): void;
    /** Device status JSON (indented), see TaviDeviceStatus. */
    GetDevStatus(cb?: TaviCallback<string>): void;
    /** Session id of a device; '' when the SDK does not know it. */
    GetDevSessionId(devId: string, cb?: TaviCallback<string>): void;
    /** Modal picture viewer (waits until closed). */
    ShowPicture(filePath: string, cb?: TaviCallback<void>): void;
    /** Opens the video playback window for a local file. */
    PlayVideoFile(file: string, cb?: TaviCallback<void>): void;
    /** JSON array of {sourceFile, targetFile}; copies on a thread of its own (waits); a "showTip" per copy goes to the host. */
    CopyFileFunc(command: string, cb?: TaviCallback<void>): void;
    /** JSON array of file paths; deletes the regular files among them. */
    DelFileFunc(command: string, cb?: TaviCallback<void>): void;
    /** Modal alarm tip (waits); true when the user chose "Prompt later". */
    ShowDevAlarmTips(msg: string, cb?: TaviCallback<boolean>): void;
    /** Asks the host for the user token; it arrives later as emitUserToken. */
    GetUserToken(cb?: TaviCallback<void>): void;
    /** Folder for later downloads ('' brings the save dialog back). */
    SetDownloadPath(filePath: string, cb?: TaviCallback<void>): void;
    /** Stores "...base64,<data>" as filePath; 0 on success, -1 on failure. */
    AfterSnapshot(base64: string, channelId: string, time: number, filePath: string,
                  cb?: TaviCallback<number>): void;
    /** Saves the page as a PDF file; 0 when started, -1 when refused; the outcome comes on emitPdfResult. */
    SavePageAsPdf?(filePath: string, cb?: TaviCallback<number>): void;
    /** Does nothing; kept for pages that call it. */
    ReleaseWebPage(url: string, cb?: TaviCallback<void>): void;
    /** Notifies the host; its answer comes later as emitHostResponse(message, sn). Returns 0. */
    NotifyToHost(msg: string, sn: string, cb?: TaviCallback<number>): void;
    /** Notifies the host and waits for its answer (blocks); '' after the time-out. */
    NotifyToHostSync(msg: string, timeout: number, cb?: TaviCallback<string>): void;
    /** As above with the default time-out of 300 ms. */
    NotifyToHostSync(msg: string, cb?: TaviCallback<string>): void;
    /** Asynchronous server request; the answer comes as emitServerRespone(sn, ack, msg). The SDK's status. */
    RequestToVmsServer(cmd: number, msg: string, sn: string, devid: string,
                       cb?: TaviCallback<number>): void;
    /** Synchronous server request (blocks); the answer body, '' when there is none. */
    RequestToVmsServerSync(cmd: number, msg: string, devid: string, timeout: number,
                           cb?: TaviCallback<string>): void;
    /** As above with the default time-out of 300. */
    RequestToVmsServerSync(cmd: number, msg: string, devid: string, cb?: TaviCallback<string>): void;
    /** Each order's outcome of this page's CopyFileFunc, as JSON (see CopyOutcome); absent from older modules. */
    emitCopyResult?: TaviSignal<string>;
    /** A long copy's progress, as JSON (see CopyProgress), a few times a second at most. */
    emitCopyProgress?: TaviSignal<string>;
    /** The outcome of this page's SavePageAsPdf, as JSON (see PdfOutcome); absent from older modules. */
    emitPdfResult?: TaviSignal<string>;
    /** Why the policy refused a call of this page, as JSON (see CallRefusal), before the call's answer; absent from older modules. */
    emitCallRefused?: TaviSignal<string>;
}

/** Why the host's policy refused a bridge call. */
export type RefusalReason = 'untrusted-document' | 'outside-file-roots' | 'url-not-path' | 'empty-path' | 'nul-in-path';

/** What emitCallRefused tells: the method, the reason, a few words, and the path refused. */
export interface CallRefusal {
    method: string;
    reason: RefusalReason;
    why: string;
    /** A refused path, as the page gave it. */
    path?: string;
}

/** A signal of the bridge object, as qwebchannel.js gives it. */
export interface TaviSignal<T> {
    connect(handler: (value: T) => void): void;
    disconnect(handler: (value: T) => void): void;
}

/** What became of one order of CopyFileFunc; index -1 for a command that is no JSON array. */
export interface CopyOutcome {
    index: number;
    sourceFile: string;
    targetFile: string;
    outcome: 'written' | 'refused' | 'failed';
    /** Why, for 'refused' and 'failed'. */
    why?: string;
}

/** What became of one SavePageAsPdf. */
export interface PdfOutcome {
    filePath: string;
    outcome: 'written' | 'refused' | 'failed';
    /** Why, for 'refused' and 'failed'. */
    why?: string;
}

/** Bytes copied so far of one order. */
export interface CopyProgress {
    index: number;
    sourceFile: string;
    targetFile: string;
    done: number;
    total: number;
}

/** One device of the device status JSON; the status codes are the host's own. */
export interface TaviDeviceStatus {
    guid: string;
    info: Array<{ channelId: number; status: number }>;
}

/** The page functions the module calls. Every argument is a string. */
export interface TaviPageFunctions {
    emitServerRespone(sn: string, ack: string, msg: string): void;
    emitHostResponse(message: string, sn: string): void;
    emitDevStatus(message: string): void;
    emitDataCacheNotify(key: string, value: string): void;
    emitInfoNotify(message: string): void;
    emitUserToken(token: string): void;
}

/** qwebchannel.js's channel, as far as pages use it. */
export interface QWebChannel {
    /** CWebComm is missing when the host does not trust the page's origin. */
    objects: { CWebComm?: CWebCommBridge; [name: string]: unknown };
}

/** qwebchannel.js's constructor (global `QWebChannel` once the script is loaded). */
export type QWebChannelConstructor = new (transport: unknown, ready: (channel: QWebChannel) => void) => QWebChannel;

/** Timers a client uses for its time-outs (tests pass their own). */
export interface Timers {
    setTimeout(callback: () => void, ms: number): unknown;
    clearTimeout(handle: any): void;
}

export interface TimeoutOptions {
    /** request(): default time-out for emitServerRespone (15000 ms). */
    requestTimeoutMs?: number;
    /** notifyHost(): default time-out for emitHostResponse (5000 ms). */
    notifyTimeoutMs?: number;
    /** userToken(): default time-out for emitUserToken (5000 ms). */
    tokenTimeoutMs?: number;
    /** connect(): time allowed for the web channel to open (10000 ms). */
    connectTimeoutMs?: number;
}

export interface Options extends TimeoutOptions {
    /** Where the page functions go and qt/QWebChannel are looked up (default: window). */
    global?: object;
    /** connect(): the channel constructor (default: the global QWebChannel). */
    QWebChannel?: QWebChannelConstructor;
    /** connect(): the transport (default: qt.webChannelTransport). */
    transport?: unknown;
    /** Timers for the time-outs of the client's calls (default: the global ones). */
    timers?: Timers;
    /**
     * connect(): when there is no bridge for this page (no module, or a host that does not
     * trust the document: codes no-channel, no-transport, no-bridge), called with the error
     * to install a stand-in (@tavi/taviweb/mock); the client is then made on it.
     */
    standIn?: (error: TaviWebError) => unknown;
}

export interface CallOptions {
    timeoutMs?: number;
}

export interface ServerAnswer {
    sn: string;
    /** The result code: a number, or the text as it came when it is no decimal number. */
    ack: number | string;
    msg: string;
}

/** What the library rejects with; `instanceof TaviWebError` tells its errors apart. */
export declare class TaviWebError extends Error {
    constructor(code: TaviWebError['code'], message: string, details?: object);
    name: 'TaviWebError';
    code: 'timeout' | 'rejected' | 'bad-json' | 'no-method' | 'no-channel' | 'no-transport' | 'no-bridge' | 'refused';
    sn?: string;
    status?: number;
    /** bad-json of a push: the text that could not be read. */
    text?: string;
    /** refused: the bridge method the host refused. */
    method?: string;
    /** refused, and no-bridge: why (a page of an origin the host does not trust: 'untrusted-document'). */
    reason?: RefusalReason;
    /** refused, no-bridge: why, in a few words. */
    why?: string;
    /** refused: the path refused, as given. */
    path?: string;
    /** refused: every refusal of the call when there were several (deleteFiles). */
    refusals?: CallRefusal[];
    /** no-bridge: the document's origin. */
    origin?: string;
}

export interface Events {
    devStatus: TaviDeviceStatus[];
    dataCache: { key: string; value: string };
    info: string;
    userToken: string;
    hostResponse: { msg: string; sn: string };
    serverResponse: ServerAnswer;
    error: TaviWebError;
}

/** A page's client of the bridge; make one with connect() or createClient(). */
export declare class Client {
    constructor(raw: CWebCommBridge, options?: Options);
    readonly raw: CWebCommBridge;
    /** The options in effect: the defaults where none was given. */
    readonly options: Required<TimeoutOptions>;
    /** The web channel, on clients made by connect(). */
    channel?: QWebChannel;
    request(cmd: number, msg: string, devid: string, opts?: CallOptions): Promise<ServerAnswer>;
    /** Blocks the window natively; timeoutMs defaults to the bridge's 300. */
    requestSync(cmd: number, msg: string, devid: string, opts?: CallOptions): Promise<string>;
    /** opts.sn: the sn to send (default: a new one of this client). */
    notifyHost(msg: string, opts?: CallOptions & { sn?: string }): Promise<string>;
    notifyHostNoReply(msg: string, sn?: string): Promise<number>;
    /** Blocks the window natively; timeoutMs defaults to the bridge's 300. */
    notifyHostSync(msg: string, opts?: CallOptions): Promise<string>;
    devSessionId(devId: string): Promise<string>;
    devStatus(): Promise<TaviDeviceStatus[]>;
    userToken(opts?: CallOptions): Promise<string>;
    browseFolder(start?: string): Promise<string>;
    browseFile(start?: string): Promise<string>;
    playSound(file: string): Promise<void>;
    showPicture(path: string): Promise<void>;
    playVideo(file: string): Promise<void>;
    showAlarmTip(msg: string): Promise<boolean>;
    setDownloadPath(path: string): Promise<void>;
    releasePage(url?: string): Promise<void>;
    /**
     * Copies files on a thread of the host's (the window stays responsive); resolves
     * with each order's outcome, or undefined from a host whose module tells none.
     */
    copyFiles(orders: Array<{ sourceFile: string; targetFile: string }>,
              opts?: { onProgress?: (progress: CopyProgress) => void }): Promise<CopyOutcome[] | undefined>;
    deleteFiles(paths: string[]): Promise<void>;
    saveSnapshot(dataUrl: string, channelId: string, time: number, filePath: string): Promise<number>;
    /**
     * Saves the page as shown as a PDF file (A4) at filePath, within the host's write roots;
     * resolves with the outcome once the file is on the disk (or refused, or failed).
     * Rejects with code 'no-method' on a module without it.
     */
    savePageAsPdf(filePath: string): Promise<PdfOutcome>;
    /** Calls a bridge method by name with its arguments; resolves with its result. */
    invoke(method: keyof CWebCommBridge, ...args: unknown[]): Promise<any>;
    /** A new sn of this client; answers with it that no call awaits are dropped. */
    nextSn(): string;
    ownsSn(sn: unknown): boolean;
    on<K extends keyof Events>(event: K, handler: (value: Events[K]) => void): this;
    off<K extends keyof Events>(event: K, handler?: (value: Events[K]) => void): this;
    /** Entry of the page functions: name of one, its arguments. */
    dispatch(name: string, args: unknown[]): void;
}

/** The library's version, that of the module it comes with. */
export declare const VERSION: string;
export declare const DEFAULTS: Readonly<Required<TimeoutOptions>>;
export declare const PAGE_FUNCTIONS: ReadonlyArray<keyof TaviPageFunctions>;
/** Resolves with a client once the channel's "CWebComm" object is there. */
export declare function connect(options?: Options): Promise<Client>;
/** A client over a bridge object at hand. */
export declare function createClient(raw: CWebCommBridge, options?: Options): Client;
/** Puts the page functions on global (default: window), chaining the page's own. */
export declare function installPageFunctions(global?: object): void;
/** Forgets every client (tests). */
export declare function _reset(): void;
