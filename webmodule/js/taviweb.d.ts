// Type declarations for pages shown by the Tavi web module: the raw
// "CWebComm" bridge object, the page functions the module calls, and the
// taviweb.js library.
//
// Use from a page's TypeScript with:
//   /// <reference path="taviweb.d.ts" />

/** Result callback of a bridge call made through qwebchannel.js. */
type TaviCallback<T> = (result: T) => void;

/**
 * The native bridge object, `channel.objects.CWebComm`. Every method takes its
 * arguments and then a callback that receives the result once the call has
 * run in the host. Calls marked "blocks" hold the page's window (and the
 * host's GUI thread) until they return.
 */
interface CWebCommBridge {
    /** Folder dialog (modal, blocks); the chosen folder, or originalPath when cancelled. */
    BrowseFilePath(originalPath: string, cb?: TaviCallback<string>): void;
    /** File dialog offering audio files first (modal, blocks); the chosen file, or originalPath. */
    BrowseFile(originalPath: string, cb?: TaviCallback<string>): void;
    /** Plays a local sound file once; a new call replaces the previous sound. */
    PlaySoundFile(file: string, cb?: TaviCallback<void>): void;
    /** Device status JSON (indented), see TaviDeviceStatus. */
    GetDevStatus(cb?: TaviCallback<string>): void;
    /** Session id of a device; '' when the SDK does not know it. */
    GetDevSessionId(devId: string, cb?: TaviCallback<string>): void;
    /** Modal picture viewer (blocks until closed). */
    ShowPicture(filePath: string, cb?: TaviCallback<void>): void;
    /** Opens the video playback window for a local file. */
    PlayVideoFile(file: string, cb?: TaviCallback<void>): void;
    /** JSON array of {sourceFile, targetFile}; copies synchronously (blocks); a "showTip" per copy goes to the host. */
    CopyFileFunc(command: string, cb?: TaviCallback<void>): void;
    /** JSON array of file paths; deletes the regular files among them. */
    DelFileFunc(command: string, cb?: TaviCallback<void>): void;
    /** Modal alarm tip (blocks); true when the user chose "Prompt later". */
    ShowDevAlarmTips(msg: string, cb?: TaviCallback<boolean>): void;
    /** Asks the host for the user token; it arrives later as emitUserToken. */
    GetUserToken(cb?: TaviCallback<void>): void;
    /** Folder for later downloads ('' brings the save dialog back). */
    SetDownloadPath(filePath: string, cb?: TaviCallback<void>): void;
    /** Stores "...base64,<data>" as filePath; 0 on success, -1 on failure. */
    AfterSnapshot(base64: string, channelId: string, time: number, filePath: string,
                  cb?: TaviCallback<number>): void;
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
}

/** One device of the device status JSON. */
interface TaviDeviceStatus {
    guid: string;
    info: Array<{ channelId: number; status: number }>;
}

/** The page functions the module calls. Every argument is a string. */
interface TaviPageFunctions {
    emitServerRespone(sn: string, ack: string, msg: string): void;
    emitHostResponse(message: string, sn: string): void;
    emitDevStatus(message: string): void;
    emitDataCacheNotify(key: string, value: string): void;
    emitInfoNotify(message: string): void;
    emitUserToken(token: string): void;
}

declare namespace TaviWeb {
    interface Options {
        /** request(): default time-out for emitServerRespone (15000 ms). */
        requestTimeoutMs?: number;
        /** notifyHost(): default time-out for emitHostResponse (5000 ms). */
        notifyTimeoutMs?: number;
        /** userToken(): default time-out for emitUserToken (5000 ms). */
        tokenTimeoutMs?: number;
        /** connect(): time allowed for the web channel to open (10000 ms). */
        connectTimeoutMs?: number;
    }

    interface CallOptions {
        timeoutMs?: number;
    }

    interface ServerAnswer {
        sn: string;
        ack: number;
        msg: string;
    }

    interface Events {
        devStatus: TaviDeviceStatus[];
        dataCache: { key: string; value: string };
        info: string;
        userToken: string;
        hostResponse: { msg: string; sn: string };
        serverResponse: ServerAnswer;
        error: TaviWebError;
    }

    interface TaviWebError extends Error {
        name: 'TaviWebError';
        code: 'timeout' | 'rejected' | 'bad-json' | 'no-method' | 'no-channel' | 'no-transport' | 'no-bridge' | 'refused';
        sn?: string;
        status?: number;
        /** For 'refused': the bridge method the host refused. */
        method?: string;
    }

    interface Client {
        readonly raw: CWebCommBridge;
        request(cmd: number, msg: string, devid: string, opts?: CallOptions): Promise<ServerAnswer>;
        /** Blocks the window natively; timeoutMs defaults to the bridge's 300. */
        requestSync(cmd: number, msg: string, devid: string, opts?: CallOptions): Promise<string>;
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
        copyFiles(orders: Array<{ sourceFile: string; targetFile: string }>): Promise<void>;
        deleteFiles(paths: string[]): Promise<void>;
        saveSnapshot(dataUrl: string, channelId: string, time: number, filePath: string): Promise<number>;
        invoke(method: keyof CWebCommBridge, ...args: unknown[]): Promise<unknown>;
        on<K extends keyof Events>(event: K, handler: (value: Events[K]) => void): this;
        off<K extends keyof Events>(event: K, handler?: (value: Events[K]) => void): this;
    }

    const VERSION: string;
    const PAGE_FUNCTIONS: ReadonlyArray<keyof TaviPageFunctions>;
    function connect(options?: Options): Promise<Client>;
    function createClient(raw: CWebCommBridge, options?: Options): Client;
    function installPageFunctions(global?: object): void;
}

interface Window extends Partial<TaviPageFunctions> {
    TaviWeb: typeof TaviWeb;
}

/** qwebchannel.js, loaded from qrc:///qtwebchannel/qwebchannel.js. */
declare class QWebChannel {
    constructor(transport: unknown, ready: (channel: QWebChannel) => void);
    objects: { CWebComm: CWebCommBridge; [name: string]: unknown };
}

declare const qt: { webChannelTransport: unknown };
