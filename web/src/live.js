// Calibration while the text arrives: from a board on a serial port, or from a recording replayed
// at its own pace. Both are sources of the one LiveRun, which pushes their bytes into the
// library's live session (FitSession.livePush: the session `fluxtrim watch` runs), asks it for
// its state a few times a second and ends it. A replay therefore goes through every step a
// serial port's text goes through but the port itself.

/* exported LiveRun, SerialSource, ReplaySource, replayLines, drawCoverageMap, serialSupport */

// How often the page asks for the state (and the session refits, at most four times a second).
const TICK_MS = 100;

class LiveRun {
  // session: a FitSession; settings: as refit takes them, with until and device; onState(state)
  // after every update; onEnd(state, error) once, when the session stopped or failed.
  constructor(session, settings, { onState, onEnd }) {
    this.session = session;
    this.settings = settings;
    this.onState = onState;
    this.onEnd = onEnd;
    this.source = null;
    this.ended = false;
    this.how = '';  // how the input ended, when not by the stop rule
    this.timer = 0;
  }

  // Starts the session and the source; the source calls push() and end() and tells the time.
  start(source) {
    this.source = source;
    this.session.clear();
    this.session.startLive(this.settings);
    this.timer = setInterval(() => this.tick(), TICK_MS);
    source.run(this).catch((error) => this.fail(error));
  }

  push(bytes, now) {
    if (this.ended) return;
    try {
      this.session.livePush(bytes, now);
    } catch (error) {
      this.fail(error);
    }
  }

  tick() {
    if (this.ended) return;
    try {
      const state = this.session.liveUpdate(this.source.now());
      this.onState(state);
      if (state.stopped) this.finish(state);
    } catch (error) {
      this.fail(error);
    }
  }

  // The input ended ('end', 'closed') or the user stopped it ('stop').
  end(how) {
    if (this.ended) return;
    this.how = how;
    try {
      this.finish(this.session.liveEnd(this.source.now(), how));
    } catch (error) {
      this.fail(error);
    }
  }

  finish(state) {
    this.ended = true;
    clearInterval(this.timer);
    this.source.close();
    this.onState(state);
    this.onEnd(state, null);
  }

  fail(error) {
    if (this.ended) return;
    this.ended = true;
    clearInterval(this.timer);
    this.source.close();
    this.onEnd(null, error);
  }
}

// Whether this browser can read a serial port, and why not.
function serialSupport() {
  if (!('serial' in navigator)) {
    return 'This browser cannot read a serial port: the Web Serial API is found in Chromium-based '
      + 'desktop browsers. Replay a recording here instead, or use fluxtrim watch.';
  }
  if (!window.isSecureContext) {
    return 'The serial port can be read only from a page opened from disk or over HTTPS.';
  }
  return '';
}

// A board on a serial port, 8N1 at the baud rate; the time is the page's clock since the start.
class SerialSource {
  constructor(port, baudRate) {
    this.port = port;
    this.baudRate = baudRate;
    this.reader = null;
    this.closed = false;
    this.started = performance.now();
  }

  now() {
    return (performance.now() - this.started) / 1000;
  }

  async run(live) {
    try {
      await this.port.open({ baudRate: this.baudRate, dataBits: 8, parity: 'none', stopBits: 1 });
    } catch (error) {
      throw new Error(`the port could not be opened (${error.message}); another program may `
        + 'hold it, or the board was unplugged');
    }
    this.started = performance.now();
    this.reader = this.port.readable.getReader();
    try {
      for (;;) {
        const { done, value } = await this.reader.read();
        if (this.closed) return;
        if (done) break;
        live.push(value, this.now());
      }
    } catch (error) {
      if (this.closed) return;
      // A read that fails (the board unplugged or reset) ends the input as a port that closed.
    }
    live.end('closed');
  }

  close() {
    if (this.closed) return;
    this.closed = true;
    const reader = this.reader;
    (async () => {
      try {
        await reader?.cancel();
        reader?.releaseLock();
      } catch (error) { /* already gone */ }
      try {
        await this.port.close();
      } catch (error) { /* already closed */ }
    })();
  }
}

// The lines of a recording's bytes, each with its line end, split where the library splits them:
// at line feeds, or at carriage returns in a file that has none.
function replayLines(bytes) {
  const end = bytes.includes(0x0a) ? 0x0a : 0x0d;
  const lines = [];
  let start = 0;
  for (let at = bytes.indexOf(end); at >= 0; at = bytes.indexOf(end, start)) {
    lines.push(bytes.subarray(start, at + 1));
    start = at + 1;
  }
  if (start < bytes.length) lines.push(bytes.subarray(start));
  return lines;
}

