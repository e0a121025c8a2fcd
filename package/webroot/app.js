// The module's page in a root manager's WebView. It runs root commands
// through the manager's bridge (window.ksu.exec), only the fixed commands of
// control.sh, with arguments it has checked itself: a key from its own list
// and a number it has written out again. Every text from the phone (process
// names above all, which apps choose) is shown as text, never as markup.
'use strict';

const MODULE = '/data/adb/modules/vmk';
const KEYS = ['cur_profile', 'ram.pr.swap_pages', 'ram.pr.threshold', 'ram.pr.task_min_adj', 'ram.pr.efficiency',
              'sched.dstune.mode'];
const PROFILES = { 0: 'load-driven', 1: 'fixed full speed', 2: 'fixed full speed', 3: 'fixed full speed and boost' };
const REFRESH_MS = 2000;

let calls = 0;
let status = null;
let refreshing = false;

const $ = (id) => document.getElementById(id);

function bridge() {
  return typeof window.ksu === 'object' && window.ksu !== null && typeof window.ksu.exec === 'function';
}

// One root command; resolves with { errno, stdout, stderr }.
function rootExec(command) {
  return new Promise((resolve) => {
    const name = `vmk_exec_${Date.now()}_${calls++}`;
    window[name] = (errno, stdout, stderr) => {
      delete window[name];
      resolve({ errno: Number(errno), stdout: String(stdout || ''), stderr: String(stderr || '') });
    };
    try {
      window.ksu.exec(command, JSON.stringify({}), name);
    } catch (e) {
      delete window[name];
      resolve({ errno: -1, stdout: '', stderr: String(e) });
    }
  });
}

function say(text, isError) {
  const m = $('message');
  m.textContent = text;
  m.className = 'card message' + (isError ? ' error' : '');
  m.hidden = !text;
}

function element(tag, text, className) {
  const e = document.createElement(tag);
  if (text !== undefined) e.textContent = text;
  if (className) e.className = className;
  return e;
}

// A value the page takes for a parameter: a whole number written plainly,
// within what vmkd's table allows. The text of the error, or '' when fine.
function checkValue(param, text) {
  if (text.length > 11 || !/^-?(0|[1-9][0-9]*)$/.test(text) || text === '-0') return 'Only a whole number, such as ' + param.default + '.';
  const value = Number(text);
  const allowed = (value >= param.low && value <= param.high) || (param.also !== undefined && value === param.also);
  if (!allowed) {
    return 'From ' + param.low + ' to ' + param.high + (param.also !== undefined ? ' or ' + param.also : '') + '.';
  }
  return '';
}

// showProblem: where a refused value's reason goes ('' clears it).
async function setParam(key, text, showProblem) {
  const param = status && status.params.find((p) => p.key === key);
  if (!KEYS.includes(key) || !param) return say('No such parameter.', true);
  const problem = checkValue(param, text);
  showProblem(problem);
  if (problem) return;
  // The command holds the key from the page's own list and the number written out again.
  const r = await rootExec(`sh ${MODULE}/control.sh set ${key} ${String(Number(text))}`);
  if (r.errno !== 0) return say((r.stderr || r.stdout || 'The write failed.').trim(), true);
  say(r.stdout.trim() + ' written.');
  refresh();
}

async function daemonAction(name, action) {
  if (!['vmkd', 'calmd'].includes(name) || !['start', 'stop'].includes(action)) return;
  const r = await rootExec(`sh ${MODULE}/control.sh ${action} ${name}`);
  say(r.errno === 0 ? (r.stdout.trim() || `${name}: ${action === 'start' ? 'started' : 'stopped'}.`)
                     : (r.stderr || 'Failed.').trim(), r.errno !== 0);
  refresh();
}

function showDaemon(name, d) {
  const state = $('daemon-' + name).querySelector('.state');
  state.textContent = d.running ? 'running (pid ' + d.pids.join(', ') + ')' : 'stopped';
  state.className = 'state ' + (d.running ? 'running' : 'stopped');
}

