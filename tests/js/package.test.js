// The npm package: packed from webmodule/js, installed into the page project
// in consumer/, whose TypeScript compiles against the package's types and
// whose Node test runs the page's logic on the stand-in bridge, and whose
// browser bundle leaves the stand-in out unless built for development.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');

const root = path.join(__dirname, '../..');
const libraryDir = path.join(root, 'webmodule/js');
const tsc = path.join(__dirname, 'node_modules/typescript/bin/tsc');
const esbuild = path.join(__dirname, 'node_modules/.bin/esbuild');

// The command's output; its output in the error when it fails.
function run(command, args, cwd) {
    // Without the runner's own context a nested "node --test" reports as usual.
    const env = { ...process.env };
    delete env.NODE_TEST_CONTEXT;
    try {
        return execFileSync(command, args, { cwd, env, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
    } catch (e) {
        throw new Error(`${path.basename(command)} ${args.join(' ')} failed:\n${e.stdout}${e.stderr}`);
    }
}

test('the package and the library have the module\'s version', () => {
    const cmake = fs.readFileSync(path.join(root, 'CMakeLists.txt'), 'utf8');
    const version = /project\(TaviWebModule\s+VERSION\s+([0-9.]+)/.exec(cmake)[1];
    const pkg = JSON.parse(fs.readFileSync(path.join(libraryDir, 'package.json'), 'utf8'));
    assert.deepEqual([pkg.version, require(libraryDir).VERSION], [version, version]);
});

test('packed, installed into a page project: it compiles and its test passes', () => {
    const work = fs.mkdtempSync(path.join(os.tmpdir(), 'taviweb-package-'));
    try {
        const packed = JSON.parse(run('npm', ['pack', '--json', '--pack-destination', work], libraryDir));
        const project = path.join(work, 'page');
        fs.cpSync(path.join(__dirname, 'consumer'), project, { recursive: true });
        // A tarball without dependencies installs offline.
        run('npm', ['install', '--offline', '--no-audit', '--no-fund', '--no-package-lock',
                    path.join(work, packed[0].filename)], project);
        run(process.execPath, [tsc, '-p', project], project);
        run(process.execPath, ['--test', 'test/'], project);

        // A browser bundle has the stand-in only when built for development.
        fs.writeFileSync(path.join(project, 'entry.mjs'),
                         "import { install } from '@tavi/taviweb/mock';\nwindow.installMock = install;\n");
        const bundle = (conditions) => {
            const out = path.join(project, `bundle-${conditions.length}.js`);
            run(esbuild, ['entry.mjs', '--bundle', '--platform=browser', `--outfile=${out}`,
                          ...conditions.map((c) => `--conditions=${c}`)], project);
            return fs.readFileSync(out, 'utf8');
        };
        const shipped = bundle([]);
        assert.doesNotMatch(shipped, /cam-lobby/);
        assert.match(shipped, /left out of production builds/);
        assert.match(bundle(['development']), /cam-lobby/);
    } finally {
        fs.rmSync(work, { recursive: true, force: true });
    }
});
