// The built page in Debian's Chromium, against the native command: the same verdict, offset and
// matrix, the same documents to download, the same field, a live calibration fed by a replay and
// by a simulated serial port, and not one request made.
//
// Needs build-web/fluxtrim.html (tools/build_web.sh) and the native command (build/fluxtrim);
// tools/test_web.sh builds both and runs this. FLUXTRIM_SCREENSHOT=PATH saves a picture of the
// page after the example's replay there (the README's).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { copyFileSync, mkdirSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { after, before, describe, test } from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';
import { chromium } from 'playwright-core';

const repo = resolve(dirname(fileURLToPath(import.meta.url)), '../..');
const pagePath = process.env.FLUXTRIM_PAGE ?? join(repo, 'build-web/fluxtrim.html');
const command = process.env.FLUXTRIM_COMMAND ?? join(repo, 'build/fluxtrim');
const pageUrl = pathToFileURL(pagePath).href;

// The README's place, on a fixed date so that the page and the command use the same field.
const PLACE = { latitude: '48.5578', longitude: '3.2914', altitude: '89', date: '2026-12-08' };
const PLACE_OPTIONS = ['--lat', PLACE.latitude, '--lon', PLACE.longitude, '--alt', PLACE.altitude,
  '--date', PLACE.date];
const RELATIVE = 1e-12;

const work = mkdtempSync(join(tmpdir(), 'fluxtrim-web-'));
let context;
const requests = [];

// The command run in the recording's folder, on its bare name, so that both record the same
// source; its exit status is the verdict's, so only its output matters here.
function native(args, cwd) {
  try {
    return execFileSync(command, args, { cwd, encoding: 'utf8', maxBuffer: 1 << 28 });
  } catch (error) {
    if (error.status === 1) return error.stdout;
    throw error;
  }
}

function close(actual, expected, where) {
  const scale = Math.max(Math.abs(actual), Math.abs(expected));
  assert.ok(Math.abs(actual - expected) <= RELATIVE * scale,
    `${where}: ${actual} against the command's ${expected}`);
}

// Equal JSON, numbers within RELATIVE (the last bits of atan2 and pow may differ), keys in order.
function sameDocument(actual, expected, where = 'document') {
  if (typeof expected === 'number' && typeof actual === 'number') {
    close(actual, expected, where);
  } else if (expected !== null && typeof expected === 'object') {
    assert.equal(typeof actual, 'object', where);
    assert.deepEqual(Object.keys(actual), Object.keys(expected), `${where}: keys`);
    for (const key of Object.keys(expected)) sameDocument(actual[key], expected[key], `${where}.${key}`);
  } else {
    assert.equal(actual, expected, where);
  }
}

// The offset and matrix of the report's calibration text: "offset = [a, b, c]", "matrix = [[...".
function calibrationFromText(text) {
  const numbers = (line) => line.match(/-?\d[\d.]*(?:e[-+]?\d+)?/g).map(Number);
  const lines = text.split('\n');
  const at = lines.findIndex((line) => line.startsWith('offset = '));
  return { offset: numbers(lines[at]), matrix: [1, 2, 3].map((row) => numbers(lines[at + row])) };
}

// initScript, when given, runs in the page before its own script (a simulated serial port).
async function openPage(initScript) {
  const page = await context.newPage();
  if (initScript) await page.addInitScript(initScript);
  page.on('pageerror', (error) => assert.fail(`script error in the page: ${error.message}`));
  await page.goto(pageUrl);
  await page.waitForSelector('#loading', { state: 'hidden' });
  for (const [field, value] of Object.entries(PLACE)) await page.fill(`#${field}`, value);
  return page;
}

// Chooses the recording and waits for its verdict (or its error); returns the seconds taken.
async function calibrate(page, file) {
  const started = Date.now();
  await page.setInputFiles('#file-input', file);
  await page.waitForSelector('#result[data-verdict]:not([hidden]), #error:not([hidden])');
  return (Date.now() - started) / 1000;
}

