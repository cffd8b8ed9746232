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