// The time of each line in seconds from the first: the time column's where it rises (a line
// without one takes its predecessor's), otherwise one line every 1/rate seconds.
function lineTimes(count, columnTimes, rate) {
  const finite = columnTimes ? Array.from(columnTimes).filter(Number.isFinite) : [];
  const rises = finite.length > 1 && finite[finite.length - 1] > finite[0];
  const times = new Float64Array(count);
  if (!rises) {
    for (let k = 0; k < count; ++k) times[k] = k / rate;
    return { times, fromColumn: false };
  }
  let last = finite[0];
  for (let k = 0; k < count; ++k) {
    const t = k < columnTimes.length ? columnTimes[k] : NaN;
    if (Number.isFinite(t) && t >= last) last = t;
    times[k] = last - finite[0];
  }
  return { times, fromColumn: true };
}

// A recording played back: its lines handed over when their time comes, speed times faster than
// recorded. The time is the recording's own, so the stop rule's two seconds are of data.
class ReplaySource {
  constructor(lines, columnTimes, rate, speed) {
    this.lines = lines;
    ({ times: this.times, fromColumn: this.fromColumn } = lineTimes(lines.length, columnTimes, rate));
    this.speed = speed;
    this.next = 0;
    this.closed = false;
    this.clock = 0;
    this.started = performance.now();
  }

  // The recording's time: that of the lines handed over so far, so that no line arrives before
  // a time the session was already told.
  now() {
    return this.clock;
  }

  async run(live) {
    this.started = performance.now();
    const last = this.times.length ? this.times[this.times.length - 1] : 0;
    while (!this.closed && this.next < this.lines.length) {
      const target = Math.min(last, ((performance.now() - this.started) / 1000) * this.speed);
      while (this.next < this.lines.length && this.times[this.next] <= target && !this.closed) {
        live.push(this.lines[this.next], this.times[this.next]);
        this.next += 1;
      }
      this.clock = Math.max(this.clock, target);
      await new Promise((resolve) => setTimeout(resolve, 20));
    }
    if (!this.closed) live.end('end');
  }

  close() {
    this.closed = true;
  }
}

// The coverage map on a canvas: the equal-area cells of the coverage check (bands of equal
// height in Z, +Z at the top; sectors of longitude from -X through -Y, +X, +Y back to -X), a cell
// filled once a corrected direction reached it, the largest gap's cell outlined.
function drawCoverageMap(canvas, fit) {
  const ratio = window.devicePixelRatio || 1;
  const width = canvas.clientWidth || 480;
  const height = Math.round(width / 2);
  canvas.width = Math.round(width * ratio);
  canvas.height = Math.round(height * ratio);
  const g = canvas.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  const style = getComputedStyle(canvas);
  g.clearRect(0, 0, width, height);
  const bands = fit?.bands ?? 8;
  const sectors = fit?.sectors ?? 16;
  const left = 26;
  const bottom = 16;
  const w = (width - left) / sectors;
  const h = (height - bottom) / bands;
  for (let band = 0; band < bands; ++band) {
    for (let sector = 0; sector < sectors; ++sector) {
      const filled = fit?.cells?.[band * sectors + sector] === '1';
      g.fillStyle = filled ? style.getPropertyValue('--map-filled') || '#2e7d32'
        : style.getPropertyValue('--map-empty') || '#e4e4e4';
      g.fillRect(left + sector * w + 1, (bands - 1 - band) * h + 1, w - 2, h - 2);
    }
  }
  if (fit && fit.gapCell >= 0 && fit.gap >= 20) {
    const band = Math.floor(fit.gapCell / sectors);
    const sector = fit.gapCell % sectors;
    g.strokeStyle = style.getPropertyValue('--map-gap') || '#c77700';
    g.lineWidth = 3;
    g.strokeRect(left + sector * w + 1.5, (bands - 1 - band) * h + 1.5, w - 3, h - 3);
  }
  g.fillStyle = style.color || '#222';
  g.font = '12px sans-serif';
  g.textBaseline = 'top';
  g.fillText('+Z', 2, 2);
  g.textBaseline = 'bottom';
  g.fillText('-Z', 2, height - bottom);
  g.textBaseline = 'bottom';
  ['-X', '-Y', '+X', '+Y', '-X'].forEach((name, k) => {
    const x = Math.min(width - 16, left + (k * (width - left)) / 4 - (k ? 8 : 0));
    g.fillText(name, x, height);
  });
}
