// What a tile or step is, shared by the phone app and the Control Panel.
import { str } from './dom.js';

export const TILE_TYPES = ['app', 'url', 'shortcut', 'gesture', 'flow'];
export const STEP_TYPES = ['app', 'url', 'shortcut', 'gesture'];

const TYPE_EMOJI = { app: '📦', url: '🌐', shortcut: '⚙️', gesture: '👆', flow: '⚡' };
const TYPE_NAME = { app: 'App', url: 'Website', shortcut: 'Shortcut', gesture: 'Gesture', flow: 'Flow' };

/** Gestures that end the user's session or lock them out: asked for confirmation. */
const DESTRUCTIVE_GESTURES = new Set(['lock_screen']);

export function typeName(type) { return TYPE_NAME[type] || 'Tile'; }

export function tileEmoji(tile) {
  return str(tile.emoji) || TYPE_EMOJI[tile.type] || '▫️';
}

export function tileLabel(tile) {
  const label = str(tile.label);
  if (label) return label;
  const value = str(tile.value);
  if (tile.type === 'url') return hostOf(value) || value;
  if (tile.type === 'flow') return 'Flow';
  return value;
}

export function hostOf(url) {
  try { return new URL(url).hostname.replace(/^www\./, ''); } catch { return ''; }
}

export function isDestructive(tile) {
  return tile.type === 'gesture' && DESTRUCTIVE_GESTURES.has(str(tile.value));
}

/** The API call a tile makes when tapped: [endpoint, body]. */
export function tileRequest(tile) {
  const value = str(tile.value);
  switch (tile.type) {
    case 'app': return ['launch', { app: value }];
    case 'url': return ['url', { url: value }];
    case 'shortcut': return ['shortcut', { name: value }];
    case 'gesture': return ['gesture', { value }];
    case 'flow': return ['run-plan', { steps: Array.isArray(tile.steps) ? tile.steps : [] }];
    default: return null;
  }
}

/** The pages of a configuration document that can be shown (objects with a tile array). */
export function pagesOf(config) {
  const pages = config && Array.isArray(config.pages) ? config.pages : [];
  return pages.filter((p) => p && typeof p === 'object').map((page) => ({
    page,
    name: str(page.name, 'Page'),
    icon: str(page.icon),
    tiles: Array.isArray(page.tiles) ? page.tiles.filter((t) => t && typeof t === 'object') : [],
  }));
}

export const SETTING_LIMITS = { columns: [1, 8], iconScale: [0.6, 1.6] };

/** Display settings with the documented defaults, bounded so a bad value cannot break the layout. */
export function displaySettings(config) {
  const s = config && config.settings && typeof config.settings === 'object' ? config.settings : {};
  const num = (v, d) => (typeof v === 'number' && Number.isFinite(v) ? v : d);
  const clamp = (v, [lo, hi]) => Math.min(hi, Math.max(lo, v));
  return {
    columns: Math.round(clamp(num(s.columns, 4), SETTING_LIMITS.columns)),
    iconScale: clamp(num(s.iconScale, 1.12), SETTING_LIMITS.iconScale),
    labels: typeof s.labels === 'boolean' ? s.labels : true,
  };
}

export function stepText(step) {
  return str(step.label) || str(step.value);
}
