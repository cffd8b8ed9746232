// Flows: the flow tiles on the pages named "Flows"; removed with "DELETE api/flows" and
// created from steps with "POST api/flows". Both change the stored document, so they
// wait until the editor has no unsaved changes.
import { post, request } from './api.js';
import { $, h, str } from './dom.js';
import { createStepsEditor } from './steps-editor.js';
import { stepText } from './tiles.js';

export function createFlows({ work, catalogue, dirty, notify }) {
  let steps = null;

  function list() {
    const pages = Array.isArray(work().pages) ? work().pages : [];
    return pages.filter((p) => p && p.name === 'Flows' && Array.isArray(p.tiles))
      .flatMap((p) => p.tiles.filter((t) => t && t.type === 'flow'));
  }

  function render() {
    const flows = list();
    const blocked = dirty();
    $('#flow-list').replaceChildren(...flows.map((flow) => h('li', { class: 'flow-item' },
      h('span', { class: 'flow-emoji', 'aria-hidden': 'true', text: str(flow.emoji, '⚡') }),
      h('span', { class: 'flow-body' },
        h('span', { class: 'flow-name', text: str(flow.label, 'Flow') }),
        h('span', { class: 'flow-steps small muted', text: (Array.isArray(flow.steps) ? flow.steps : []).map((s) => (s && typeof s === 'object' ? stepText(s) : '')).join(' → ') })),
      h('button', { type: 'button', class: 'icon-btn danger', disabled: blocked, 'aria-label': 'Remove flow ' + str(flow.label, 'Flow'), onclick: () => remove(str(flow.label)) }, '✕'))));
    $('#new-flow').disabled = blocked;
    $('#flows-note').textContent = blocked ? 'Save or discard your edits to change flows.'
      : flows.length ? '' : 'No flows yet. Create one here, or save one from Ask on the phone.';
  }

  async function remove(label) {
    const { data } = await request('flows', { method: 'DELETE', body: { label }, auth: false });
    if (data.ok) notify('Removed “' + label + '”.', 'ok');
    else notify(data.error || 'Couldn’t remove the flow.', 'error');
  }

  $('#new-flow').addEventListener('click', () => {
    $('#flow-label').value = '';
    $('#flow-emoji').value = '';
    $('#flow-msg').textContent = '';
    steps = createStepsEditor($('#flow-steps'), catalogue(), [{ type: 'app', value: '' }]);
    $('#flow-dialog').showModal();
  });
  $('#flow-cancel').addEventListener('click', () => $('#flow-dialog').close());
  $('#flow-form').addEventListener('submit', async (e) => {
    e.preventDefault();
    const label = $('#flow-label').value.trim();
    const result = steps.read();
    const msg = $('#flow-msg');
    if (!label) { msg.textContent = 'Give the flow a name.'; return; }
    if (result.error) { msg.textContent = result.error; return; }
    const answer = await post('flows', { label, emoji: $('#flow-emoji').value.trim() || '⚡', steps: result.steps }, { auth: false });
    if (!answer.ok) { msg.textContent = answer.error || 'Couldn’t create the flow.'; return; }
    $('#flow-dialog').close();
    notify('Created “' + label + '”. It is on the Flows page.', 'ok');
  });

  return { render };
}
