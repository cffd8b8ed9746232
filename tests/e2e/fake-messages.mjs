// A stand-in for the Anthropic Messages API on loopback (prints the port the kernel chose). An
// intent that mentions "outage" gets 529; any other gets a plan of two steps.
import { createServer } from 'node:http';

const PLAN = { steps: [{ type: 'url', value: 'https://example.org/news', label: 'Open the news' },
  { type: 'app', value: 'Harbly Probe', label: 'Start the probe' }] };
const text = 'Here is the plan:\n```json\n' + JSON.stringify(PLAN) + '\n```';

const server = createServer((req, res) => {
  let raw = '';
  req.on('data', (chunk) => { raw += chunk; });
  req.on('end', () => {
    if (raw.includes('outage')) return res.writeHead(529, { 'content-type': 'text/plain' }).end('overloaded');
    res.writeHead(200, { 'content-type': 'application/json' })
      .end(JSON.stringify({ id: 'msg_e2e', type: 'message', role: 'assistant', content: [{ type: 'text', text }] }));
  });
});
server.listen(0, '127.0.0.1', () => console.log(server.address().port));
