// A stand-in for the agent's HTTP API, for working on the pages without a build:
//   node tests/e2e/mock-agent.mjs [port]    then open http://127.0.0.1:<port>/ and /admin
// The browser tests run against the real agent; this only mirrors its documented answers.
import { createServer } from 'node:http';
import { readFile } from 'node:fs/promises';
import { extname, join, normalize } from 'node:path';
import { randomBytes } from 'node:crypto';

const PUBLIC = new URL('../../resources/public/', import.meta.url).pathname;
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.png': 'image/png', '.svg': 'image/svg+xml', '.json': 'application/json', '.webmanifest': 'application/manifest+json' };
const GESTURES = [['minimize', '⬇️', 'Minimize'], ['hide_others', '🙈', 'Hide others'], ['mission_control', '🗂️', 'Mission Control'], ['app_windows', '🪟', 'App Windows'], ['show_desktop', '🖥️', 'Show Desktop'], ['spotlight', '🔍', 'Spotlight'], ['lock_screen', '🔒', 'Lock Screen'], ['launchpad', '🚀', 'Launchpad']];
const state = { pin: '1234', tokens: new Set(), codes: new Set(), failures: 0, volume: 40, muted: false };
let config = { pages: [{ name: 'Apps', icon: '🚀', tiles: [] }], settings: { columns: 4, iconScale: 1.12, labels: true } };
const streams = new Set();

const hex = (n) => randomBytes(n / 2).toString('hex');
const send = (res, status, obj) => { res.writeHead(status, { 'content-type': 'application/json' }); res.end(JSON.stringify(obj)); };
const reload = () => { for (const s of streams) s.write('event: reload\ndata: 1\n\n'); };

async function handle(req, res, body) {
  const url = new URL(req.url, 'http://x');
  const path = url.pathname;
  const local = !req.headers['x-hb-token'];
  const authed = state.tokens.has(req.headers['x-hb-token']);
  let data = {};
  try { data = JSON.parse(body || '{}'); } catch { data = {}; }
  const text = (k, d = '') => (typeof data[k] === 'string' ? data[k] : d);
  if (path === '/api/events') {
    res.writeHead(200, { 'content-type': 'text/event-stream', 'cache-control': 'no-cache' });
    res.write(': connected\n\n');
    streams.add(res);
    res.on('close', () => streams.delete(res));
    return;
  }
  if (path === '/api/pair') {
    if (state.failures >= 5) return send(res, 423, { ok: false, error: 'Locked — too many tries', locked: true });
    if (text('pin') !== state.pin) { state.failures++; return send(res, 401, { ok: false, error: 'Wrong PIN' }); }
    const t = hex(48); state.tokens.add(t); return send(res, 200, { ok: true, token: t });
  }
  if (path === '/api/pair-code') {
    if (!state.codes.delete(text('code'))) return send(res, 401, { ok: false, error: 'Invalid or expired code' });
    const t = hex(48); state.tokens.add(t); return send(res, 200, { ok: true, token: t });
  }
  if (path === '/api/icon') return res.writeHead(404, { 'content-type': 'text/plain' }).end();
  const open = ['/api/admin', '/api/set-pin', '/api/connect', '/api/shortcuts', '/api/flows', '/api/open-admin'];
  if (!(authed || (local && (open.includes(path) || (path === '/api/config' && req.method === 'POST'))))) {
    if (path.startsWith('/api/')) return send(res, path === '/api/admin' ? 200 : 401, { ok: false });
  }
  switch (path) {
    case '/api/admin': return send(res, 200, { ok: true, host: 'devbox', version: '0.1.0', config, pin: state.pin, apps: ['Files', 'Firefox', 'Terminal', 'Text Editor'], gestures: GESTURES.map(([value, emoji, label]) => ({ value, emoji, label })), shortcuts: ['Backup', 'Focus mode'] });
    case '/api/config':
      if (req.method === 'POST') { config = data; reload(); return send(res, 200, { ok: true }); }
      return send(res, 200, { ok: true, config, version: '0.1.0', host: 'Dev Box', relayUrl: 'https://relay.example/phone/abc', relayEnabled: !!config.settings?.relayEnabled });
    case '/api/set-pin': { const ok = /^\d{4,8}$/.test(text('pin')); if (ok) state.pin = text('pin'); return send(res, 200, { ok }); }
    case '/api/connect': { const c = hex(16); state.codes.add(c); return send(res, 200, { ok: true, url: `http://127.0.0.1:${server.address().port}/?pair=${c}`, qr: '' }); }
    case '/api/shortcuts': return send(res, 200, { ok: true, shortcuts: ['Backup', 'Focus mode'] });
    case '/api/volume':
      if (req.method === 'POST') { if (typeof data.muted === 'boolean') state.muted = data.muted; else state.volume = Math.max(0, Math.min(100, Math.trunc(data.level ?? 50))); }
      return send(res, 200, { ok: true, level: state.volume, muted: state.muted });
    case '/api/plan': return send(res, 200, { ok: true, steps: [{ type: 'app', value: 'Firefox', label: 'Open Firefox' }, { type: 'url', value: 'https://example.org', label: 'Open the calendar' }] });
    case '/api/run-plan': return send(res, 200, { ok: true, ran: Array.isArray(data.steps) ? data.steps.length : 0 });
    case '/api/flows':
      if (req.method === 'DELETE') { for (const p of config.pages) if (p.name === 'Flows') p.tiles = p.tiles.filter((t) => t.label !== text('label')); }
      else {
        let page = config.pages.find((p) => p.name === 'Flows');
        if (!page) config.pages.push(page = { name: 'Flows', icon: '⚡', tiles: [] });
        page.tiles.push({ type: 'flow', label: text('label', 'Flow'), emoji: text('emoji', '⚡'), steps: data.steps });
      }
      reload(); return send(res, 200, { ok: true });
    case '/api/unpair': state.tokens.delete(req.headers['x-hb-token']); return send(res, 200, { ok: true });
    case '/api/type': case '/api/media': return send(res, 200, { ok: false, error: 'Allow Harbly in System Settings → Accessibility.' });
    case '/api/gesture': return send(res, 200, { ok: false, error: 'Allow Harbly in System Settings → Privacy & Security → Accessibility, then try again.' });
    case '/api/launch': case '/api/url': case '/api/shortcut': case '/api/system': case '/api/clipboard': case '/api/open-admin':
      return send(res, 200, { ok: true });
  }
  const file = path === '/' ? 'index.html' : path === '/admin' ? 'admin.html' : normalize(path).replace(/^\/+/, '');
  try {
    const bytes = await readFile(join(PUBLIC, file));
    res.writeHead(200, { 'content-type': TYPES[extname(file)] || 'application/octet-stream' }).end(bytes);
  } catch { res.writeHead(404, { 'content-type': 'text/plain' }).end('not found'); }
}

const server = createServer((req, res) => {
  let body = '';
  req.on('data', (c) => { body += c; });
  req.on('end', () => handle(req, res, body));
});
server.listen(Number(process.argv[2] || 8790), '127.0.0.1', () => console.log('mock agent on', server.address().port, 'PIN', state.pin));
