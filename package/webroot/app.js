// The module's page in a root manager's WebView. It runs root commands
// through the manager's bridge (window.ksu.exec), only the fixed commands of
// control.sh, with arguments it has checked itself: a key from its own list
// and a number it has written out again. Every text from the phone (process
// names above all, which apps choose) is shown as text, never as markup, with
// its controls visible and in a direction context of its own.
// Managers run exec while the page waits and answer by running script in the
// page, so every call has a time-out, and a reply that comes late, twice or
// not as JSON is told and left alone.
'use strict';

const MODULE = '/data/adb/modules/vmk';
const KEYS = ['cur_profile', 'ram.pr.swap_pages', 'ram.pr.threshold', 'ram.pr.task_min_adj', 'ram.pr.efficiency',
              'sched.dstune.mode'];
const PROFILES = { 0: 'load-driven', 1: 'fixed full speed', 2: 'fixed full speed', 3: 'fixed full speed and boost' };
const REFRESH_MS = 2000;
const EXEC_TIMEOUT_MS = 10000;
const FOCUS_ASKED_MS = 30000;  // how long the answer of an asked dumpsys is shown

let calls = 0;
let refreshes = 0;
let status = null;
let askedFocus = null;  // { name, time } of the last dumpsys the user asked for
let counters = null;    // { text, time }: the CPU counters of the last status, for the load since then
let refreshing = false;
const pending = {};  // daemon name: { running: the state asked for, until: time }

const $ = (id) => document.getElementById(id);

function bridge() {
  return typeof window.ksu === 'object' && window.ksu !== null && typeof window.ksu.exec === 'function';
}

// One root command; resolves with { errno, stdout, stderr }, at the latest
// after EXEC_TIMEOUT_MS. The callback stays a while after its answer, so that
// a second or late reply is told, not thrown into the manager's script.
function rootExec(command) {
  return new Promise((resolve) => {
    const name = `vmk_exec_${Date.now()}_${calls++}`;
    let done = false;
    const finish = (result) => {
      if (done) return;
      done = true;
      clearTimeout(timer);
      window[name] = () => say('A reply to a finished command came and was left alone.', true);
      setTimeout(() => delete window[name], 60000);
      resolve(result);
    };
    const timer = setTimeout(
        () => finish({ errno: -1, stdout: '', stderr: `No reply from the root manager within ${EXEC_TIMEOUT_MS / 1000} s.` }),
        EXEC_TIMEOUT_MS);
    window[name] = (errno, stdout, stderr) =>
      finish({ errno: Number(errno), stdout: String(stdout ?? ''), stderr: String(stderr ?? '') });
    try {
      window.ksu.exec(command, JSON.stringify({}), name);
    } catch (e) {
      finish({ errno: -1, stdout: '', stderr: String(e) });
    }
  });
}

// An app's text as the page shows it: controls, separators and the
// characters that reorder text (Unicode's Bidi_Control) as visible \uXXXX.
const HIDDEN = /[\p{Cc}\p{Bidi_Control}\u2028\u2029]/gu;
function shownText(text) {
  return String(text).replace(HIDDEN, (c) => '\\u' + c.codePointAt(0).toString(16).toUpperCase().padStart(4, '0'));
}

// A text from the phone, isolated from its neighbours' direction.
function named(text, className) {
  return element('bdi', shownText(text), className);
}

