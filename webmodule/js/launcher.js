'use strict';
// Starts the demo host in its serving mode for an automated browser and
// hands back where to attach (DevTools) and how to drive the simulated host
// (its control endpoint). Both answer only requests with the run's secret,
// which the host prints on its ready line to this process alone. Node only;
// never part of a page.

const { spawn } = require('node:child_process');
const http = require('node:http');
const readline = require('node:readline');

const READY = 'TAVI-READY ';

function post(base, secret, path, body, timeoutMs) {
    const data = Buffer.from(body === undefined ? '' : JSON.stringify(body));
    return new Promise((resolve, reject) => {
        const request = http.request(new URL(path, base), {
            method: 'POST',
            headers: {
                'Content-Type': 'application/json',
                'Content-Length': data.length,
                Authorization: `Bearer ${secret}`,
            },
            timeout: timeoutMs,
        }, (response) => {
            const chunks = [];
            response.on('data', (chunk) => chunks.push(chunk));
            response.on('end', () => {
                const text = Buffer.concat(chunks).toString('utf8');
                let answer;
                try {
                    answer = text ? JSON.parse(text) : {};
                } catch (e) {
                    reject(new Error(`tavi-demo ${path}: not JSON: ${text}`));
                    return;
                }
                if (response.statusCode !== 200) {
                    const error = new Error(`tavi-demo ${path}: ${response.statusCode} ${answer.error || text}`);
                    error.status = response.statusCode;
                    error.answer = answer;
                    reject(error);
                    return;
                }
                resolve(answer);
            });
        });
        request.on('timeout', () => request.destroy(new Error(`tavi-demo ${path}: no answer`)));
        request.on('error', reject);
        request.end(data);
    });
}

/**
 * Starts `tavi-demo --serve` and resolves once it has printed its ready line.
 * options.demo: the tavi-demo program (default: $TAVI_DEMO);
 * options.url: the page (a URL or a file path; default: the demo page);
 * options.scenario: a scenario file for the simulated host;
 * options.failOnPageError, options.watch, options.screenshot, options.transcript,
 * options.allowOrigins (web origins whose requests with the secret the
 * host answers too; default none), options.args (more arguments),
 * options.env, options.cwd,
 * options.readyTimeoutMs (default 60000), options.stderr ('inherit' or
 * 'pipe', default 'pipe': kept in host.stderr()).
 */
function launch(options = {}) {
    const program = options.demo || process.env.TAVI_DEMO;
    if (!program)
        return Promise.reject(new Error('tavi-demo not found: pass options.demo or set TAVI_DEMO'));
    const args = ['--serve'];
    if (options.url)
        args.push('--url', String(options.url));
    if (options.scenario)
        args.push('--scenario', String(options.scenario));
    if (options.failOnPageError)
        args.push('--fail-on-page-error');
    if (options.watch)
        args.push('--watch');
    if (options.screenshot)
        args.push('--screenshot', String(options.screenshot));
    if (options.transcript)
        args.push('--transcript', String(options.transcript));
    for (const origin of options.allowOrigins || [])
        args.push('--allow-origin', String(origin));
    args.push(...(options.args || []));
    const timeoutMs = options.readyTimeoutMs || 60000;

    const child = spawn(program, args, {
        cwd: options.cwd,
        env: { ...process.env, ...(options.env || {}) },
        stdio: ['ignore', 'pipe', options.stderr === 'inherit' ? 'inherit' : 'pipe'],
    });
    let stderrText = '';
    if (child.stderr)
        child.stderr.on('data', (chunk) => {
            // The last part only: a long run's Chromium chatter is not kept whole.
            stderrText = (stderrText + chunk.toString('utf8')).slice(-64 * 1024);
        });
    const stdoutLines = [];
    const exited = new Promise((resolve) => {
        child.on('exit', (code, signal) => resolve({ code, signal }));
        child.on('error', (error) => resolve({ code: null, signal: null, error }));
    });

    return new Promise((resolve, reject) => {
        let settled = false;
        const timer = setTimeout(() => {
            fail(new Error(`tavi-demo printed no ready line within ${timeoutMs} ms`));
            child.kill('SIGKILL');
        }, timeoutMs);
        function fail(error) {
            if (settled)
                return;
            settled = true;
            clearTimeout(timer);
            error.stderr = stderrText;
            reject(error);
        }
        exited.then(({ code, signal, error }) => {
            fail(error || new Error(`tavi-demo ended before it was ready (exit ${code}${signal ? ', ' + signal : ''}): ${stderrText.trim().split('\n').slice(-5).join('\n')}`));
        });
        readline.createInterface({ input: child.stdout }).on('line', (line) => {
            if (settled || !line.startsWith(READY)) {
                stdoutLines.push(line);
                return;
            }
            let ready;
            try {
                ready = JSON.parse(line.slice(READY.length));
            } catch (e) {
                fail(new Error(`tavi-demo: a ready line that is not JSON: ${line}`));
                return;
            }
            settled = true;
            clearTimeout(timer);
            resolve(makeHost(child, ready, exited, () => stderrText, stdoutLines));
        });
    });
}

function makeHost(child, ready, exited, stderr, stdoutLines) {
    let ending;
    const host = {
        /** DevTools, http://127.0.0.1:PORT: requests need the secret (Authorization: Bearer). */
        devtools: ready.devtools,
        /** For puppeteer.connect({ browserWSEndpoint }): the secret is in it. */
        browserWSEndpoint: ready.browserWSEndpoint,
        /** The control endpoint, http://127.0.0.1:PORT. */
        control: ready.control,
        /** The run's secret, which both endpoints want; keep it to the test. */
        secret: ready.secret,
        pid: ready.pid,
        url: ready.url,
        process: child,
        /** Resolves with { code, signal } when the host has ended. */
        exited,
        stderr,
        stdout: () => stdoutLines.slice(),
        /** POSTs body (JSON) to a control path; resolves with the answer. */
        send(path, body, timeoutMs = 30000) {
            if (!host.control)
                return Promise.reject(new Error('tavi-demo has no control endpoint'));
            return post(host.control, host.secret, path, body, timeoutMs);
        },
        pushDeviceState(device, channel, status) {
            return host.send('/push-device-state', { device, channel, status });
        },
        answerNotification(answer, options = {}) {
            return host.send('/answer-notification', { answer, ...options });
        },
        notice(message) {
            return host.send('/notice', { message });
        },
        serverAnswer(answer) {
            return host.send('/server-answer', answer);
        },
        /**
         * Ends the host: by its control endpoint, or with a signal
         * ('SIGTERM', 'SIGINT'). Resolves with { code, signal }.
         */
        stop({ signal } = {}) {
            if (!ending) {
                if (signal)
                    child.kill(signal);
                else
                    host.send('/stop').catch(() => child.kill('SIGTERM'));
                ending = exited;
            }
            return ending;
        },
    };
    return host;
}

module.exports = { launch, READY_PREFIX: READY };