// The README's picture: from the top down to the 3-D view, nothing focused.
async function screenshot(page) {
  if (!process.env.FLUXTRIM_SCREENSHOT) return;
  await page.evaluate(() => document.activeElement?.blur());
  const bottom = await page.$eval('#view3d', (e) => Math.ceil(e.getBoundingClientRect().bottom + window.scrollY + 16));
  await page.screenshot({ path: process.env.FLUXTRIM_SCREENSHOT, fullPage: true,
    clip: { x: 0, y: 0, width: 1200, height: bottom } });
}

async function downloadOf(page, format) {
  const [download] = await Promise.all([page.waitForEvent('download'),
    page.click(`#downloads button[data-format=${format}]`)]);
  return download;
}

async function downloaded(page, format) {
  return readFileSync(await (await downloadOf(page, format)).path(), 'utf8');
}

// The verdict, offset and matrix the page shows against those of the command's document.
async function sameCalibration(page, expected) {
  assert.equal(await page.getAttribute('#result', 'data-verdict'), expected.verdict);
  assert.match(await page.textContent('#verdict .badge'), new RegExp(expected.verdict.toUpperCase()));
  const shown = calibrationFromText(await page.textContent('#calibration-text'));
  const { offset_G: offset, matrix } = expected.calibration;
  offset.forEach((value, i) => close(shown.offset[i], value, `offset[${i}]`));
  matrix.forEach((row, r) => row.forEach((value, c) => close(shown.matrix[r][c], value, `matrix[${r}][${c}]`)));
}

// Waits for the live calibration to end, and for its result (or error) to show.
async function liveEnded(page) {
  await page.waitForSelector('#live[data-reason]', { timeout: 60000 });
  await page.waitForSelector('#result[data-verdict]:not([hidden]), #error:not([hidden])');
}

before(async () => {
  statSync(pagePath);
  context = await chromium.launchPersistentContext(join(work, 'profile'), {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 1200, height: 900 },
  });
  context.on('request', (request) => requests.push(request.url()));
  copyFileSync(join(repo, 'examples/mag.csv'), join(work, 'mag.csv'));
  copyFileSync(join(repo, 'examples/imu.csv'), join(work, 'imu.csv'));
});

after(async () => {
  await context?.close();
  rmSync(work, { recursive: true, force: true });
});