// An error keeps its time: the refreshes after it may have gone well.
function say(text, isError) {
  const m = $('message');
  m.textContent = isError && text ? `${new Date().toLocaleTimeString()}: ${text}` : text;
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

// Returns at once; a refresh shows whether it runs. Its buttons wait until
// one does (5 s at most), so that a second press cannot start a second vmkd.
async function daemonAction(name, action) {
  if (!['vmkd', 'calmd'].includes(name) || !['start', 'stop'].includes(action)) return;
  pending[name] = { running: action === 'start', until: Date.now() + 5000 };
  for (const b of document.querySelectorAll(`#daemon-${name} button`)) b.disabled = true;
  const r = await rootExec(`sh ${MODULE}/control.sh ${action} ${name}`);
  say(r.errno === 0 ? (r.stdout.trim() || `${name}: ${action === 'start' ? 'starting' : 'stopped'}.`)
                     : (r.stderr || 'Failed.').trim(), r.errno !== 0);
  refresh();
}

// The one dumpsys the page runs, when the user asks.
// The counters of the last status, checked again, as the command's argument.
function since() {
  return counters && /^[0-9]{1,20}(,[0-9]{1,20}){4}$/.test(counters.text) ? ' ' + counters.text : '';
}

async function askFocus() {
  const r = await rootExec(`sh ${MODULE}/control.sh focus${since()}`);
  const s = parseStatus(r);
  if (!s) return;
  askedFocus = { name: s.focus === undefined ? null : s.focus, time: Date.now() };
  showStatus(s);
}

function showDaemon(name, d) {
  const p = pending[name];
  if (p && (p.running === d.running || Date.now() > p.until)) delete pending[name];
  for (const b of document.querySelectorAll(`#daemon-${name} button`)) b.disabled = name in pending;
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
    const over = l.since_earlier && counters ? `over ${((Date.now() - counters.time) / 1000).toFixed(1)} s` : 'over 100 ms';
    if (typeof l.counters === 'string') counters = { text: l.counters, time: Date.now() };
    row('load ' + over, `c=${l.c} g=${l.g} r=${l.r} w=${l.w} t=${l.t} L=${l.L === null ? '?' : l.L.toFixed(2)}`);
    row('band, rule', `band ${l.band}, ${l.reason}`);
    if (current !== 0) row('', 'a fixed profile: vmkd keeps the full setting');
  }
  for (const policy of ['policy0', 'policy4']) {
    const limits = element('dd', `${s.limits[policy].min} to ${s.limits[policy].max} kHz`);
    const whose = s.whose ? s.whose.limits[policy] : {};
    for (const end of ['min', 'max']) {
      if (whose[end] === 'another') limits.append(element('span', ` ${end} set by another writer`, 'flagged'));
    }
    live.append(element('dt', policy), limits);
  }
  const focus = element('dd');
  if (askedFocus && askedFocus.name !== null && Date.now() - askedFocus.time < FOCUS_ASKED_MS) {
    focus.append(askedFocus.name ? named(askedFocus.name) : '(none)',
                 element('span', ` (asked of Android ${Math.round((Date.now() - askedFocus.time) / 1000)} s ago)`, 'muted'));
  } else if (s.focus_hold) {
    focus.append(named(s.focus_hold.name), ` (${s.focus_hold.pid})`,
                 element('span', ` as calmd last held it${s.focus_hold.age_s >= 0 ? ', ' + s.focus_hold.age_s.toFixed(0) + ' s ago' : ''}`, 'muted'));
  } else {
    focus.append(element('span', 'not in calmd\'s log', 'muted'));
  }
  live.append(element('dt', 'focused app'), focus);
  const body = $('cpusets').tBodies[0];
  body.replaceChildren();
  for (const [group, cpus] of Object.entries(s.cpusets)) {
    const tr = element('tr');
    const whose = s.whose ? s.whose.cpusets[group] : null;
    tr.append(element('td', shownText(group)), element('td', shownText(cpus || '-')),
              element('td', WHOSE[whose] || '', whose === 'another' ? 'flagged' : 'muted'));
    body.append(tr);
  }
  showWriters(s);
}

// Whose a value is, by vmkd's own table.
const WHOSE = { vmkd: 'vmkd\'s', another: 'set by another writer', not_vmkd: 'not vmkd\'s' };

// The running programs known to write such files, when a value is another writer's.
function showWriters(s) {
  const p = $('writers');
  p.replaceChildren();
  p.hidden = !s.whose || !Array.isArray(s.whose.writers);
  if (p.hidden) return;
  const writers = s.whose.writers;
  if (writers.length === 0) {
    p.append('Another writer changed what vmkd set; no program known to write such files runs.');
    return;
  }
  p.append('Another writer changed what vmkd set. Running, and known to write such files: ');
  writers.forEach((w, i) => p.append(i > 0 ? ', ' : '', named(w.program), ` (pid ${w.pid}, ${w.kind})`));
  if (s.whose.writer_count > writers.length) p.append(` and ${s.whose.writer_count - writers.length} more`);
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
    li.append(element('span', age, 'age'), named(c.name, 'name'), element('span', ` (${c.pid})`, 'pid'),
              element('span', what, 'what'), element('bdi', shownText(c.why), 'why'));
    list.append(li);
  }
}

