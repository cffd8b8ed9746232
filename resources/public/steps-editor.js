// Editor for a list of steps ({"type","value","label"}), used for flow tiles and new flows.
import { h } from './dom.js';
import { STEP_TYPES, typeName } from './tiles.js';

/** Renders into `root`; `catalogue` = { apps, shortcuts, gestures }. */
export function createStepsEditor(root, catalogue, initial = []) {
  let steps = initial.map((s) => ({ ...s }));

  function valueField(step, i) {
    const name = 'Step ' + (i + 1) + ' value';
    const set = (e) => { step.value = e.target.value; };
    if (step.type === 'url') {
      return h('input', { type: 'url', value: step.value || '', placeholder: 'https://…', 'aria-label': name, oninput: set });
    }
    const options = step.type === 'app' ? catalogue.apps.map((a) => [a, a])
      : step.type === 'shortcut' ? catalogue.shortcuts.map((s) => [s, s])
        : catalogue.gestures.map((g) => [g.value, g.label]);
    if (step.value && !options.some(([v]) => v === step.value)) options.unshift([step.value, step.value]);
    if (!step.value && options.length) step.value = options[0][0];
    return h('select', { 'aria-label': name, onchange: set },
      options.map(([v, label]) => h('option', { value: v, selected: v === step.value }, label)));
  }

  function render() {
    root.replaceChildren(
      h('p', { class: 'small muted steps-title', text: 'Steps, run in order' }),
      h('ol', { class: 'step-list' }, steps.map((step, i) => h('li', { class: 'step-row' },
        h('select', {
          'aria-label': 'Step ' + (i + 1) + ' type',
          onchange: (e) => { step.type = e.target.value; step.value = ''; render(); },
        }, STEP_TYPES.map((t) => h('option', { value: t, selected: t === step.type }, typeName(t)))),
        valueField(step, i),
        h('button', { type: 'button', class: 'icon-btn', 'aria-label': 'Move step ' + (i + 1) + ' up', disabled: i === 0, onclick: () => move(i, -1) }, '↑'),
        h('button', { type: 'button', class: 'icon-btn danger', 'aria-label': 'Remove step ' + (i + 1), onclick: () => { steps.splice(i, 1); render(); } }, '✕')))),
      h('button', { type: 'button', class: 'btn btn-small', onclick: add }, '+ Add step'));
  }

  function move(i, delta) {
    const [step] = steps.splice(i, 1);
    steps.splice(i + delta, 0, step);
    render();
  }

  function add() {
    steps.push({ type: 'app', value: '' });
    render();
    root.querySelector('.step-row:last-child select').focus();
  }

  render();
  return {
    /** The steps, or an error message when one is incomplete. */
    read() {
      if (steps.length === 0) return { error: 'Add at least one step.' };
      for (const [i, s] of steps.entries()) {
        if (!s.value) return { error: 'Step ' + (i + 1) + ' needs a value.' };
        if (s.type === 'url' && !/^https?:\/\/\S+$/i.test(s.value)) return { error: 'Step ' + (i + 1) + ': enter a full http:// or https:// address.' };
      }
      return { steps: steps.map((s) => ({ ...s })) };
    },
  };
}
