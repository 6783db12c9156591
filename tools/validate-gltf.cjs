// Checks binary glTF files with the Khronos glTF Validator (npm package gltf-validator).
//   node tools/validate-gltf.cjs NODE_MODULES_DIR FILE...
// Prints each file's counts and every error and warning; exit status 0 when no file has an
// error or a warning, 1 otherwise, 77 when the validator is not installed (a skipped test).
'use strict';
const fs = require('fs');
const path = require('path');

const [modules, ...files] = process.argv.slice(2);
let validator;
try {
    validator = require(path.resolve(modules, 'gltf-validator'));
} catch (e) {
    console.log(`test skipped: no gltf-validator in ${modules} (tools/setup.sh test installs it)`);
    process.exit(77);
}

(async () => {
    let bad = 0;
    for (const file of files) {
        // Images named by a relative URI (the object models' pages) are read and checked too.
        const externalResourceFunction = (uri) => new Promise((resolve, reject) => {
            try {
                resolve(new Uint8Array(fs.readFileSync(path.resolve(path.dirname(file), decodeURIComponent(uri)))));
            } catch (e) {
                reject(e.toString());
            }
        });
        const report = await validator.validateBytes(new Uint8Array(fs.readFileSync(file)),
                                                     { uri: path.basename(file), maxIssues: 0,
                                                       externalResourceFunction });
        const i = report.issues;
        console.log(`${file}: ${i.numErrors} errors, ${i.numWarnings} warnings, ` +
                    `${i.numInfos} infos, ${i.numHints} hints`);
        for (const m of i.messages) {
            if (m.severity <= 1) {
                console.log(`  ${m.severity === 0 ? 'error' : 'warning'} ${m.code} ` +
                            `${m.pointer || ''}: ${m.message}`);
            }
        }
        if (i.numErrors + i.numWarnings > 0) bad++;
    }
    process.exit(bad ? 1 : 0);
})().catch((e) => { console.log(`validator failed: ${e}`); process.exit(1); });
