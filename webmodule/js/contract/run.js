#!/usr/bin/env node
// taviweb-contract: the bridge contract, the answers a page may rely on, run
// from a page project against the stand-in bridge under Node and against the
// module in the demo host. One line per bridge; exits 0 when both keep it.
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { spawnSync } = require('node:child_process');

const USAGE = 'usage: taviweb-contract [--bridge both|stand-in|host] [--demo PATH-TO-tavi-demo]\n'
    + '  the host run needs the tavi-demo program (--demo, or TAVI_DEMO) and puppeteer-core\n'
    + '  in the page project (npm install --save-dev puppeteer-core)';

function fail(text) {
    process.stderr.write(`taviweb-contract: ${text}\n${USAGE}\n`);
    process.exit(2);
}

const options = { bridge: 'both', demo: process.env.TAVI_DEMO || '' };
const args = process.argv.slice(2);
for (let i = 0; i < args.length; ++i) {
    const [name, inline] = args[i].split(/=(.*)/s);
    if (name === '--help' || name === '-h') {
        process.stdout.write(`${USAGE}\n`);
        process.exit(0);
    }
    if (name !== '--bridge' && name !== '--demo')
        fail(`unknown argument ${args[i]}`);
    const value = inline !== undefined ? inline : args[++i];
    if (value === undefined)
        fail(`${name} needs a value`);
    options[name.slice(2)] = value;
}
const bridges = { both: ['stand-in', 'host'], 'stand-in': ['stand-in'], host: ['host'] }[options.bridge];
if (!bridges)
    fail(`--bridge is both, stand-in or host, not ${options.bridge}`);
// Refused before anything runs: a contract half run must not pass for whole.
if (bridges.includes('host')) {
    if (!options.demo || !fs.existsSync(options.demo))
        fail(options.demo ? `no tavi-demo at ${options.demo}` : 'the host run needs the tavi-demo program');
    try {
        require.resolve('puppeteer-core', { paths: [process.cwd(), __dirname] });
    } catch (e) {
        fail('puppeteer-core is not installed in this project');
    }
}

const env = { ...process.env, TAVI_DEMO: path.resolve(options.demo || '.') };
// Under a test runner of its own, a nested run reports as usual.
delete env.NODE_TEST_CONTEXT;
let failed = 0;
for (const bridge of bridges) {
    const name = bridge === 'host' ? `the host (${env.TAVI_DEMO})` : 'the stand-in bridge';
    const run = spawnSync(process.execPath, ['--test', path.join(__dirname, `${bridge}.test.js`)],
                          { env, stdio: 'inherit' });
    const passed = run.status === 0;
    failed += passed ? 0 : 1;
    process.stdout.write(`taviweb-contract: ${name}: ${passed ? 'keeps the contract' : 'FAILED'}\n`);
}
process.exit(failed ? 1 : 0);
