// The calibration library, compiled to WebAssembly, as the page's scripts see it.
//
// A FitSession is the one path from text to a calibration: text arrives in chunks of bytes
// (push), in whatever pieces its source delivers them (a file read in slices, a serial port, a
// replay of a recording at its own pace), and every refit reads all the text so far and fits it,
// exactly as the command reads and fits a file. Nothing here knows where the text comes from.

/* global createFluxtrimModule, FLUXTRIM_WASM_BASE64 */

// Settings as the page's fields hold them, all text: the command's options under other names.
// source names the recording in the documents; the others are --lat, --lon, --alt, --date,
// --units, --columns, --delimiter and --header, empty when not given.
const SETTING_NAMES = ['source', 'latitude', 'longitude', 'altitude', 'date', 'units', 'columns',
  'delimiter', 'header'];

class EngineError extends Error {}

class Engine {
  static async load() {
    const bytes = Uint8Array.from(atob(FLUXTRIM_WASM_BASE64), (c) => c.charCodeAt(0));
    return new Engine(await createFluxtrimModule({ wasmBinary: bytes }));
  }

  constructor(module) {
    this.module = module;
    this.decoder = new TextDecoder();
    this.encoder = new TextEncoder();
  }

  // The text of the last reply; throws EngineError with its message when it is an error.
  reply(pointer) {
    const m = this.module;
    const text = this.decoder.decode(m.HEAPU8.subarray(pointer, pointer + m._ft_reply_length()));
    if (m._ft_reply_failed()) throw new EngineError(text);
    return text;
  }

  // Calls fn with the strings as NUL-terminated UTF-8 in the WebAssembly heap, freed afterwards.
  withStrings(strings, fn) {
    const m = this.module;
    const pointers = strings.map((s) => {
      const bytes = this.encoder.encode(s);
      const p = m._malloc(bytes.length + 1);
      if (!p) throw new EngineError('out of memory');
      m.HEAPU8.set(bytes, p);
      m.HEAPU8[p + bytes.length] = 0;
      return p;
    });
    try {
      return fn(...pointers);
    } finally {
      pointers.forEach((p) => m._free(p));
    }
  }

  // until is a live session's stop rule as `fluxtrim watch --until` takes it; device is true when
  // its text comes from a serial port.
  static settingsJson(settings) {
    const picked = {};
    for (const name of SETTING_NAMES) picked[name] = String(settings[name] ?? '');
    picked.until = String(settings.until ?? '');
    picked.device = settings.device === true;
    return JSON.stringify(picked);
  }

  // Untrusted text (a file's name) as the command shows it: control characters and the marks
  // that reorder text escaped, at most maxBytes bytes.
  printable(text, maxBytes = 120) {
    return this.withStrings([text], (t) => this.reply(this.module._ft_printable(t, maxBytes)));
  }

  // What `fluxtrim field` prints for the settings' place and date.
  fieldText(settings) {
    return this.withStrings([Engine.settingsJson(settings)],
      (s) => this.reply(this.module._ft_field(s)));
  }

  newSession() {
    return new FitSession(this);
  }
}

class FitSession {
  constructor(engine) {
    this.engine = engine;
    this.handle = engine.module._ft_session_create();
    if (!this.handle) throw new EngineError('out of memory');
    this.bytes = 0;
  }

  // Forgets the text and the last fit: a new recording starts.
  clear() {
    this.engine.module._ft_session_clear(this.handle);
    this.bytes = 0;
  }

  // Makes room for a recording of the given size in bytes, when it is known beforehand.
  reserve(bytes) {
    if (!this.engine.module._ft_session_reserve(this.handle, bytes)) {
      throw new EngineError('out of memory: the recording is too large for this page');
    }
  }

  // Appends a chunk of the recording: a Uint8Array, or a string (written as UTF-8).
  push(chunk) {
    const bytes = typeof chunk === 'string' ? this.engine.encoder.encode(chunk) : chunk;
    const m = this.engine.module;
    const at = m._ft_session_extend(this.handle, bytes.length);
    if (!at) throw new EngineError('out of memory: the recording is too large for this page');
    m.HEAPU8.set(bytes, at);  // HEAPU8 is looked up after the call: memory may have grown
    this.bytes += bytes.length;
  }

