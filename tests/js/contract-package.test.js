// The contract as a page author runs it: the guide's page project, the
// package packed and installed into it with puppeteer-core by npm, and the
// guide's one command run there against the stand-in bridge and the host.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync, spawnSync } = require('node:child_process');
const { demoProgram } = require('./support/served.js');
const { root, guideProject } = require('./support/guide.js');

// The version the tests' lock file has, from npm's cache when it is there.
const puppeteer = `puppeteer-core@${require('./package-lock.json').packages['node_modules/puppeteer-core'].version}`;

function npm(args, cwd) {
    execFileSync('npm', [...args, '--no-audit', '--no-fund'], { cwd, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
}

test('the guide\'s contract command, installed by npm, passes on both bridges', { skip: demoProgram() ? false : 'TAVI_DEMO does not name the tavi-demo program' }, () => {
    const project = guideProject('tavi-contract-');
    try {
        const packed = JSON.parse(execFileSync('npm', ['pack', '--json', '--pack-destination', project],
                                               { cwd: path.join(root, 'webmodule/js'), encoding: 'utf8' }));
        npm(['install', '--prefer-offline', '--save-dev', path.join(project, packed[0].filename), puppeteer], project);
        const env = { ...process.env, QT_QPA_PLATFORM: 'offscreen' };
        delete env.NODE_TEST_CONTEXT;
        const run = spawnSync('npm', ['run', 'contract'], { cwd: project, env, encoding: 'utf8' });
        const verdicts = run.stdout.split('\n').filter((l) => l.startsWith('taviweb-contract: '));
        assert.deepEqual([run.status, verdicts], [0, [
            'taviweb-contract: the stand-in bridge: keeps the contract',
            `taviweb-contract: the host (${env.TAVI_DEMO}): keeps the contract`,
        ]], `${run.stdout}${run.stderr}`);
    } finally {
        fs.rmSync(project, { recursive: true, force: true });
    }
});
