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

  static settingsJson(settings) {
    const picked = {};
    for (const name of SETTING_NAMES) picked[name] = String(settings[name] ?? '');
    return JSON.stringify(picked);
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
    const fit = JSON.parse(e.withStrings([Engine.settingsJson(settings)],
      (s) => e.reply(e.module._ft_session_refit(this.handle, s))));
    const m = e.module;
    const count = m._ft_session_point_count(this.handle);
    const start = m._ft_session_points(this.handle) / 8;
    fit.points = m.HEAPF64.slice(start, start + 7 * count);
    return fit;
  }

  // The last fit as a file's text: 'json', 'c' or 'csv'.
  download(format) {
    const e = this.engine;
    return e.withStrings([format], (f) => e.reply(e.module._ft_session_download(this.handle, f)));
  }
}
