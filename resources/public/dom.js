// Tiny element builder. Text always goes through textContent and attributes,
// never through HTML parsing, so configuration text can never become markup.

export function h(tag, props = {}, ...children) {
  const el = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (value === undefined || value === null || value === false) continue;
    if (key === 'class') el.className = value;
    else if (key === 'text') el.textContent = value;
    else if (key === 'dataset') Object.assign(el.dataset, value);
    else if (key.startsWith('on')) el.addEventListener(key.slice(2), value);
    else if (key in el && typeof value !== 'string') el[key] = value;
    else el.setAttribute(key, value === true ? '' : String(value));
  }
  append(el, children);
  return el;
}

function append(el, children) {
  for (const child of children.flat()) {
    if (child === null || child === undefined || child === false) continue;
    el.append(child instanceof Node ? child : document.createTextNode(String(child)));
  }
}

export function $(selector, root = document) { return root.querySelector(selector); }

export function clear(el) { el.replaceChildren(); return el; }

/** Announces a short message in a toast region (role=status). */
export function toast(region, message, kind = 'info', ms = 3200) {
  const item = h('div', { class: 'toast toast-' + kind, text: message });
  region.append(item);
  requestAnimationFrame(() => item.classList.add('show'));
  setTimeout(() => {
    item.classList.remove('show');
    setTimeout(() => item.remove(), 300);
  }, ms);
}

export function str(value, fallback = '') {
  return typeof value === 'string' ? value : fallback;
}

/** Asks a yes/no question in a modal sheet; resolves true when confirmed. */
export function confirmDialog(title, text, action) {
  const dialog = h('dialog', { class: 'sheet', 'aria-labelledby': 'confirm-title' },
    h('form', { method: 'dialog' },
      h('h2', { id: 'confirm-title', class: 'sheet-title', text: title }),
      h('p', { class: 'sheet-text', text }),
      h('div', { class: 'btn-row' },
        h('button', { class: 'btn btn-quiet', value: 'cancel' }, 'Cancel'),
        h('button', { class: 'btn btn-danger', value: 'ok', id: 'confirm-ok' }, action))));
  document.body.append(dialog);
  dialog.showModal();
  return new Promise((resolve) => {
    dialog.addEventListener('close', () => { dialog.remove(); resolve(dialog.returnValue === 'ok'); }, { once: true });
  });
}
