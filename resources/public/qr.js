// A small QR code encoder (byte mode, error correction level M, versions 1–10, up to
// 213 bytes) drawing on a canvas. Used for the relay phone address, for which the
// agent offers no image.

const EC_M = [ // [ec codewords per block, [blocks, data codewords per block]...] for versions 1..10
  [10, [1, 16]], [16, [1, 28]], [26, [1, 44]], [18, [2, 32]], [24, [2, 43]],
  [16, [4, 27]], [18, [4, 31]], [22, [2, 38], [2, 39]], [22, [3, 36], [2, 37]], [26, [4, 43], [1, 44]],
];
const ALIGN = [[], [6, 18], [6, 22], [6, 26], [6, 30], [6, 34], [6, 22, 38], [6, 24, 42], [6, 26, 46], [6, 28, 50]];
const EXP = new Uint8Array(512);
const LOG = new Uint8Array(256);
for (let i = 0, x = 1; i < 255; i++, x = (x << 1) ^ (x & 0x80 ? 0x11d : 0)) { EXP[i] = x; LOG[x] = i; }
for (let i = 255; i < 512; i++) EXP[i] = EXP[i - 255];
const mul = (a, b) => (a && b ? EXP[LOG[a] + LOG[b]] : 0);

function dataCapacity(version) {
  const [, ...groups] = EC_M[version - 1];
  return groups.reduce((n, [blocks, size]) => n + blocks * size, 0);
}

function encodeData(bytes, version) {
  const bits = [];
  const put = (value, length) => { for (let i = length - 1; i >= 0; i--) bits.push((value >>> i) & 1); };
  put(0b0100, 4);
  put(bytes.length, version < 10 ? 8 : 16);
  for (const b of bytes) put(b, 8);
  const capacity = dataCapacity(version) * 8;
  put(0, Math.min(4, capacity - bits.length));
  while (bits.length % 8) bits.push(0);
  const out = [];
  for (let i = 0; i < bits.length; i += 8) out.push(bits.slice(i, i + 8).reduce((v, b) => (v << 1) | b, 0));
  for (let pad = 0xec; out.length < capacity / 8; pad ^= 0xec ^ 0x11) out.push(pad);
  return out;
}

function reedSolomon(data, degree) {
  let gen = [1];
  for (let i = 0; i < degree; i++) {
    const next = new Array(gen.length + 1).fill(0);
    gen.forEach((c, j) => { next[j] ^= c; next[j + 1] ^= mul(c, EXP[i]); });
    gen = next;
  }
  const rem = new Array(degree).fill(0);
  for (const b of data) {
    const factor = b ^ rem.shift();
    rem.push(0);
    for (let i = 0; i < degree; i++) rem[i] ^= mul(gen[i + 1], factor);
  }
  return rem;
}

function interleave(data, version) {
  const [ec, ...groups] = EC_M[version - 1];
  const blocks = [];
  let at = 0;
  for (const [count, size] of groups) for (let i = 0; i < count; i++) { blocks.push(data.slice(at, at + size)); at += size; }
  const ecBlocks = blocks.map((b) => reedSolomon(b, ec));
  const out = [];
  const longest = Math.max(...blocks.map((b) => b.length));
  for (let i = 0; i < longest; i++) for (const b of blocks) if (i < b.length) out.push(b[i]);
  for (let i = 0; i < ec; i++) for (const b of ecBlocks) out.push(b[i]);
  return out;
}

function bch(value, poly, polyBits) {
  let v = value << (polyBits - 1);
  for (let i = 31 - Math.clz32(v); i >= polyBits - 1; i--) if ((v >>> i) & 1) v ^= poly << (i - polyBits + 1);
  return v;
}

const MASKS = [
  (r, c) => (r + c) % 2 === 0, (r) => r % 2 === 0, (r, c) => c % 3 === 0, (r, c) => (r + c) % 3 === 0,
  (r, c) => (Math.floor(r / 2) + Math.floor(c / 3)) % 2 === 0, (r, c) => ((r * c) % 2) + ((r * c) % 3) === 0,
  (r, c) => (((r * c) % 2) + ((r * c) % 3)) % 2 === 0, (r, c) => (((r + c) % 2) + ((r * c) % 3)) % 2 === 0,
];