// The chart of the last minutes, from the statuses the page shows anyway: no
// command of its own. A fixed number of points (five minutes of refreshes);
// only numbers reach it, and its few texts are set as text.
const CHART_MS = 5 * 60 * 1000;
const CHART_POINTS = CHART_MS / REFRESH_MS;
const CHART_GAP_MS = 5 * REFRESH_MS;  // a longer gap between two points breaks the lines
const SVG = 'http://www.w3.org/2000/svg';
const chartPoints = [];  // { t, load, band, policy0, policy4, held }, oldest first; null where the status had no value

// A number of the status for the chart, or null.
function chartNumber(v, scale = 1) {
  return typeof v === 'number' && Number.isFinite(v) && v >= 0 ? v / scale : null;
}

function keepPoint(s) {
  const l = s.load || {};
  const limits = s.limits || {};
  const log = s.calmd_log || {};
  chartPoints.push({
    t: Date.now(), load: chartNumber(l.c), band: chartNumber(l.band),
    // kHz to MHz; a limit that could not be read is -1.
    policy0: limits.policy0 && limits.policy0.max > 0 ? chartNumber(limits.policy0.max, 1000) : null,
    policy4: limits.policy4 && limits.policy4.max > 0 ? chartNumber(limits.policy4.max, 1000) : null,
    held: log.read ? chartNumber(log.held_down) : null,
  });
  const newest = chartPoints[chartPoints.length - 1].t;
  while (chartPoints.length > CHART_POINTS || newest - chartPoints[0].t > CHART_MS) chartPoints.shift();
}

function shape(parent, tag, attributes, text) {
  const e = document.createElementNS(SVG, tag);
  for (const [name, v] of Object.entries(attributes)) e.setAttribute(name, String(v));
  if (text !== undefined) e.textContent = text;
  parent.append(e);
  return e;
}

// The top of a scale: the highest value rounded up to a step, at least one step.
function scaleTop(keys, step) {
  let top = step;
  for (const p of chartPoints) for (const k of keys) if (p[k] !== null && p[k] > top) top = p[k];
  return Math.ceil(top / step) * step;
}

