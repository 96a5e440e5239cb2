// The page: its fields, the recording's input, the result and the downloads. A recording reaches
// the calibration through a FitSession only (engine.js): the file input below feeds it in slices
// and asks for one fit; another source of text feeds the same session and shows its fits with
// the same showFit.

/* global Engine, EngineError, SampleView3D */

const $ = (id) => document.getElementById(id);

// The command's option names in the library's messages, as the page's fields are labelled.
const FIELD_LABELS = [['--lat', 'Latitude'], ['--lon', 'Longitude'], ['--alt', 'Altitude'],
  ['--date', 'Date'], ['--units', 'Unit of the samples'], ['--columns', 'X, Y, Z columns'],
  ['--delimiter', 'Delimiter'], ['--header', 'Header line']];

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
  csv: { suffix: '-corrected.csv', type: 'text/csv' },
};

class CalibrationPage {
  constructor(engine) {
    this.engine = engine;
    this.session = engine.newSession();
    this.source = '';
    this.verdict = '';
    this.generation = 0;  // of the recording being read; a newer one abandons an older read
    this.reading = false;  // while a recording is fed to the session, no fit of part of it
    this.view = new SampleView3D($('view3d-canvas'));
  }

  start() {
    $('date').value = todayUtc();
    for (const control of $('settings').elements) control.disabled = false;
    $('calibrate').disabled = true;
    $('loading').hidden = true;
    this.listen();
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
      if (file) this.readFile(file);
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

  async readFile(file) {
    const generation = ++this.generation;
    const stillWanted = () => generation === this.generation;
    this.session.clear();
    this.source = file.name;
    this.hideResult();
    const status = $('file-status');
    status.textContent = `Reading ${file.name}\u2026`;
    this.reading = true;
    try {
      const complete = await feedFile(this.session, file, (read, size) => {
        status.textContent = `Reading ${file.name}: ${size > 0 ? Math.round((100 * read) / size) : 100} %`;
      }, stillWanted);
      if (!complete) return;
    } catch (error) {
      if (!stillWanted()) return;
      this.session.clear();
      status.textContent = '';
      this.showError(`${file.name} cannot be read: ${error.message}`);
      return;
    } finally {
      if (stillWanted()) this.reading = false;
    }
    status.textContent = `${file.name}: ${this.session.bytes} bytes read.`;
    $('calibrate').disabled = false;
    await this.refit();
  }

  // Fits all the text the session holds and shows the result, or why there is none.
  async refit() {
    if (this.session.bytes === 0 || this.reading) return;
    const generation = this.generation;
    const status = $('file-status');
    const before = status.textContent;
    status.textContent = `Calibrating ${this.source}\u2026`;
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
    status.textContent = `${this.source}: ${samples} samples, calibrated in ${seconds.toFixed(2)} s.`;
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
      button.disabled = button.dataset.format !== 'json' && !fit.hasCalibration;
    }
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
    const base = this.source.replace(/\.[^.]*$/, '') || 'recording';
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