function buildMatrix(codewords, version, mask) {
  const n = version * 4 + 17;
  const m = Array.from({ length: n }, () => new Array(n).fill(null));
  const set = (r, c, v) => { if (r >= 0 && c >= 0 && r < n && c < n) m[r][c] = v; };
  for (const [r0, c0] of [[0, 0], [0, n - 7], [n - 7, 0]]) {
    for (let r = -1; r <= 7; r++) for (let c = -1; c <= 7; c++) {
      const inside = r >= 0 && r <= 6 && c >= 0 && c <= 6;
      set(r0 + r, c0 + c, inside && (r === 0 || r === 6 || c === 0 || c === 6 || (r >= 2 && r <= 4 && c >= 2 && c <= 4)));
    }
  }
  for (let i = 8; i < n - 8; i++) { m[6][i] = i % 2 === 0; m[i][6] = i % 2 === 0; }
  const align = ALIGN[version - 1];
  const last = align.length - 1;
  align.forEach((r, i) => align.forEach((c, j) => {
    if ((i === 0 && j === 0) || (i === 0 && j === last) || (i === last && j === 0)) return;
    for (let dr = -2; dr <= 2; dr++) for (let dc = -2; dc <= 2; dc++) m[r + dr][c + dc] = Math.max(Math.abs(dr), Math.abs(dc)) !== 1;
  }));
  // Format bits (level M = 00) and, from version 7, version bits.
  const format = ((mask << 10) | bch(mask, 0x537, 11)) ^ 0x5412;
  const fbit = (i) => ((format >>> i) & 1) === 1;
  for (let i = 0; i < 6; i++) m[i][8] = fbit(i);
  m[7][8] = fbit(6); m[8][8] = fbit(7); m[8][7] = fbit(8);
  for (let i = 9; i < 15; i++) m[8][14 - i] = fbit(i);
  for (let i = 0; i < 8; i++) m[8][n - 1 - i] = fbit(i);
  for (let i = 8; i < 15; i++) m[n - 15 + i][8] = fbit(i);
  m[n - 8][8] = true;
  if (version >= 7) {
    const bits = (version << 12) | bch(version, 0x1f25, 13);
    for (let i = 0; i < 18; i++) {
      const v = ((bits >>> i) & 1) === 1;
      m[n - 11 + (i % 3)][Math.floor(i / 3)] = v;
      m[Math.floor(i / 3)][n - 11 + (i % 3)] = v;
    }
  }
  // Data in the zig-zag order, masked.
  let bit = 0;
  const total = codewords.length * 8;
  for (let right = n - 1; right >= 1; right -= 2) {
    if (right === 6) right = 5;
    for (let vert = 0; vert < n; vert++) {
      for (let j = 0; j < 2; j++) {
        const c = right - j;
        const upward = ((right + 1) & 2) === 0;
        const r = upward ? n - 1 - vert : vert;
        if (m[r][c] !== null) continue;
        const dark = bit < total && ((codewords[bit >>> 3] >>> (7 - (bit & 7))) & 1) === 1;
        bit++;
        m[r][c] = dark !== MASKS[mask](r, c);
      }
    }
  }
  return m;
}

function penalty(m) {
  const n = m.length;
  let score = 0;
  let dark = 0;
  const lines = (get) => {
    for (let a = 0; a < n; a++) {
      let run = 1;
      let pattern = 0;
      for (let b = 0; b < n; b++) {
        const v = get(a, b);
        if (b > 0) {
          if (v === get(a, b - 1)) { run++; if (run === 5) score += 3; else if (run > 5) score++; } else run = 1;
        }
        pattern = ((pattern << 1) | (v ? 1 : 0)) & 0x7ff;
        if (b >= 10 && (pattern === 0x5d0 || pattern === 0x05d)) score += 40;
      }
    }
  };
  lines((r, c) => m[r][c]);
  lines((c, r) => m[r][c]);
  for (let r = 0; r < n; r++) for (let c = 0; c < n; c++) {
    if (m[r][c]) dark++;
    if (r < n - 1 && c < n - 1 && m[r][c] === m[r + 1][c] && m[r][c] === m[r][c + 1] && m[r][c] === m[r + 1][c + 1]) score += 3;
  }
  score += Math.floor(Math.abs(dark * 20 - n * n * 10) / (n * n)) * 10;
  return score;
}

/** The module matrix (rows of booleans, true = dark) for `text`, or null when it is too long. */
export function qrMatrix(text) {
  const bytes = new TextEncoder().encode(text);
  const version = EC_M.findIndex((_, i) => dataCapacity(i + 1) * 8 >= 4 + (i + 1 < 10 ? 8 : 16) + bytes.length * 8) + 1;
  if (version === 0) return null;
  const codewords = interleave(encodeData(bytes, version), version);
  let best = null;
  for (let mask = 0; mask < 8; mask++) {
    const m = buildMatrix(codewords, version, mask);
    const score = penalty(m);
    if (!best || score < best.score) best = { m, score };
  }
  return best.m;
}

/** Draws the QR code of `text` on `canvas` with a 4-module quiet zone. */
export function drawQR(canvas, text) {
  const m = qrMatrix(text);
  const ctx = canvas.getContext('2d');
  ctx.fillStyle = '#fff';
  ctx.fillRect(0, 0, canvas.width, canvas.height);
  if (!m) return false;
  const cells = m.length + 8;
  const scale = Math.floor(canvas.width / cells);
  const offset = Math.floor((canvas.width - scale * m.length) / 2);
  ctx.fillStyle = '#000';
  m.forEach((row, r) => row.forEach((on, c) => { if (on) ctx.fillRect(offset + c * scale, offset + r * scale, scale, scale); }));
  return true;
}