describe('the example recording', () => {
  let page;
  before(async () => {
    page = await openPage();
    await calibrate(page, join(work, 'mag.csv'));
  });

  test('gives the command\'s verdict, offset and matrix', async () => {
    await sameCalibration(page, JSON.parse(native(['calibrate', 'mag.csv', ...PLACE_OPTIONS, '--format', 'json'], work)));
    for (const id of ['proj-raw-xy', 'magnitudes', 'coverage']) {
      assert.ok(await page.$(`#result svg#${id}`), `the report's plot ${id}`);
    }
  });

  test('downloads what the command writes', async () => {
    const json = await downloaded(page, 'json');
    sameDocument(JSON.parse(json), JSON.parse(native(['calibrate', 'mag.csv', ...PLACE_OPTIONS, '--format', 'json'], work)));
    // The firmware files byte for byte: the same version, input, reference and digits.
    for (const format of ['c', 'ardupilot', 'px4']) {
      assert.equal(await downloaded(page, format),
        native(['calibrate', 'mag.csv', ...PLACE_OPTIONS, '--format', format], work), format);
    }
    // The corrected samples as apply writes them with the page's own calibration file.
    copyFileSync(join(work, 'mag.csv'), join(work, 'again.csv'));
    execFileSync('sh', ['-c', `cat > ${join(work, 'page.json')}`], { input: json });
    assert.equal(await downloaded(page, 'csv'),
      execFileSync(command, ['apply', 'page.json', 'mag.csv'], { cwd: work, encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] }));
  });

  test('without a place, compares with the Earth\'s range as the command does', async () => {
    const other = await openPage();
    for (const field of ['latitude', 'longitude', 'altitude']) await other.fill(`#${field}`, '');
    await calibrate(other, join(work, 'mag.csv'));
    sameDocument(JSON.parse(await downloaded(other, 'json')),
      JSON.parse(native(['calibrate', 'mag.csv', '--format', 'json'], work)));
    await other.close();
  });

  test('shows the field as `fluxtrim field` prints it', async () => {
    assert.equal(await page.textContent('#field-text'), native(['field', ...PLACE_OPTIONS], work));
  });

  test('turns the 3-D view with the mouse and the keys', async () => {
    const pixels = () => page.$eval('#view3d-canvas', (canvas) => canvas.toDataURL());
    await page.locator('#view3d-canvas').scrollIntoViewIfNeeded();
    const box = await page.locator('#view3d-canvas').boundingBox();
    const first = await pixels();
    await page.mouse.move(box.x + box.width / 2, box.y + box.height / 2);
    await page.mouse.down();
    await page.mouse.move(box.x + box.width / 2 + 120, box.y + box.height / 2 + 40, { steps: 4 });
    await page.mouse.up();
    const dragged = await pixels();
    assert.ok(dragged !== first, 'the view did not turn when dragged');
    await page.focus('#view3d-canvas');
    await page.keyboard.press('ArrowLeft');
    assert.ok(await pixels() !== dragged, 'the view did not turn with the arrow key');
  });

  test('labels every control, and fits the window at 200 % zoom and on a phone', async () => {
    const unlabelled = await page.$$eval('input, select, button, canvas[tabindex]', (controls) => controls
      .filter((c) => !(c.labels?.length || c.getAttribute('aria-label') || c.textContent.trim()))
      .map((c) => c.id || c.outerHTML.slice(0, 60)));
    assert.deepEqual(unlabelled, []);
    // 600 pixels: a window of 1200 at 200 %; 360: a phone. Nothing makes the page scroll sideways.
    for (const width of [600, 360]) {
      await page.setViewportSize({ width, height: 800 });
      assert.ok(await page.evaluate(() => document.documentElement.scrollWidth) <= width, `${width} pixels`);
    }
    await page.setViewportSize({ width: 1200, height: 900 });
  });
});

describe('the IMU example, with its accelerometer columns', () => {
  test('gives the command\'s verdict, offset, matrix and document', async () => {
    const page = await openPage();
    await calibrate(page, join(work, 'imu.csv'));
    const expected = JSON.parse(native(['calibrate', 'imu.csv', ...PLACE_OPTIONS, '--format', 'json'], work));
    assert.ok(expected.accelerometer, 'the command read the accelerometer');
    await sameCalibration(page, expected);
    sameDocument(JSON.parse(await downloaded(page, 'json')), expected);
    await page.close();
  });
});

describe('a name that would reorder the text', () => {
  test('is escaped on the page and in the downloads as the command escapes it', async () => {
    const name = 'mag\u202Ecsv.txt';
    copyFileSync(join(work, 'mag.csv'), join(work, name));
    const page = await openPage();
    await page.setInputFiles('#file-input', { name, mimeType: 'text/plain', buffer: readFileSync(join(work, name)) });
    await page.waitForSelector('#result[data-verdict]:not([hidden])');
    const status = await page.textContent('#file-status');
    assert.ok(status.includes('mag\\u202Ecsv') && !status.includes('\u202E'), status);
    const download = await downloadOf(page, 'json');
    assert.ok(!download.suggestedFilename().includes('\u202E'), download.suggestedFilename());
    const sourceLine = (text) => text.split('\n').find((line) => line.includes('"source"'));
    assert.equal(sourceLine(readFileSync(await download.path(), 'utf8')),
      sourceLine(native(['calibrate', name, ...PLACE_OPTIONS, '--format', 'json'], work)));
    await page.close();
  });
});

