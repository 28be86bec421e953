// Types of launcher.js: the demo host served to an automated browser
// ("@tavi/taviweb/launcher"). Node only.

/**
 * The host's process: Node's ChildProcess, declared here as far as a test
 * needs it, so that these types want no @types/node.
 */
export interface HostProcess {
    readonly pid?: number;
    readonly exitCode: number | null;
    kill(signal?: string | number): boolean;
    on(event: 'exit', listener: (code: number | null, signal: string | null) => void): this;
    on(event: string, listener: (...args: unknown[]) => void): this;
}

export interface LaunchOptions {
    /** The tavi-demo program (default: the TAVI_DEMO environment variable). */
    demo?: string;
    /** The page: a URL or a file path (default: the demo page). */
    url?: string;
    /** A scenario file for the simulated host (JSON). */
    scenario?: string;
    /** Exit code 4 instead of 0 when the page left an error uncaught. */
    failOnPageError?: boolean;
    /** Reload the page when a file under its folder changes (a local page only). */
    watch?: boolean;
    screenshot?: string;
    transcript?: string;
    /**
     * Web origins (scheme://host:port) whose requests that carry the secret
     * the host answers too, e.g. a test runner's own page (default: none;
     * every request of a web page is refused).
     */
    allowOrigins?: string[];
    /** More arguments for tavi-demo. */
    args?: string[];
    env?: Record<string, string>;
    cwd?: string;
    /** How long to wait for the ready line (default 60000). */
    readyTimeoutMs?: number;
    /** 'pipe' (default) keeps the host's standard error for host.stderr(). */
    stderr?: 'pipe' | 'inherit';
}

export interface HostExit {
    code: number | null;
    /** The signal that ended it, as 'SIGTERM'. */
    signal: string | null;
    error?: Error;
}

export interface ServedHost {
    /** DevTools, http://127.0.0.1:PORT: each request needs the secret (Authorization: Bearer). */
    readonly devtools: string;
    /** puppeteer.connect({ browserWSEndpoint: host.browserWSEndpoint }): the secret is in it. */
    readonly browserWSEndpoint: string;
    /** The control endpoint, http://127.0.0.1:PORT (null when it could not listen). */
    readonly control: string | null;
    /** The run's secret, which both endpoints want (host.send() sends it). */
    readonly secret: string;
    readonly pid: number;
    /** The page the host opened. */
    readonly url: string;
    readonly process: HostProcess;
    readonly exited: Promise<HostExit>;
    /** The end of the host's standard error. */
    stderr(): string;
    /** Standard output lines other than the ready line. */
    stdout(): string[];
    /** POSTs body as JSON to a control path, with the secret; rejects on a status other than 200. */
    send(path: string, body?: object, timeoutMs?: number): Promise<Record<string, unknown>>;
    /** Sets a channel's state and pushes the device status to the page now. */
    pushDeviceState(device: string, channel: number, status: number): Promise<Record<string, unknown>>;
    /** Answers the oldest (or the given sn's) notification that waits for an answer. */
    answerNotification(answer: string, options?: { sn?: string }): Promise<Record<string, unknown>>;
    /** Sends the page an information notice (emitInfoNotify). */
    notice(message: string): Promise<Record<string, unknown>>;
    /** Ends the host (control request, or the signal); resolves when it has. */
    stop(options?: { signal?: 'SIGTERM' | 'SIGINT' }): Promise<HostExit>;
}

/** Starts tavi-demo --serve; resolves once the page has loaded and DevTools answers. */
export function launch(options?: LaunchOptions): Promise<ServedHost>;
export const READY_PREFIX: string;
