// Calls to the agent's JSON API. Addresses are relative ("api/..."), so the same
// files work at "/" on the LAN and at "/phone/<id>/" through the relay.

const TOKEN_KEY = 'harbly.token';
const TIMEOUT_MS = 20000;
const PLAN_TIMEOUT_MS = 45000;

let onUnauthorized = () => {};

export const session = {
  token() {
    try { return localStorage.getItem(TOKEN_KEY) || ''; } catch { return ''; }
  },
  save(token) {
    try { localStorage.setItem(TOKEN_KEY, token); } catch { /* private mode: token lives for this page only */ }
  },
  clear() {
    try { localStorage.removeItem(TOKEN_KEY); } catch { /* ignore */ }
  },
  /** Called once when a request with the token is refused (the token was revoked). */
  onUnauthorized(fn) { onUnauthorized = fn; },
};

/**
 * Sends one request and resolves to { status, data } where data is the JSON answer
 * ({} when the body was not JSON). Network failures resolve to status 0 with an
 * "error" message, so callers handle one shape.
 */
export async function request(name, { method, body, auth = true, timeout } = {}) {
  const headers = {};
  const token = auth ? session.token() : '';
  if (token) headers['x-hb-token'] = token;
  if (body !== undefined) headers['content-type'] = 'application/json';
  const controller = new AbortController();
  const timer = setTimeout(() => controller.abort(), timeout || (name === 'plan' ? PLAN_TIMEOUT_MS : TIMEOUT_MS));
  try {
    const res = await fetch('api/' + name, {
      method: method || (body === undefined ? 'GET' : 'POST'),
      headers,
      body: body === undefined ? undefined : JSON.stringify(body),
      cache: 'no-store',
      signal: controller.signal,
    });
    let data = {};
    try { data = await res.json(); } catch { data = {}; }
    if (!data || typeof data !== 'object') data = {};
    if (res.status === 401 && token) onUnauthorized();
    return { status: res.status, data };
  } catch (err) {
    const timedOut = err && err.name === 'AbortError';
    return { status: 0, data: { ok: false, error: timedOut ? 'The computer took too long to answer.' : 'Can’t reach the computer. Check that it is on and on the same network.' } };
  } finally {
    clearTimeout(timer);
  }
}

/** POST with a JSON body; resolves to the answer object. */
export async function post(name, body = {}, options = {}) {
  return (await request(name, { ...options, body })).data;
}

/** GET; resolves to the answer object. */
export async function get(name, options = {}) {
  return (await request(name, options)).data;
}

/** The icon address of an installed application (no token needed). */
export function iconUrl(app) {
  return 'api/icon?app=' + encodeURIComponent(app);
}
