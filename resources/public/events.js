// Keeps "api/events" open and calls back on "reload". Reconnects by itself after
// network loss or device sleep: EventSource retries transient errors, we reopen it
// when it gives up, and we reopen it whenever the page comes back to the foreground
// or the network returns (a stream silently cut during sleep would otherwise look open).
// Where no stream can be had at all (the relay answers it with 204), it stops retrying
// and catches up each time the page comes back instead.

const MAX_BACKOFF_MS = 30000;
const MAX_FAILED_OPENS = 3;

/** onState receives 'on', 'lost' (retrying) or 'idle' (no live updates on this path). */
export function watchEvents({ onReload, onResync, onState = () => {}, onMedia = () => {} }) {
  let source = null;
  let backoff = 1000;
  let retryTimer = 0;
  let hadError = false;
  let failedOpens = 0;

  function open() {
    clearTimeout(retryTimer);
    if (source) source.close();
    const stream = new EventSource('api/events');
    source = stream;
    let opened = false;
    stream.addEventListener('open', () => {
      opened = true;
      backoff = 1000;
      failedOpens = 0;
      onState('on');
      // Anything may have changed while we were away.
      if (hadError) onResync();
      hadError = false;
    });
    stream.addEventListener('reload', () => onReload());
    stream.addEventListener('media', (e) => {
      let state = null;
      try { state = JSON.parse(e.data); } catch { return; }
      if (state && typeof state === 'object') onMedia(state);
    });
    stream.addEventListener('error', () => {
      if (stream !== source) return;
      hadError = true;
      if (stream.readyState !== EventSource.CLOSED) return onState('lost');
      if (!opened) failedOpens++;
      if (failedOpens >= MAX_FAILED_OPENS) return onState('idle');
      onState('lost');
      schedule();
    });
  }

  function schedule() {
    clearTimeout(retryTimer);
    retryTimer = setTimeout(open, backoff);
    backoff = Math.min(backoff * 2, MAX_BACKOFF_MS);
  }

  function resume() {
    if (document.visibilityState !== 'visible') return;
    hadError = true;
    backoff = 1000;
    failedOpens = 0;
    onResync();
    open();
  }

  document.addEventListener('visibilitychange', resume);
  window.addEventListener('online', resume);
  window.addEventListener('pageshow', (e) => { if (e.persisted) resume(); });
  // Offline, the stream is dead even if the socket has not noticed yet; 'online' reopens it.
  window.addEventListener('offline', () => {
    clearTimeout(retryTimer);
    if (source) source.close();
    hadError = true;
    onState('lost');
  });
  open();
  return { close() { clearTimeout(retryTimer); if (source) source.close(); source = null; } };
}