  // Reads and fits all the text so far. Returns {document, sections, hasCalibration,
  // validityWarning, points}: the command's JSON document, the report's sections as HTML,
  // whether there is a calibration to apply, the model's validity warning (empty when none),
  // and the report's drawn samples as a Float64Array of seven numbers each (raw X, Y, Z,
  // corrected X, Y, Z, status: 0 kept, 1 invalid, 2 outside window, 3 disturbed, 4 outlier,
  // 5 clipped).
  // Throws EngineError with the library's message when nothing could be fitted.
  refit(settings) {
    const e = this.engine;
    return this.withPoints(JSON.parse(e.withStrings([Engine.settingsJson(settings)],
      (s) => e.reply(e.module._ft_session_refit(this.handle, s)))));
  }

  withPoints(fit) {
    const m = this.engine.module;
    const count = m._ft_session_point_count(this.handle);
    const start = m._ft_session_points(this.handle) / 8;
    fit.points = m.HEAPF64.slice(start, start + 7 * count);
    return fit;
  }

  // The last fit as a file's text: 'json', 'c', 'ardupilot', 'px4', 'csv', or 'recording' (the
  // text pushed).
  download(format) {
    const e = this.engine;
    return e.withStrings([format], (f) => e.reply(e.module._ft_session_download(this.handle, f)));
  }

  dispose() {
    this.engine.module._ft_session_destroy(this.handle);
    this.handle = 0;
  }

  // A live session over the text pushed from now on (livePush), as `fluxtrim watch` runs one:
  // settings.until is its stop rule, settings.device true for a serial port. Throws EngineError
  // for a rule or setting the library refuses.
  startLive(settings) {
    const e = this.engine;
    e.withStrings([Engine.settingsJson(settings)],
      (s) => e.reply(e.module._ft_live_start(this.handle, s)));
  }

  // A chunk of text received at `now` seconds (of the page's clock, or of a replay's data).
  livePush(chunk, now) {
    this.push(chunk);
    this.engine.reply(this.engine.module._ft_live_push(this.handle, now));
  }

  // The live state at `now`: {time, samples, rate, bytes (received), decided, held, other:
  // {header, comment, blank, skipped, leftOut}, fit: null or {verdict, reasons, samples,
  // coverage, gap, gapCell, pose, bands, sectors, cells ('0'/'1' per cell), residual_mG,
  // residualToField, passFor, disagreement}, rule: {coverage, samples, passHold}, stopped,
  // reason ('rule', 'end', 'stopped' or '')}; numbers not known yet are null.
  liveUpdate(now) {
    return JSON.parse(this.engine.reply(this.engine.module._ft_live_update(this.handle, now)));
  }

  // The input ended at `now`: 'end' (a replay's end), 'closed' (a port gone: a cut last line
  // dropped) or 'stop' (the Stop button). Returns the state.
  liveEnd(now, how) {
    const code = { end: 0, closed: 1, stop: 2 }[how];
    return JSON.parse(this.engine.reply(this.engine.module._ft_live_end(this.handle, now, code)));
  }

  // Once stopped: the calibration of every sample taken, as refit returns a fit.
  liveResult() {
    const e = this.engine;
    return this.withPoints(JSON.parse(e.reply(e.module._ft_live_result(this.handle))));
  }

  // For a replay of the text pushed: {column: the time column's name or '', times: a
  // Float64Array with the time of each line in seconds, NaN where a line holds none}.
  replayPlan(settings) {
    const e = this.engine;
    const m = e.module;
    const plan = JSON.parse(e.withStrings([Engine.settingsJson(settings)],
      (s) => e.reply(m._ft_replay_plan(this.handle, s))));
    const start = m._ft_replay_times(this.handle) / 8;
    plan.times = m.HEAPF64.slice(start, start + m._ft_replay_time_count(this.handle));
    return plan;
  }
}
