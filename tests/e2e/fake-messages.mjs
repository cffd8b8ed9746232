// A stand-in for the Anthropic Messages API on loopback, for the Ask tests:
//   node fake-messages.mjs    (prints the port the kernel chose)
// The reply depends on the intent, so each test picks the case it needs.
import { createServer } from 'node:http';

const PLAN = {
  steps: [
    { type: 'url', value: 'https://example.org/news', label: 'Open the news' },
    { type: 'app', value: 'Harbly Probe', label: 'Start the probe' },
  ],
};

function reply(intent) {
  if (intent.includes('outage')) return { status: 529, body: 'overloaded' };
  const text = 'Here is the plan:\n```json\n' + JSON.stringify(PLAN) + '\n```';
  return { status: 200, body: { id: 'msg_e2e', type: 'message', role: 'assistant', content: [{ type: 'text', text }] } };
}

const server = createServer((req, res) => {
  let raw = '';
  req.on('data', (chunk) => { raw += chunk; });
  req.on('end', () => {
    let intent = '';
    try { intent = String(JSON.parse(raw).messages[0].content); } catch { intent = ''; }
    const { status, body } = reply(intent);
    res.writeHead(status, { 'content-type': typeof body === 'string' ? 'text/plain' : 'application/json' });
    res.end(typeof body === 'string' ? body : JSON.stringify(body));
  });
});
server.listen(0, '127.0.0.1', () => console.log(server.address().port));
