// The page: its fields, the recording's input, the live panel, the result and the downloads. A
// recording reaches the calibration through a FitSession only (engine.js): the file input below
// feeds it in slices and asks for one fit; a board or a replay feeds the same session's live
// calibration (live.js), whose final calibration shows with the same showFit.

/* global Engine, EngineError, SampleView3D, LiveRun, SerialSource, ReplaySource, replayLines,
   drawCoverageMap, serialSupport */

const $ = (id) => document.getElementById(id);

// The command's option names in the library's messages, as the page's fields are labelled.
const FIELD_LABELS = [['--lat', 'Latitude'], ['--lon', 'Longitude'], ['--alt', 'Altitude'],
  ['--date', 'Date'], ['--units', 'Unit of the samples'], ['--columns', 'X, Y, Z columns'],
  ['--delimiter', 'Delimiter'], ['--header', 'Header line'], ['--until', 'Stop when']];

function inPageWords(message) {
  return FIELD_LABELS.reduce((text, [option, label]) => text.split(option).join(label), message);
}

function todayUtc() {
  return new Date().toISOString().slice(0, 10);
}

// Hands a file to the session in slices, reporting the share read; false when stillWanted()
// turned false on the way (another recording was chosen).
async function feedFile(session, file, onProgress, stillWanted) {
  session.reserve(file.size);
  const reader = file.stream().getReader();
  let read = 0;
  for (;;) {
    const { done, value } = await reader.read();
    if (!stillWanted()) {
      reader.cancel();
      return false;
    }
    if (done) return true;
    session.push(value);
    read += value.length;
    onProgress(read, file.size);
  }
}