// A script that gives the page a serial port sending the text in pieces, and closing after it
// when closes (a board unplugged); window.fakePort records the options it was opened with.
function simulatedPort(sent, closes = false) {
  const port = (text, ends) => {
    const bytes = new TextEncoder().encode(text);
    let at = 0;
    const fake = {
      open: async (options) => { fake.options = options; },
      close: async () => {},
      readable: new ReadableStream({
        async pull(controller) {
          await new Promise((resolve) => setTimeout(resolve, 10));
          if (at < bytes.length) controller.enqueue(bytes.slice(at, at += 997));
          else if (ends) controller.close();
        },
      }),
    };
    Object.defineProperty(Navigator.prototype, 'serial', { configurable: true,
      value: { requestPort: async () => { window.fakePort = fake; return fake; } } });
  };
  return `(${port})(${JSON.stringify(sent)}, ${closes})`;
}

describe('a live calibration', () => {
  test('replayed: the coverage rises, the stop rule ends it, and the recording calibrates alike', async () => {
    const page = await openPage();
    await page.$eval('#replay-options', (details) => { details.open = true; });
    await page.selectOption('#replay-speed', '50');
    await page.setInputFiles('#replay-input', join(work, 'mag.csv'));
    await liveEnded(page);
    assert.equal(await page.getAttribute('#live', 'data-reason'), 'rule');
    assert.match(await page.textContent('#live-status'), /the verdict passed for 2\.0 s with \d+ % coverage/);
    await screenshot(page);
    const coverage = await page.evaluate(() => window.fluxtrimPage.liveHistory.filter((c) => c !== null));
    assert.ok(coverage.length >= 3 && coverage[0] < coverage[coverage.length - 1]
      && coverage[coverage.length - 1] >= 0.9, `coverage seen: ${coverage}`);
    // What was received, calibrated by the command, gives what the page shows.
    const recording = await downloaded(page, 'recording');
    const lines = recording.split('\n').length - 1;
    assert.ok(lines > 100 && lines < 3001, `${lines} lines replayed before the rule stopped it`);
    assert.ok(readFileSync(join(work, 'mag.csv'), 'utf8').startsWith(recording));
    mkdirSync(join(work, 'replayed'), { recursive: true });
    writeFileSync(join(work, 'replayed', 'mag.csv'), recording);
    sameDocument(JSON.parse(await downloaded(page, 'json')),
      JSON.parse(native(['calibrate', 'mag.csv', ...PLACE_OPTIONS, '--format', 'json'], join(work, 'replayed'))));
    await page.close();
  });

  test('replayed by its time column to its end, and stopped by the button', async () => {
    const page = await openPage();
    await page.$eval('#replay-options', (details) => { details.open = true; });
    await page.selectOption('#replay-speed', '50');
    await page.selectOption('#until', 'never');
    await page.setInputFiles('#replay-input', join(work, 'imu.csv'));
    await page.waitForFunction(() => document.querySelector('#live-status').textContent.includes('at the pace of its column \'t\''));
    await liveEnded(page);
    assert.equal(await page.getAttribute('#live', 'data-reason'), 'end');
    // 2340 samples 0.02 s apart: the recording's own time, not the page's.
    assert.match(await page.textContent('#live-status'), /ended after 46\.8 s: calibrating 2340 samples/);
    await sameCalibration(page, JSON.parse(native(['calibrate', 'imu.csv', ...PLACE_OPTIONS, '--format', 'json'], work)));

    // As recorded, stopped after a moment: every complete line read so far is calibrated.
    await page.selectOption('#replay-speed', '1');
    await page.setInputFiles('#replay-input', join(work, 'imu.csv'));
    await page.waitForFunction(() => !document.querySelector('#live').dataset.reason
      && parseInt(document.querySelector('#live-samples').textContent, 10) >= 50);
    await page.click('#stop');
    await liveEnded(page);
    assert.equal(await page.getAttribute('#live', 'data-reason'), 'stopped');
    const recording = await downloaded(page, 'recording');
    const samples = recording.split('\n').length - 2;
    assert.ok(samples >= 50 && samples < 2340 && recording.endsWith('\n'), `${samples} samples`);
    assert.ok(readFileSync(join(work, 'imu.csv'), 'utf8').startsWith(recording));
    assert.equal(JSON.parse(await downloaded(page, 'json')).metrics.sample_count, samples);
    await page.close();
  });

  test('from a serial port: the first, partial line dropped, ended by a sample count', async () => {
    const text = readFileSync(join(work, 'mag.csv'), 'utf8');
    // A port opened while the board was sending: it starts in the middle of a line.
    const page = await openPage(simulatedPort(`0.3181,-0.2\n${text}`));
    await page.selectOption('#baud', '57600');
    await page.selectOption('#until', 'samples');
    await page.fill('#until-value', '1000');
    await page.click('#connect');
    await liveEnded(page);
    assert.equal(await page.evaluate(() => window.fakePort.options.baudRate), 57600);
    assert.match(await page.textContent('#live-status'), /1000 samples read/);
    const recording = await downloaded(page, 'recording');
    assert.ok(recording.startsWith('CAP_magX,'), recording.slice(0, 40));
    const document = JSON.parse(await downloaded(page, 'json'));
    assert.equal(document.metrics.sample_count, 1000);
    await page.close();
  });

  test('from a port unplugged in the middle of a line: the lines before it calibrated', async () => {
    const lines = readFileSync(join(work, 'mag.csv'), 'utf8').split('\n');
    const sent = `\n${lines.slice(0, 1201).join('\n')}\n${lines[1201].slice(0, 12)}`;
    const page = await openPage(simulatedPort(sent, true));
    await page.selectOption('#until', 'never');
    await page.click('#connect');
    await liveEnded(page);
    assert.match(await page.textContent('#live-status'), /The port closed \(unplugged\?\) after [\d.]+ s: calibrating 1200 samples/);
    assert.equal(await downloaded(page, 'recording'), `${lines.slice(0, 1201).join('\n')}\n`);
    await page.close();
  });

  test('from a port at the wrong baud rate: says so rather than wait', async () => {
    const page = await openPage(simulatedPort('\u00f8\u00a7\u00e6'.repeat(1200)));
    await page.click('#connect');
    await page.waitForFunction(() => /bytes without a line end; is the baud rate right\?/
      .test(document.querySelector('#live-samples').textContent));
    await page.click('#stop');
    await page.waitForSelector('#error:not([hidden])');
    assert.match(await page.textContent('#error'), /no samples in 'serial-port'/);
    await page.close();
  });

  test('refuses a stop rule out of range, in the page\'s words', async () => {
    const page = await openPage();
    await page.selectOption('#until', 'coverage');
    await page.fill('#until-value', '150');
    await page.setInputFiles('#replay-input', join(work, 'mag.csv'));
    await page.waitForSelector('#error:not([hidden])');
    assert.match(await page.textContent('#error'), /stop rule 'coverage:150': the coverage is a percentage/);
    assert.equal(await page.isDisabled('#stop'), true);
    await page.close();
  });

  test('without Web Serial, the button is off and the page says why', async () => {
    const page = await openPage('delete Navigator.prototype.serial;');
    assert.equal(await page.isDisabled('#connect'), true);
    assert.match(await page.textContent('#serial-note'), /cannot read a serial port: the Web Serial API/);
    assert.equal(await page.isVisible('#serial-note'), true);
    await page.close();
  });
});

