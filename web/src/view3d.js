// The drawn samples in three dimensions on a 2-D canvas: raw and corrected points, turned with the
// mouse, a finger or the arrow keys. An orthographic view; nearer points are drawn later and
// darker, so that the depth reads without perspective distorting the spheres.

const VIEW_COLOURS = {
  raw: [213, 94, 0],  // the report's vermilion
  corrected: [0, 114, 178],  // the report's blue
  rejected: [150, 157, 165],
};
const KEY_STEP = Math.PI / 36;  // 5 degrees a key press

class SampleView3D {
  constructor(canvas) {
    this.canvas = canvas;
    this.points = new Float64Array(0);
    this.show = { raw: true, corrected: true, rejected: true };
    this.resetView();
    this.listen();
    new ResizeObserver(() => this.draw()).observe(canvas);
  }

  resetView() {
    this.yaw = -Math.PI / 5;
    this.pitch = Math.PI / 7;
    this.draw();
  }

  // points: seven numbers a sample, as FitSession.refit gives them.
  setPoints(points) {
    this.points = points;
    this.draw();
  }

  turn(yaw, pitch) {
    this.yaw += yaw;
    this.pitch = Math.max(-Math.PI / 2, Math.min(Math.PI / 2, this.pitch + pitch));
    this.draw();
  }

  listen() {
    let last = null;
    const c = this.canvas;
    c.addEventListener('pointerdown', (event) => {
      last = [event.clientX, event.clientY];
      c.setPointerCapture(event.pointerId);
    });
    c.addEventListener('pointermove', (event) => {
      if (!last) return;
      const scale = Math.PI / Math.max(200, c.clientWidth);
      this.turn((event.clientX - last[0]) * scale, (event.clientY - last[1]) * scale);
      last = [event.clientX, event.clientY];
    });
    const stop = () => { last = null; };
    c.addEventListener('pointerup', stop);
    c.addEventListener('pointercancel', stop);
    c.addEventListener('keydown', (event) => {
      const turns = { ArrowLeft: [-KEY_STEP, 0], ArrowRight: [KEY_STEP, 0],
        ArrowUp: [0, -KEY_STEP], ArrowDown: [0, KEY_STEP] };
      if (!turns[event.key]) return;
      event.preventDefault();
      this.turn(...turns[event.key]);
    });
  }

  // The sensor's X, Y, Z in view coordinates [right, up, towards the viewer], a right-handed
  // frame: turned by yaw about Z, then by pitch about the view's horizontal axis. With both zero,
  // X points right, Z up and Y away from the viewer.
  project(x, y, z) {
    const cy = Math.cos(this.yaw);
    const sy = Math.sin(this.yaw);
    const cp = Math.cos(this.pitch);
    const sp = Math.sin(this.pitch);
    const right = cy * x - sy * y;
    const towards = -(sy * x + cy * y);
    return [right, cp * z - sp * towards, sp * z + cp * towards];
  }

  draw() {
    const c = this.canvas;
    const ratio = window.devicePixelRatio || 1;
    const width = Math.round(c.clientWidth * ratio);
    const height = Math.round(c.clientHeight * ratio);
    if (width === 0 || height === 0) return;
    if (c.width !== width || c.height !== height) {
      c.width = width;
      c.height = height;
    }
    const g = c.getContext('2d');
    g.clearRect(0, 0, width, height);

    // One scale for both sets, whichever way the view is turned: the largest distance of a point
    // from the origin fills 45 % of the shorter side.
    const p = this.points;
    let extent = 0;
    for (let i = 0; i < p.length; i += 7) {
      for (const k of [0, 3]) extent = Math.max(extent, Math.hypot(p[i + k], p[i + k + 1], p[i + k + 2]));
    }
    if (!(extent > 0) || !Number.isFinite(extent)) extent = 1;
    const scale = (0.45 * Math.min(width, height)) / extent;
    const cx = width / 2;
    const cy = height / 2;

    this.drawAxes(g, cx, cy, scale * extent, ratio, false);
    const marks = [];
    for (let i = 0; i < p.length; i += 7) {
      const kept = p[i + 6] === 0;
      if (!kept && !this.show.rejected) continue;
      for (const [set, offset] of [['raw', 0], ['corrected', 3]]) {
        if (!this.show[set]) continue;
        const [r, u, d] = this.project(p[i + offset], p[i + offset + 1], p[i + offset + 2]);
        marks.push([d, cx + r * scale, cy - u * scale, kept ? VIEW_COLOURS[set] : VIEW_COLOURS.rejected]);
      }
    }
    marks.sort((a, b) => a[0] - b[0]);
    const size = Math.max(2, 2.2 * ratio);
    for (const [d, x, y, colour] of marks) {
      const near = 0.5 + 0.5 * Math.max(-1, Math.min(1, d / extent));
      const shade = 0.55 + 0.45 * near;
      g.fillStyle = `rgb(${colour.map((v) => Math.round(v * shade + 255 * (1 - shade) * 0.35)).join(',')})`;
      g.fillRect(x - size / 2, y - size / 2, size, size);
    }
    this.drawAxes(g, cx, cy, scale * extent, ratio, true);
  }

  // The sensor's axes through the origin: the lines under the points, the names over them.
  drawAxes(g, cx, cy, length, ratio, names) {
    g.lineWidth = ratio;
    g.font = `600 ${Math.round(13 * ratio)}px system-ui, sans-serif`;
    g.textAlign = 'center';
    g.textBaseline = 'middle';
    for (const [name, axis] of [['X', [1, 0, 0]], ['Y', [0, 1, 0]], ['Z', [0, 0, 1]]]) {
      const [r, u] = this.project(...axis);
      if (names) {
        g.fillStyle = '#1b1f24';
        g.fillText(name, cx + r * length * 1.08, cy - u * length * 1.08);
      } else {
        g.strokeStyle = '#8a939d';
        g.beginPath();
        g.moveTo(cx - r * length, cy + u * length);
        g.lineTo(cx + r * length, cy - u * length);
        g.stroke();
      }
    }
  }
}