// The form is built once; later refreshes leave what the user is typing alone.
function showParams(params) {
  const form = $('params');
  if (form.childElementCount === 0) {
    for (const p of params) {
      if (!KEYS.includes(p.key)) continue;
      const row = element('div', undefined, 'param');
      const label = element('label', p.key);
      const input = element('input');
      input.id = 'param-' + p.key;
      label.htmlFor = input.id;
      input.inputMode = 'numeric';
      input.maxLength = 11;
      const save = element('button', 'Set');
      save.type = 'button';
      const error = element('div', '', 'error');
      const showProblem = (text) => {
        error.textContent = text;
      };
      save.addEventListener('click', () => setParam(p.key, input.value.trim(), showProblem));
      input.addEventListener('keydown', (e) => {
        if (e.key === 'Enter') {
          e.preventDefault();
          setParam(p.key, input.value.trim(), showProblem);
        }
      });
      row.append(label, input, save, element('div', p.meaning, 'meaning'), error);
      form.append(row);
    }
  }
  for (const p of params) {
    const input = $('param-' + p.key);
    if (input && document.activeElement !== input) input.value = p.present ? String(p.value) : String(p.default);
  }
  const profile = params.find((p) => p.key === 'cur_profile');
  const current = profile.present ? profile.value : profile.default;
  for (const b of document.querySelectorAll('#profiles button'))
    b.classList.toggle('chosen', Number(b.dataset.profile) === current);
}

function showLive(s) {
  const live = $('live');
  live.replaceChildren();
  const row = (name, value) => live.append(element('dt', name), element('dd', value));
  const profile = s.params.find((p) => p.key === 'cur_profile');
  const current = profile.present ? profile.value : profile.default;
  row('profile', current + ' (' + (PROFILES[current] || 'fixed full speed') + ')');
  if (s.load) {
    const l = s.load;
    row('load', `c=${l.c} g=${l.g} r=${l.r} w=${l.w} t=${l.t} L=${l.L === null ? '?' : l.L.toFixed(2)}`);
    row('band, rule', `band ${l.band}, ${l.reason}`);
    if (current !== 0) row('', 'a fixed profile: vmkd keeps the full setting');
  }
  row('policy0', `${s.limits.policy0.min} to ${s.limits.policy0.max} kHz`);
  row('policy4', `${s.limits.policy4.min} to ${s.limits.policy4.max} kHz`);
  row('focused app', s.focus === undefined ? '?' : s.focus || '(none)');
  const body = $('cpusets').tBodies[0];
  body.replaceChildren();
  for (const [group, cpus] of Object.entries(s.cpusets)) {
    const tr = element('tr');
    tr.append(element('td', group), element('td', cpus || '-'));
    body.append(tr);
  }
}

function showChanges(log) {
  const list = $('changes');
  list.replaceChildren();
  if (!log.read) {
    $('held').textContent = 'The kernel log cannot be read.';
    return;
  }
  $('held').textContent = `${log.held_down} process${log.held_down === 1 ? '' : 'es'} held down` +
      (log.last_pass_s >= 0 ? `; last pass ${log.last_pass_s.toFixed(0)} s ago` : '');
  if (log.changes.length === 0) list.append(element('li', 'none in the kernel log'));
  for (const c of log.changes) {
    const li = element('li');
    const age = c.age_s >= 0 ? `${c.age_s.toFixed(0)} s ago: ` : '';
    const what = c.kind === 'parent' ? '' : `: nice ${c.nice[0]} → ${c.nice[1]}, ${c.policy[0]} → ${c.policy[1]}`;
    li.append(element('span', `${age}${c.name} (${c.pid})${what}`), element('span', c.why, 'why'));
    list.append(li);
  }
}

async function refresh() {
  if (refreshing) return;
  refreshing = true;
  try {
    const r = await rootExec(`sh ${MODULE}/control.sh status`);
    if (r.errno !== 0) {
      say('The status could not be read: ' + (r.stderr || r.stdout || 'error ' + r.errno).trim(), true);
      return;
    }
    let s;
    try {
      s = JSON.parse(r.stdout);
    } catch (e) {
      say('The status could not be read: ' + e.message, true);
      return;
    }
    status = s;
    $('content').hidden = false;
    showDaemon('vmkd', s.vmkd);
    showDaemon('calmd', s.calmd);
    showParams(s.params);
    showLive(s);
    showChanges(s.calmd_log);
    $('updated').textContent = 'Updated ' + new Date().toLocaleTimeString();
  } finally {
    refreshing = false;
  }
}

function start() {
  if (!bridge()) {
    $('no-bridge').hidden = false;
    $('updated').textContent = 'No root bridge: nothing can be read';
    return;
  }
  for (const b of document.querySelectorAll('button[data-daemon]'))
    b.addEventListener('click', () => daemonAction(b.dataset.daemon, b.dataset.action));
  for (const b of document.querySelectorAll('#profiles button'))
    b.addEventListener('click', () => setParam('cur_profile', b.dataset.profile, (text) => text && say(text, true)));
  refresh();
  setInterval(refresh, REFRESH_MS);
}

start();
