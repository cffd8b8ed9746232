// Keeps "api/events" open and calls back on "reload". Reconnects by itself after
// network loss or device sleep: EventSource retries transient errors, we reopen it
// when it gives up, and we reopen it whenever the page comes back to the foreground
// or the network returns (a stream silently cut during sleep would otherwise look open).

const MAX_BACKOFF_MS = 30000;

export function watchEvents({ onReload, onResync, onState = () => {} }) {
  let source = null;
  let backoff = 1000;
  let retryTimer = 0;
  let hadError = false;

  function open() {
    clearTimeout(retryTimer);
    if (source) source.close();
    source = new EventSource('api/events');
    source.addEventListener('open', () => {
      backoff = 1000;
      onState(true);
      // Anything may have changed while we were away.
      if (hadError) onResync();
      hadError = false;
    });
    source.addEventListener('reload', () => onReload());
    source.addEventListener('error', () => {
      hadError = true;
      onState(false);
      if (source.readyState === EventSource.CLOSED) schedule();
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
    open();
  }

  document.addEventListener('visibilitychange', resume);
  window.addEventListener('online', resume);
  // Offline, the stream is dead even if the socket has not noticed yet; 'online' reopens it.
  window.addEventListener('offline', () => {
    clearTimeout(retryTimer);
    if (source) source.close();
    hadError = true;
    onState(false);
  });
  window.addEventListener('pageshow', (e) => { if (e.persisted) resume(); });
  open();
  return { close() { clearTimeout(retryTimer); if (source) source.close(); } };
}