function showChart(s) {
  keepPoint(s);
  const svg = $('chart');
  svg.replaceChildren();
  const left = 38, right = 346, width = right - left;
  const newest = chartPoints[chartPoints.length - 1].t;
  const x = (t) => left + width * (1 - (newest - t) / CHART_MS);
  const last = chartPoints[chartPoints.length - 1];
  const shown = (v, unit) => (v === null ? '-' : Math.round(v) + unit);
  // Panels from the top, each with a legend line above it but the band's,
  // which sits under the load's and shares its legend.
  const panels = [
    { name: 'load', top: 100, unit: '%', height: 56, lines: ['load'], legend: [
      { key: 'load', text: 'CPU load ' + shown(last.load, ' %') },
      { key: 'band', text: 'band ' + shown(last.band, ' of 8') }] },
    { name: 'band', top: 8, unit: '', height: 28, lines: ['band'] },
    { name: 'limits', top: scaleTop(['policy0', 'policy4'], 500), unit: 'MHz', height: 56,
      lines: ['policy4', 'policy0'], legend: [
      { key: 'policy0', text: 'policy0 max ' + shown(last.policy0, ' MHz') },
      { key: 'policy4', text: 'policy4 max ' + shown(last.policy4, ' MHz') }] },
    { name: 'held', top: scaleTop(['held'], 4), unit: '', height: 40, lines: ['held'], legend: [
      { key: 'held', text: 'held down by calmd: ' + shown(last.held, '') }] },
  ];
  let top = 0, bottom = -10;  // the first legend line at the very top
  for (const panel of panels) {
    top = bottom + (panel.legend ? 28 : 4);
    bottom = top + panel.height;
    for (const [i, entry] of (panel.legend || []).entries()) {
      shape(svg, 'rect', { class: 'key ' + entry.key, x: i * 176, y: top - 13, width: 10, height: 4 });
      shape(svg, 'text', { x: i * 176 + 14, y: top - 7 }, entry.text);
    }
    shape(svg, 'rect', { class: 'frame', 'data-panel': panel.name, x: left, y: top, width, height: panel.height });
    for (let minute = 1; minute < 5; minute++) {
      const gx = left + width * (1 - minute / 5);
      shape(svg, 'line', { class: 'grid', x1: gx, y1: top, x2: gx, y2: bottom });
    }
    shape(svg, 'text', { class: 'axis top', 'data-panel': panel.name, x: left - 4, y: top + 9, 'text-anchor': 'end' },
          String(panel.top));
    if (panel.unit) shape(svg, 'text', { class: 'axis', x: left - 4, y: top + 20, 'text-anchor': 'end' }, panel.unit);
    shape(svg, 'text', { class: 'axis', x: left - 4, y: bottom, 'text-anchor': 'end' }, '0');
    for (const key of panel.lines) {
      // Lines break where a value is missing or the page was not refreshing.
      let run = [], before = null;
      const draw = () => {
        // A lone point is drawn as a dot: the same point twice, with round caps.
        if (run.length === 1) run.push(run[0]);
        if (run.length) shape(svg, 'polyline', { class: key, 'data-panel': panel.name, points: run.join(' ') });
        run = [];
      };
      for (const p of chartPoints) {
        if (p[key] === null || (before && p.t - before.t > CHART_GAP_MS)) draw();
        if (p[key] !== null)
          run.push(x(p.t).toFixed(1) + ',' + (bottom - panel.height * Math.min(p[key], panel.top) / panel.top).toFixed(1));
        before = p;
      }
      draw();
    }
  }
  for (let minute = 5; minute >= 0; minute--) {
    shape(svg, 'text', { class: 'axis', x: left + width * (1 - minute / 5), y: bottom + 14,
                         'text-anchor': minute === 5 ? 'start' : minute === 0 ? 'end' : 'middle' },
          minute === 0 ? 'now' : '\u2212' + minute + (minute === 5 ? ' min' : ''));
  }
}

// The status of a reply, or null with the reason on the page.
function parseStatus(r) {
  if (r.errno !== 0) {
    say('The status could not be read: ' + shownText((r.stderr || r.stdout || 'error ' + r.errno).trim()), true);
    return null;
  }
  try {
    const s = JSON.parse(r.stdout);
    if (typeof s !== 'object' || s === null || !Array.isArray(s.params) || typeof s.calmd_log !== 'object')
      throw new Error('not the status');
    return s;
  } catch (e) {
    say('The status could not be read: ' + e.message, true);
    return null;
  }
}

function showStatus(s) {
  try {
    status = s;
    $('content').hidden = false;
    showDaemon('vmkd', s.vmkd);
    showDaemon('calmd', s.calmd);
    showParams(s.params);
    showLive(s);
    showChanges(s.calmd_log);
    $('updated').textContent = 'Updated ' + new Date().toLocaleTimeString();
    showChart(s);
  } catch (e) {
    say('The status could not be shown: ' + e.message, true);
  }
}

async function refresh() {
  if (refreshing) return;
  refreshing = true;
  try {
    const s = parseStatus(await rootExec(`sh ${MODULE}/control.sh status${since()}`));
    if (s) showStatus(s);
  } finally {
    refreshing = false;
    document.body.dataset.refreshes = String(++refreshes);
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
  $('ask-focus').addEventListener('click', askFocus);
  for (const b of document.querySelectorAll('#profiles button'))
    b.addEventListener('click', () => setParam('cur_profile', b.dataset.profile, (text) => text && say(text, true)));
  refresh();
  setInterval(refresh, REFRESH_MS);
}

start();