describe('what cannot be calibrated', () => {
  test('says why and shows no result, not a stale one', async () => {
    const page = await openPage();
    await calibrate(page, join(work, 'mag.csv'));
    assert.equal(await page.isVisible('#result'), true);
    // A place that does not exist: the old result goes with the fit it no longer matches.
    await page.fill('#latitude', '95');
    await page.press('#latitude', 'Enter');
    await page.waitForSelector('#error:not([hidden])');
    assert.match(await page.textContent('#error'), /latitude/i);
    assert.equal(await page.isVisible('#result'), false);
    assert.equal(await page.isVisible('#downloads'), false);

    await page.fill('#latitude', PLACE.latitude);
    await page.setInputFiles('#file-input', { name: 'notes.txt', mimeType: 'text/plain',
      buffer: Buffer.from('time,comment\n1,started\n2,stopped\n') });
    await page.waitForSelector('#error:not([hidden])');
    assert.match(await page.textContent('#error'), /no samples in 'notes\.txt'/);
    assert.equal(await page.isVisible('#result'), false);
    await page.close();
  });
});

describe('a calibration that fails', () => {
  test('says FAIL as the command does, and nothing downloaded passes for usable', async () => {
    // The example in microtesla read as gauss: the unit check fails it.
    const lines = readFileSync(join(work, 'mag.csv'), 'utf8').split('\n');
    const scaled = lines.map((line, i) => (i === 0 || line === '' ? line
      : line.split(',').map((v) => String(100 * Number(v))).join(','))).join('\n');
    execFileSync('sh', ['-c', `cat > ${join(work, 'mag-uT.csv')}`], { input: scaled });
    const page = await openPage();
    await calibrate(page, join(work, 'mag-uT.csv'));
    const expected = JSON.parse(native(['calibrate', 'mag-uT.csv', ...PLACE_OPTIONS, '--format', 'json'], work));
    assert.equal(expected.verdict, 'fail');
    assert.equal(await page.getAttribute('#result', 'data-verdict'), 'fail');
    assert.match(await page.textContent('#verdict'), /FAIL[\s\S]*microtesla/);
    assert.match(await downloaded(page, 'c'), /^#error /m);
    // The parameter files as --force writes them, their first line saying that it failed.
    for (const format of ['ardupilot', 'px4']) {
      assert.equal(await downloaded(page, format),
        native(['calibrate', 'mag-uT.csv', ...PLACE_OPTIONS, '--format', format, '--force'], work), format);
    }
    await downloaded(page, 'csv');
    assert.match(await page.textContent('#download-status'), /FAIL: these corrected samples are not trustworthy/);
    await page.close();
  });
});

describe('a recording of 100,000 samples', () => {
  test('calibrates in under 2 s to the command\'s numbers, and corrects them to its digits', async () => {
    const name = 'scale-100k.csv';
    execFileSync('/usr/bin/python3', [join(repo, 'tools/gen_scale_samples.py'), '100000', join(work, name)]);
    const page = await openPage();
    const seconds = await calibrate(page, join(work, name));
    console.log(`# 100,000 samples: read and calibrated in ${seconds.toFixed(2)} s`);
    assert.ok(seconds < 2, `${seconds} s`);
    const json = await downloaded(page, 'json');
    sameDocument(JSON.parse(json), JSON.parse(native(['calibrate', name, ...PLACE_OPTIONS, '--format', 'json'], work)));
    execFileSync('sh', ['-c', `cat > ${join(work, 'scale.json')}`], { input: json });
    assert.equal(await downloaded(page, 'csv'),
      execFileSync(command, ['apply', 'scale.json', name], { cwd: work, encoding: 'utf8', maxBuffer: 1 << 28, stdio: ['ignore', 'pipe', 'ignore'] }));
    await page.close();
  });
});

describe('the page on its own', () => {
  test('made no request but for its own file, and its policy refuses one', async () => {
    assert.ok(requests.includes(pageUrl), 'the listener saw the page load');
    assert.deepEqual(requests.filter((url) => url !== pageUrl), []);
    const page = await openPage();
    assert.equal(await page.evaluate(() => fetch('data:text/plain,x').then(() => 'fetched', () => 'refused')), 'refused');
    await page.close();
  });

  test('weighs under 3 MB', () => {
    assert.ok(statSync(pagePath).size < 3 * 1024 * 1024, `${statSync(pagePath).size} bytes`);
  });
});