// Saves text as a file of the given name, made in the page.
function save(name, text, type) {
  const url = URL.createObjectURL(new Blob([text], { type }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60000);
}

const DOWNLOADS = {
  json: { suffix: '-calibration.json', type: 'application/json' },
  c: { suffix: '-calibration.h', type: 'text/x-c' },
  ardupilot: { suffix: '.parm', type: 'text/plain' },
  px4: { suffix: '.params', type: 'text/plain' },
  csv: { suffix: '-corrected.csv', type: 'text/csv' },
  recording: { suffix: '-recording.txt', type: 'text/plain' },
};

// The lines that are not samples, counted by kind: "1 header, 2 skipped", and their number.
function otherLines(other) {
  const kinds = [['header', 'header'], ['comment', 'comment'], ['blank', 'blank'],
    ['skipped', 'skipped'], ['leftOut', 'other kinds']].filter(([key]) => other[key] > 0);
  return { total: kinds.reduce((sum, [key]) => sum + other[key], 0),
    text: kinds.map(([key, name]) => `${other[key]} ${name}`).join(', ') };
}

// The live state in words, as `fluxtrim watch` shows it.
function liveSamplesText(state) {
  if (!state.decided) {
    if (state.held === 0 && state.bytes >= 2000) {
      return `none: ${state.bytes} bytes without a line end; is the baud rate right?`;
    }
    return `none yet: ${state.held} lines held until the columns are known`;
  }
  const other = otherLines(state.other);
  if (state.samples === 0 && other.total >= 20) {
    return `none in ${other.total} lines (${other.text}); check the baud rate and the reading options`;
  }
  return `${state.samples}${state.rate === null ? '' : ` at ${state.rate.toFixed(1)} Hz`}`
    + (other.total ? `; ${other.total} lines not samples (${other.text})` : '');
}

function liveCoverageText(fit) {
  if (!fit) return 'none yet: turn the device slowly in every direction';
  if (fit.coverage === null) return 'not judged: the device has not been turned yet';
  return `${Math.round(100 * fit.coverage)} % of directions, largest gap ${Math.round(fit.gap)}\u00b0`
    + (fit.pose ? `: ${fit.pose}` : '');
}

function judgedText({ verdict, reasons }) {
  const codes = reasons.slice(0, 2).concat(reasons.length > 2 ? [`+${reasons.length - 2}`] : []);
  return verdict.toUpperCase() + (codes.length ? ` (${codes.join(', ')})` : '');
}

function liveFitText(fit) {
  if (!fit) return 'none yet';
  let text = fit.residual_mG === null ? '' : `residual ${fit.residual_mG.toFixed(2)} mG`
    + (fit.residualToField === null ? '' : ` (${(100 * fit.residualToField).toFixed(2)} %)`) + ', ';
  text += `verdict ${judgedText(fit)}`;
  if (fit.passFor !== null) text += ` for ${fit.passFor.toFixed(1)} s`;
  if (fit.disagreement) text += `; all samples ${judgedText(fit.disagreement)}`;
  return text;
}

// Why the live calibration ended.
function liveEndText(state, rule, how) {
  const after = `after ${(state.time ?? 0).toFixed(1)} s`;
  const calibrating = state.samples === 0 ? 'nothing to calibrate' : `calibrating ${state.samples} samples`;
  if (state.reason !== 'rule') {
    const why = { stop: 'Stopped', closed: 'The port closed (unplugged?)', end: 'The replay ended' }[how] ?? 'Ended';
    return `${why} ${after}: ${calibrating}.`;
  }
  const coverage = Math.round(100 * (state.fit?.coverage ?? 0));
  const kind = rule.split(':')[0];
  const why = kind === 'pass' ? `the verdict passed for ${state.rule.passHold.toFixed(1)} s with ${coverage} % coverage`
    : kind === 'coverage' ? `the coverage reached ${coverage} %` : `${state.samples} samples read`;
  return `Stopped ${after}: ${why}; ${calibrating}.`;
}

class CalibrationPage {
  constructor(engine) {
    this.engine = engine;
    this.session = engine.newSession();
    this.source = '';
    this.verdict = '';
    this.generation = 0;  // of the recording being read; a newer one abandons an older read
    this.reading = false;  // while a recording is fed to the session, no fit of part of it
    this.view = new SampleView3D($('view3d-canvas'));
    this.run = null;  // the live calibration running
    this.textFromLive = false;  // whether the session's text came from a board or a replay
    this.liveHistory = [];  // the coverage of each live state shown, for the tests
    this.mapFit = null;  // the live fit the coverage map shows
  }

  start() {
    $('date').value = todayUtc();
    for (const control of $('settings').elements) control.disabled = false;
    $('calibrate').disabled = true;
    $('loading').hidden = true;
    const unsupported = serialSupport();
    $('connect').disabled = unsupported !== '';
    $('serial-note').textContent = unsupported;
    $('serial-note').hidden = unsupported === '';
    drawCoverageMap($('coverage-canvas'), null);
    this.listen();
    this.listenLive();
    this.showField();
  }

  settings() {
    const settings = { source: this.source };
    for (const name of ['latitude', 'longitude', 'altitude', 'date', 'units', 'columns',
      'delimiter', 'header']) {
      settings[name] = $(name).value.trim();
    }
    // The date field always holds one (today's to begin with); it counts only with a place.
    if (settings.latitude === '' && settings.longitude === '') settings.date = '';
    return settings;
  }

  listen() {
    $('file-input').addEventListener('change', (event) => {
      const [file] = event.target.files;
      event.target.value = '';  // the same file chosen again is read again
      if (file) this.readFile(file);
    });
    const zone = $('drop-zone');
    document.addEventListener('dragover', (event) => {
      event.preventDefault();
      zone.classList.add('over');
    });
    document.addEventListener('dragleave', () => zone.classList.remove('over'));
    document.addEventListener('drop', (event) => {
      event.preventDefault();
      zone.classList.remove('over');
      const [file] = event.dataTransfer.files;
      if (file && !this.run) this.readFile(file);
    });
    $('settings').addEventListener('submit', (event) => {
      event.preventDefault();
      this.refit();
    });
    $('settings').addEventListener('change', (event) => {
      if (event.target.id === 'file-input') return;
      this.showField();
      if (this.session.bytes > 0) this.refit();
    });
    $('locate').addEventListener('click', () => this.locate());
    for (const button of $('downloads').querySelectorAll('button[data-format]')) {
      button.addEventListener('click', () => this.download(button.dataset.format));
    }
    for (const [id, set] of [['show-raw', 'raw'], ['show-corrected', 'corrected'],
      ['show-rejected', 'rejected']]) {
      $(id).addEventListener('change', (event) => {
        this.view.show[set] = event.target.checked;
        this.view.draw();
      });
    }
    $('reset-view').addEventListener('click', () => this.view.resetView());
  }

  showField() {
    const s = this.settings();
    if (s.latitude === '' && s.longitude === '') {
      $('field-text').textContent = 'No place given: the Earth\'s range of field strength, '
        + 'about 0.22 to 0.67 G, is assumed.';
      return;
    }
    try {
      $('field-text').textContent = this.engine.fieldText(s);
    } catch (error) {
      if (!(error instanceof EngineError)) throw error;
      $('field-text').textContent = inPageWords(error.message);
    }
  }

  listenLive() {
    $('until').addEventListener('change', () => {
      const kind = $('until').value;
      $('until-value').disabled = kind === 'pass' || kind === 'never';
      if (kind === 'coverage' && $('until-value').value === '') $('until-value').value = '90';
      if (kind === 'samples' && $('until-value').value === '') $('until-value').value = '3000';
    });
    $('connect').addEventListener('click', () => this.connect());
    $('replay-input').addEventListener('change', (event) => {
      const [file] = event.target.files;
      event.target.value = '';
      if (file) this.replay(file);
    });
    $('stop').addEventListener('click', () => this.run?.end('stop'));
    window.addEventListener('resize', () => {
      if (!$('live').hidden) drawCoverageMap($('coverage-canvas'), this.mapFit);
    });
  }

  // The stop rule as `fluxtrim watch --until` takes it.
  untilRule() {
    const kind = $('until').value;
    return kind === 'pass' || kind === 'never' ? kind : `${kind}:${$('until-value').value.trim()}`;
  }

  async connect() {
    let port;
    try {
      port = await navigator.serial.requestPort();
    } catch (error) {
      $('live-status').textContent = 'No port chosen.';
      return;
    }
    const baud = Number($('baud').value);
    this.startRun('serial-port', new SerialSource(port, baud), true,
      `Reading the board at ${baud} baud: turn it slowly through every direction.`);
  }

  async replay(file) {
    if (this.run) return;
    const bytes = new Uint8Array(await file.arrayBuffer());
    const rate = Number($('replay-rate').value.trim().replace(',', '.'));
    if (!(rate > 0 && rate <= 100000)) {
      this.showError('Samples per second: expected a number above 0 (50 when unsure).');
      return;
    }
    // The time of each line from the recording's time column, found by the library's reader.
    const planner = this.engine.newSession();
    let plan = { column: '', times: null };
    try {
      planner.reserve(bytes.length);
      planner.push(bytes);
      plan = planner.replayPlan({ ...this.settings(), source: file.name });
    } catch (error) {
      if (!(error instanceof EngineError)) throw error;
      // The live session reads the same text and says what is wrong with it.
    } finally {
      planner.dispose();
    }
    const speed = Number($('replay-speed').value);
    const source = new ReplaySource(replayLines(bytes), plan.times, rate, speed);
    const pace = source.fromColumn
      ? `at the pace of its column '${this.engine.printable(plan.column, 40)}'`
      : `at ${rate} samples per second`;
    this.startRun(file.name, source, false, `Replaying ${this.engine.printable(file.name)} ${pace}`
      + (speed > 1 ? `, ${speed} times faster.` : '.'));
  }

  startRun(name, source, device, message) {
    if (this.run) return;  // one live calibration at a time
    ++this.generation;
    this.hideResult();
    this.source = name;
    this.reading = true;
    this.textFromLive = true;
    this.liveHistory = [];
    const settings = { ...this.settings(), until: this.untilRule(), device };
    $('live-status').textContent = message;
    $('file-status').textContent = '';
    delete $('live').dataset.reason;
    const run = new LiveRun(this.session, settings,
      { onState: (state) => this.showLive(state), onEnd: (state, error) => this.liveEnded(run, state, error) });
    try {
      run.start(source);
    } catch (error) {
      this.reading = false;
      source.close();
      if (!(error instanceof EngineError)) throw error;
      this.showError(inPageWords(error.message));
      return;
    }
    this.run = run;
    this.setRunning(true);
    $('live').hidden = false;
    this.showLive(null);
  }

  // While a live calibration runs, its settings are fixed: the fields wait until it ends.
  setRunning(running) {
    for (const control of $('settings').elements) control.disabled = running;
    for (const id of ['baud', 'until', 'replay-rate', 'replay-speed']) $(id).disabled = running;
    $('until-value').disabled = running || ['pass', 'never'].includes($('until').value);
    $('connect').disabled = running || serialSupport() !== '';
    $('replay-input').disabled = running;
    $('replay-input').labels[0].classList.toggle('disabled', running);
    $('file-input').disabled = running;
    $('calibrate').disabled = running || this.session.bytes === 0;
    $('stop').disabled = !running;
  }

  showLive(state) {
    const fit = state?.fit ?? null;
    $('live-samples').textContent = state ? liveSamplesText(state) : 'none yet';
    $('live-coverage').textContent = liveCoverageText(fit);
    $('live-fit').textContent = liveFitText(fit);
    const canvas = $('coverage-canvas');
    this.mapFit = fit;
    drawCoverageMap(canvas, fit);
    canvas.setAttribute('aria-label', `Coverage map: ${liveCoverageText(fit)}`);
    $('live').dataset.coverage = fit?.coverage ?? '';
    if (state) this.liveHistory.push(fit?.coverage ?? null);
  }

  liveEnded(run, state, error) {
    this.run = null;
    this.reading = false;
    this.setRunning(false);
    if (error) {
      $('live-status').textContent = '';
      this.showError(error instanceof EngineError ? inPageWords(error.message)
        : `The live calibration stopped: ${error.message}`);
      return;
    }
    $('live-status').textContent = liveEndText(state, run.settings.until, run.how);
    $('live').dataset.reason = state.reason;
    let fit;
    try {
      fit = this.session.liveResult();
    } catch (error) {
      if (!(error instanceof EngineError)) throw error;
      this.showError(inPageWords(error.message));
      return;
    }
    this.showFit(fit);
    $('file-status').textContent = `${this.engine.printable(this.source)}: `
      + `${fit.document.metrics.sample_count} samples received and calibrated.`;
  }

  async readFile(file) {
    const generation = ++this.generation;
    const stillWanted = () => generation === this.generation;
    this.session.clear();
    this.source = file.name;
    this.textFromLive = false;
    $('live').hidden = true;
    $('live-status').textContent = '';
    const shown = this.engine.printable(file.name);
    this.hideResult();
    const status = $('file-status');
    status.textContent = `Reading ${shown}\u2026`;
    this.reading = true;
    try {
      const complete = await feedFile(this.session, file, (read, size) => {
        status.textContent = `Reading ${shown}: ${size > 0 ? Math.round((100 * read) / size) : 100} %`;
      }, stillWanted);
      if (!complete) return;
    } catch (error) {
      if (!stillWanted()) return;
      this.session.clear();
      status.textContent = '';
      this.showError(`${shown} cannot be read: ${error.message}`);
      return;
    } finally {
      if (stillWanted()) this.reading = false;
    }
    status.textContent = `${shown}: ${this.session.bytes} bytes read.`;
    $('calibrate').disabled = false;
    await this.refit();
  }

  // Fits all the text the session holds and shows the result, or why there is none.
  async refit() {
    if (this.session.bytes === 0 || this.reading) return;
    const generation = this.generation;
    const status = $('file-status');
    const before = status.textContent;
    const shown = this.engine.printable(this.source);
    status.textContent = `Calibrating ${shown}\u2026`;
    // Let the message paint before the fit holds the page for a moment.
    await new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
    // Another recording chosen meanwhile is being read, and fitted when it is in.
    if (generation !== this.generation || this.reading) return;
    const started = performance.now();
    let fit;
    try {
      fit = this.session.refit(this.settings());
    } catch (error) {
      status.textContent = before;
      this.hideResult();
      // Anything but the library's own message is a fault of the page or the library: say so
      // rather than leave the page waiting.
      this.showError(error instanceof EngineError ? inPageWords(error.message)
        : `The calibration stopped unexpectedly (${error.message}). Reload the page to start again.`);
      return;
    }
    const seconds = (performance.now() - started) / 1000;
    this.showFit(fit);
    const samples = fit.document.metrics.sample_count;
    status.textContent = `${shown}: ${samples} samples, calibrated in ${seconds.toFixed(2)} s.`;
  }

  // The result of a fit: the report's sections, with the downloads and the 3-D view after its
  // calibration section.
  showFit(fit) {
    $('error').hidden = true;
    const template = document.createElement('template');
    template.innerHTML = fit.sections;
    const result = $('result');
    this.parkPageSections();
    result.replaceChildren(template.content);
    result.dataset.verdict = fit.document.verdict;
    this.verdict = fit.document.verdict;
    const after = $('calibration') || result.lastElementChild;
    after.after($('downloads'), $('view3d'));
    result.hidden = false;
    $('downloads').hidden = false;
    $('view3d').hidden = false;
    for (const button of $('downloads').querySelectorAll('button[data-format]')) {
      // The document and the text received need no calibration; the rest apply one.
      button.disabled = !['json', 'recording'].includes(button.dataset.format) && !fit.hasCalibration;
    }
    $('downloads').querySelector('button[data-format=recording]').hidden = !this.textFromLive;
    $('download-status').textContent = '';
    $('validity').hidden = fit.validityWarning === '';
    $('validity').textContent = fit.validityWarning ? `Warning: ${fit.validityWarning}` : '';
    this.view.setPoints(fit.points);
  }

  // The page's own sections placed among the report's leave them before those are replaced.
  parkPageSections() {
    $('result').before($('downloads'), $('view3d'));
  }

  hideResult() {
    this.parkPageSections();
    $('result').replaceChildren();
    $('result').hidden = true;
    $('downloads').hidden = true;
    $('view3d').hidden = true;
    $('validity').hidden = true;
    $('error').hidden = true;
  }

  showError(message) {
    $('error').textContent = message;
    $('error').hidden = false;
  }

  download(format) {
    // The name as the command would show it: no control character or mark that reorders text.
    const base = this.engine.printable(this.source.replace(/\.[^.]*$/, ''), 80) || 'recording';
    try {
      save(base + DOWNLOADS[format].suffix, this.session.download(format), DOWNLOADS[format].type);
      // As fluxtrim apply warns: samples corrected by a failed calibration look right and are not.
      const warning = format === 'csv' && this.verdict === 'fail'
        ? ' The verdict is FAIL: these corrected samples are not trustworthy.' : '';
      $('download-status').textContent = `Saved ${base}${DOWNLOADS[format].suffix}.${warning}`;
    } catch (error) {
      if (!(error instanceof EngineError)) throw error;
      $('download-status').textContent = error.message;
    }
  }

  // The device's position from the browser, asked for only on this click. The Geolocation API
  // gives the altitude above the WGS-84 ellipsoid, as the field wants it, when it has one.
  locate() {
    const status = $('locate-status');
    if (!navigator.geolocation) {
      status.textContent = 'This browser gives no location; type the place instead.';
      return;
    }
    status.textContent = 'Asking the browser for the location\u2026';
    navigator.geolocation.getCurrentPosition((position) => {
      const c = position.coords;
      $('latitude').value = c.latitude.toFixed(5);
      $('longitude').value = c.longitude.toFixed(5);
      if (c.altitude !== null) $('altitude').value = c.altitude.toFixed(0);
      status.textContent = `Location set, within about ${Math.round(c.accuracy)} m.`;
      $('settings').dispatchEvent(new Event('change'));
    }, (error) => {
      status.textContent = `No location: ${error.message || 'refused'}. Type the place instead.`;
    }, { enableHighAccuracy: false, timeout: 20000, maximumAge: 600000 });
  }
}

Engine.load().then((engine) => {
  window.fluxtrimPage = new CalibrationPage(engine);
  window.fluxtrimPage.start();
}, (error) => {
  $('loading').textContent = `The calibration library could not be started: ${error.message}`;
});
