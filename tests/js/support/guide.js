// The page guide's files: each code block under a "guide-file" comment, as
// the suites that run the guide's page project build it.
'use strict';

const fs = require('node:fs');
const path = require('node:path');

const root = path.join(__dirname, '../../..');

// { path: text } of the guide's files.
function guideFiles() {
    const guide = fs.readFileSync(path.join(root, 'docs/page-api.md'), 'utf8');
    const files = {};
    const block = /<!-- guide-file: (\S+) -->\n```\w*\n([\s\S]*?)\n```/g;
    for (let m; (m = block.exec(guide));)
        files[m[1]] = m[2] + '\n';
    return files;
}

// Writes the guide's files into a new folder under the system's temporary
// one and returns it.
function guideProject(prefix) {
    const project = fs.mkdtempSync(path.join(require('node:os').tmpdir(), prefix));
    for (const [file, text] of Object.entries(guideFiles())) {
        fs.mkdirSync(path.dirname(path.join(project, file)), { recursive: true });
        fs.writeFileSync(path.join(project, file), text);
    }
    return project;
}

module.exports = { root, guideFiles, guideProject };
