// Assembles the page: one HTML file holding its style, its scripts and the WebAssembly, with a
// Content-Security-Policy that allows no request at all.
//
//   node web/build_page.mjs fluxtrim_wasm.js fluxtrim_wasm.wasm OUTPUT.html
//
// The library is run here once for what does not depend on a recording: the report's style sheet,
// which the page uses as its own, and the version. The WebAssembly goes into the script as base64
// and is handed to Emscripten's loader as bytes, so that the loader never fetches it.
import { createHash } from 'node:crypto';
import { readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const [glueFile, wasmFile, outFile] = process.argv.slice(2);
if (!outFile) {
  console.error('usage: node build_page.mjs fluxtrim_wasm.js fluxtrim_wasm.wasm OUTPUT.html');
  process.exit(2);
}
const source = (name) => readFileSync(join(dirname(fileURLToPath(import.meta.url)), 'src', name), 'utf8');
const glue = readFileSync(glueFile, 'utf8');
const wasm = readFileSync(wasmFile);

const createModule = new Function(`${glue}\nreturn createFluxtrimModule;`)();
const module = await createModule({ wasmBinary: wasm });
const text = (pointer) =>
  new TextDecoder().decode(module.HEAPU8.subarray(pointer, pointer + module._ft_reply_length()));
const reportStyle = text(module._ft_report_style());
const version = text(module._ft_version());

const script = [
  glue,
  `const FLUXTRIM_WASM_BASE64 = '${wasm.toString('base64')}';`,
  source('engine.js'),
  source('view3d.js'),
  source('live.js'),
  source('page.js'),
].join('\n');
if (/<\/script/i.test(script) || /<\/style/i.test(reportStyle + source('page.css'))) {
  throw new Error('a script or style holds a closing tag: the page would be cut short');
}
// Only this one script may run, and WebAssembly may be compiled; nothing may be fetched, sent,
// framed or submitted. Styles may be inline: the report's plots carry a few style attributes.
const scriptHash = createHash('sha256').update(script, 'utf8').digest('base64');
const policy = [
  "default-src 'none'",
  `script-src 'sha256-${scriptHash}' 'wasm-unsafe-eval'`,
  "style-src 'unsafe-inline'",
  'img-src data:',
  "form-action 'none'",
  "base-uri 'none'",
].join('; ');

const parts = {
  '@CSP@': policy,
  '@STYLE@': `${reportStyle}\n${source('page.css')}`,
  '@VERSION@': version,
  '@SCRIPT@': script,
};
const page = source('page.html').replace(/@(CSP|STYLE|VERSION|SCRIPT)@/g, (key) => parts[key]);
writeFileSync(outFile, page);
console.log(`${outFile}: ${page.length} bytes`);
