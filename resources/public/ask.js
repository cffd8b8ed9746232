// Ask: a sentence goes to the planner; the proposed steps are shown for review and
// then run at once or saved as a flow.
import { post } from './api.js';
import { $, h } from './dom.js';
import { stepText, tileEmoji, typeName } from './tiles.js';

const PLANNER_MESSAGES = {
  no_key: 'Ask isn’t set up on this computer yet: it needs an Anthropic API key.',
  plan_failed: 'Couldn’t reach the planner. Check the computer’s internet connection and try again.',
  parse_failed: 'The planner’s answer didn’t make sense. Try saying it another way.',
};
const MAX_FLOW_NAME = 40;

export function plannerMessage(code) {
  return PLANNER_MESSAGES[code] || (typeof code === 'string' && code) || 'Planning failed. Try again.';
}

export function createAsk({ notify }) {
  const form = $('#ask-form');
  const input = $('#ask-input');
  const message = $('#ask-message');
  const plan = $('#plan');
  const list = $('#plan-steps');
  const saveForm = $('#save-flow');
  let steps = [];

  function say(text, kind = '') {
    message.textContent = text;
    message.dataset.kind = kind;
  }

  function renderSteps() {
    list.replaceChildren(...steps.map((step, i) => h('li', { class: 'step' },
      h('span', { class: 'step-emoji', 'aria-hidden': 'true', text: tileEmoji({ type: step.type }) }),
      h('span', { class: 'step-body' },
        h('span', { class: 'step-text', text: stepText(step) }),
        h('span', { class: 'step-type', text: typeName(step.type) + (step.label && step.value ? ' · ' + step.value : '') })),
      h('button', { type: 'button', class: 'icon-btn step-remove', 'aria-label': 'Remove step ' + (i + 1), onclick: () => { steps.splice(i, 1); renderSteps(); } }, '✕'))));
    plan.hidden = steps.length === 0;
    if (steps.length === 0) saveForm.hidden = true;
  }

  form.addEventListener('submit', async (e) => {
    e.preventDefault();
    const intent = input.value.trim();
    if (!intent) return;
    const button = $('#ask-btn');
    button.disabled = true;
    button.classList.add('busy');
    steps = [];
    renderSteps();
    say('Thinking…', 'busy');
    const answer = await post('plan', { intent });
    button.disabled = false;
    button.classList.remove('busy');
    if (!answer.ok) return say(plannerMessage(answer.error), 'error');
    steps = Array.isArray(answer.steps) ? answer.steps.filter((s) => s && typeof s === 'object') : [];
    say(steps.length ? '' : 'Nothing on this computer matches that. Try naming an app or website.', steps.length ? '' : 'info');
    $('#flow-name').value = intent.slice(0, MAX_FLOW_NAME);
    renderSteps();
  });

  $('#run-plan').addEventListener('click', async (e) => {
    const button = e.currentTarget;
    button.disabled = true;
    button.classList.add('busy');
    const answer = await post('run-plan', { steps });
    button.disabled = false;
    button.classList.remove('busy');
    if (answer.ok) notify('Done: ' + answer.ran + (answer.ran === 1 ? ' step.' : ' steps.'), 'ok');
    else notify(answer.error || 'Couldn’t run the steps.', 'error');
  });

  $('#save-plan').addEventListener('click', () => {
    saveForm.hidden = false;
    $('#flow-name').focus();
  });

  saveForm.addEventListener('submit', async (e) => {
    e.preventDefault();
    const label = $('#flow-name').value.trim();
    if (!label) return;
    const answer = await post('flows', { label, emoji: '⚡', steps });
    if (!answer.ok) return notify(answer.error || 'Couldn’t save the flow.', 'error');
    saveForm.hidden = true;
    notify('Saved “' + label + '” to Flows.', 'ok');
  });
}
