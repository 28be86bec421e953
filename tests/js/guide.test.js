// The page guide's testing chapter: its files (each code block under a
// "guide-file" comment) make a page project, with the package and
// puppeteer-core installed as a page author would have them, and its test
// passes in the demo host.
'use strict';

const test = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { demoProgram } = require('./support/served.js');
const { root, guideFiles, guideProject } = require('./support/guide.js');

test('the testing chapter names its project, page, scenario and tests', () => {
    assert.deepEqual(Object.keys(guideFiles()).sort(), ['package.json', 'page/index.html', 'page/scenario.json', 'test/doors.playwright.test.mjs', 'test/doors.test.mjs']);
    JSON.parse(guideFiles()['package.json']); // page/scenario.json: the schema's test reads it
});

test('the stand-in\'s chapter names each of its options and controls', () => {
    const types = fs.readFileSync(path.join(root, 'webmodule/js/taviweb-mock.d.ts'), 'utf8');
    const members = (name) => [...new RegExp(`interface ${name} \\{([\\s\\S]*?)\\n\\}`).exec(types)[1]
        .matchAll(/^ {4}(?:readonly )?(\w+)\??[(:]/gm)].map((m) => m[1]);
    const guide = fs.readFileSync(path.join(root, 'docs/page-api.md'), 'utf8');
    const chapter = guide.slice(guide.indexOf('## A page without the client'), guide.indexOf('## Debugging a page'));
    const names = [...members('MockOptions'), ...members('MockHost')];
    assert.ok(names.length > 20);
    assert.deepEqual(names.filter((n) => !new RegExp('`(mock\\.)?' + n + '\\b').test(chapter)), []);
});

// The keys of value that schema does not declare, as paths.
function undeclared(schema, value, at = '') {
    if (Array.isArray(value))
        return value.flatMap((v, i) => undeclared(schema.items || {}, v, `${at}[${i}]`));
    if (value === null || typeof value !== 'object' || !(schema.properties || schema.additionalProperties))
        return [];
    return Object.entries(value).flatMap(([k, v]) => {
        const inner = (schema.properties || {})[k] || schema.additionalProperties;
        return inner ? undeclared(inner === true ? {} : inner, v, `${at}.${k}`) : [`${at}.${k}`];
    });
}

test('the shipped scenario schema declares every key of the scenarios in use and no other', () => {
    const schema = JSON.parse(fs.readFileSync(path.join(root, 'webmodule/js/scenario.schema.json'), 'utf8'));
    const scenarios = [JSON.parse(guideFiles()['page/scenario.json']), require('../../webmodule/js/contract/scenario.json'),
        { $schema: 'x', timeline: [{ afterStart: 1, dataCache: { key: 'k', value: 'v' } }] }];
    assert.deepEqual(scenarios.flatMap((s) => undeclared(schema, s)), []);
    assert.deepEqual(undeclared(schema, { timeline: [{ at: 1, after: 2 }], tours: true }), ['.timeline[0].after', '.tours']);
});

test('the testing chapter\'s test passes in the demo host', { skip: demoProgram() ? false : 'TAVI_DEMO does not name the tavi-demo program' }, () => {
    const project = guideProject('tavi-guide-');
    try {
        // As installed: the package from its folder, the drivers from the tests' lock file.
        fs.mkdirSync(path.join(project, 'node_modules/@tavi'), { recursive: true });
        fs.symlinkSync(path.join(root, 'webmodule/js'), path.join(project, 'node_modules/@tavi/taviweb'));
        for (const driver of ['puppeteer-core', 'playwright-core'])
            fs.symlinkSync(path.join(__dirname, 'node_modules', driver), path.join(project, 'node_modules', driver));
        const env = { ...process.env, QT_QPA_PLATFORM: 'offscreen' };
        delete env.NODE_TEST_CONTEXT;
        try {
            execFileSync(process.execPath, ['--test', 'test/'], { cwd: project, env, encoding: 'utf8', stdio: ['ignore', 'pipe', 'pipe'] });
        } catch (e) {
            assert.fail(`the guide's test failed:\n${e.stdout}${e.stderr}`);
        }
    } finally {
        fs.rmSync(project, { recursive: true, force: true });
    }
});
