// The module's WebUI in headless Chromium, as a user meets it: against a
// stand-in for a root manager's bridge whose exec runs each command in the
// device sandbox with the real binaries (tests/webui/bridge.cpp), and with
// no bridge at all. Saves screenshots to the output folder.
//   node webui_test.mjs BRIDGE OUT
import { spawn } from 'node:child_process';
import { mkdirSync } from 'node:fs';
import { createRequire } from 'node:module';

const require = createRequire(process.env.VMK_NODE_MODULES + '/resolve.js');
const { chromium } = require('playwright-core');

const [bridgePath, out] = process.argv.slice(2);
mkdirSync(out, { recursive: true });
let failures = 0;
function check(ok, what) {
  console.log(`${ok ? 'ok  ' : 'FAIL'} ${what}`);
  if (!ok) failures++;
}

// The bridge: started in its sandbox, its port and token from its first line.
const bridge = spawn(bridgePath, ['--seconds', '240'], { stdio: ['ignore', 'pipe', 'inherit'] });
const [port, token] = await new Promise((resolve, reject) => {
  let text = '';
  bridge.stdout.on('data', (d) => {
    text += d;
    const m = /port (\d+) token ([0-9a-f]+)\n/.exec(text);
    if (m) resolve([Number(m[1]), m[2]]);
  });
  bridge.on('exit', (code) => reject(new Error('the bridge ended with ' + code)));
  setTimeout(() => reject(new Error('the bridge did not start')), 60000);
});
const base = `http://127.0.0.1:${port}`;
// What a command gives in the sandbox, asked as the page asks.
async function sh(command) {
  const r = await fetch(base + '/exec', { method: 'POST', body: command, headers: { 'X-Bridge-Token': token } });
  return (await r.json()).stdout;
}
async function post(path, body) {
  return (await fetch(base + path, { method: 'POST', body, headers: { 'X-Bridge-Token': token } })).text();
}

// What the chart draws, read back in the page: per series the number of
// points of its lines and their values on the panel's scale (the band has
// a scale of its own: its values are left out), oldest first; the page's
// refresh count and shown held-down count with them.
const readChart = () => {
  const series = {};
  for (const line of document.querySelectorAll('#chart polyline')) {
    const panel = line.dataset.panel;
    const frame = document.querySelector(`#chart rect.frame[data-panel="${panel}"]`);
    const top = Number(document.querySelector(`#chart text.top[data-panel="${panel}"]`).textContent);
    const y0 = Number(frame.getAttribute('y')), height = Number(frame.getAttribute('height'));
    const s = series[line.classList[0]] ??= { points: 0, values: [], perUnit: top / height };
    for (const point of line.getAttribute('points').split(' ')) {
      s.points++;
      s.values.push(top * (y0 + height - Number(point.split(',')[1])) / height);
    }
  }
  const held = /^(\d+) process/.exec(document.querySelector('#held').textContent);
  return { series, refreshes: Number(document.body.dataset.refreshes), held: held ? Number(held[1]) : null };
};

// The root manager's bridge, exec(command, options, callback name), as each
// manager delivers the reply (their WebViewInterface.kt, exec):
// - 'url': KernelSU and APatch, and KernelSU Next before its move:
//   webView.loadUrl("javascript: (function() { try { CB(code, " +
//   JSONObject.quote(stdout) + ", " + JSONObject.quote(stderr) + "); } catch(e)
//   { console.error(e); } })();"). The browser parses that URL and
//   percent-decodes it before it runs it; a navigation to the same URL here.
// - 'eval': KernelSU Next since its move, and MMRL's WebUI X: the same script,
//   without "javascript: ", through webView.evaluateJavascript.
// Both run the command while the page waits (a synchronous request here), read
// its output with libsu (BufferedReader.readLine as UTF-8, lines joined with
// "\n"), and post the delivery to the page's thread. The test may queue
// faults for the next status command: 'never', 'twice', 'garbage', 'huge'.
const standIn = ([token, mode]) => {
  // Android's org.json: JSONObject.quote, libcore's JSONStringer.string().
  const quote = (text) => {
    let out = '"';
    for (let i = 0; i < text.length; i++) {
      const c = text[i], code = text.charCodeAt(i);
      if (c === '"' || c === '\\' || c === '/') out += '\\' + c;
      else if (c === '\t') out += '\\t';
      else if (c === '\b') out += '\\b';
      else if (c === '\n') out += '\\n';
      else if (c === '\r') out += '\\r';
      else if (c === '\f') out += '\\f';
      else if (code <= 0x1f) out += '\\u' + code.toString(16).padStart(4, '0');
      else out += c;
    }
    return out + '"';
  };
  const lines = (text) => {
    const parts = text.split(/\r\n|\r|\n/);
    if (parts.length > 0 && parts[parts.length - 1] === '') parts.pop();
    return parts.join('\n');
  };
  window.vmkBridgeFaults = [];
  window.ksu = {
    exec(command, options, callback) {
      const request = new XMLHttpRequest();
      request.open('POST', '/exec', false);
      request.setRequestHeader('X-Bridge-Token', token);
      request.send(command);
      const reply = JSON.parse(request.responseText);
      let stdout = lines(reply.stdout);
      const fault = /control\.sh status( |$)/.test(command) ? window.vmkBridgeFaults.shift() : undefined;
      if (fault === 'never') return;
      if (fault === 'garbage') stdout = '{"vmkd": <html>';
      if (fault === 'huge') stdout += ' '.repeat(2 << 20);
      const script = `(function() { try { ${callback}(${reply.errno}, ${quote(stdout)}, ${quote(lines(reply.stderr))}); }` +
                     ' catch(e) { console.error(e); } })();';
      // A URL the browser cannot take (over 2 MB) is dropped, as loadUrl drops it.
      const deliver = mode === 'url' ? () => {
        try {
          location.href = 'javascript: ' + script;
        } catch (e) {
          console.error(e);
        }
      } : () => (0, eval)(script);
      setTimeout(deliver, 0);
      if (fault === 'twice') setTimeout(deliver, 100);
    },
  };
};

const browser = await chromium.launch({
  executablePath: '/usr/bin/chromium',
  args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
         '--disable-component-update', '--disable-sync'],
});
try {
  const page = await browser.newPage({ viewport: { width: 420, height: 900 }, deviceScaleFactor: 2 });
  const errors = [];
  page.on('pageerror', (e) => errors.push(String(e)));
  await page.addInitScript(standIn, [token, 'url']);
  await page.goto(base + '/');
  await page.waitForSelector('#content:not([hidden])', { timeout: 30000 });
  await page.waitForFunction(() => document.querySelector('#daemon-calmd .state').textContent.startsWith('running'),
                             null, { timeout: 30000 });
  check((await page.textContent('#daemon-vmkd .state')).startsWith('running'), 'vmkd shows as running');

  // The live view says what the sandbox's kernel files say.
  await page.waitForFunction(() => document.querySelectorAll('#changes li .why').length > 0, null, { timeout: 30000 });
  await new Promise((r) => setTimeout(r, 2500));  // one refresh more
  const shown = await page.$$eval('#cpusets tr', (rows) => Object.fromEntries(rows.map((r) =>
    [r.cells[0].textContent, r.cells[1].textContent])));
  const files = (await sh('for g in top-app foreground background; do echo "$g $(cat /dev/cpuset/$g/cpus)"; done'))
    .trim().split('\n').map((l) => l.split(' '));
  for (const [group, cpus] of files) check(shown[group] === cpus, `${group}: page ${shown[group]}, file ${cpus}`);
  const live = await page.textContent('#live');
  const maxFreq = (await sh('cat /sys/devices/system/cpu/cpufreq/policy4/scaling_max_freq')).trim();
  check(live.includes(`to ${maxFreq} kHz`), `policy4 limit ${maxFreq} shown`);
  check(live.includes('com.example.app'), 'the focused app shown');
  const changes = await page.textContent('#changes');
  check(changes.includes('com.example.syn'), 'calmd\'s change of the busy app shown');
  check(/usage \d+: U \d+ to \d+: N \+ \d/.test(changes), 'with its reason from the table');
  check(changes.includes('<b>x</b><i>') && (await page.$$('#changes b, #changes i, #changes script')).length === 0,
        'a name that looks like markup is shown as text');
  await page.screenshot({ path: out + '/webui.png' });

  // The chart: a point per refresh in every series, the held-down count as
  // the page shows it.
  const SERIES = ['load', 'band', 'policy0', 'policy4', 'held'];
  const pointCounts = (chart) => JSON.stringify(Object.fromEntries(SERIES.map((k) => [k, chart.series[k]?.points])));
  const near = (series, value) => Math.abs(series.values.at(-1) - value) <= series.perUnit * 0.06;
  await page.waitForFunction(() => new Set(document.querySelector('#chart polyline.load')?.getAttribute('points')
                                                .split(' ')).size >= 2, null, { timeout: 20000 });
  let chart = await page.evaluate(readChart);
  check(SERIES.every((k) => chart.series[k]?.points > 0), `the chart draws every series: ${pointCounts(chart)}`);
  const first = chart;
  await page.waitForFunction((n) => Number(document.body.dataset.refreshes) >= n + 3, first.refreshes,
                             { timeout: 20000 });
  chart = await page.evaluate(readChart);
  const added = chart.refreshes - first.refreshes;
  check(added >= 3 && SERIES.every((k) => chart.series[k].points - first.series[k].points === added),
        `a point per refresh in every series: ${added} refreshes, ${pointCounts(first)} then ${pointCounts(chart)}`);
  check(chart.held !== null && near(chart.series.held, chart.held),
        `the held-down line ends at the count shown: ${chart.series.held.values.at(-1)}, shown ${chart.held}`);

  // A parameter through the page: the file holds it whole.
  await page.fill('#param-ram\\.pr\\.threshold', '70');
  await page.click('#param-ram\\.pr\\.threshold ~ button');
  await page.waitForFunction(() => document.querySelector('#message').textContent.includes('written'));
  check((await sh('cat /data/media/0/vmk_params/ram.pr.threshold')) === '70\n', 'ram.pr.threshold written: 70');

  // Bad input: refused on the page, nothing written, nothing run.
  const badInputs = [['abc', 'Only a whole number'], ['500', 'From 0 to 100.'], ['7e1', 'Only a whole number'],
                     ['1;reboot', 'Only a whole number'], ['9'.repeat(100000), '']];
  for (const [text, message] of badInputs) {
    await page.fill('#param-ram\\.pr\\.threshold', text);
    await page.click('#param-ram\\.pr\\.threshold ~ button');
    const error = await page.textContent('#param-ram\\.pr\\.threshold ~ .error');
    check(error !== '' && error.startsWith(message), `"${text.slice(0, 12)}" refused: ${error}`);
  }
  await page.fill('#param-ram\\.pr\\.threshold', '500');
  await page.click('#param-ram\\.pr\\.threshold ~ button');
  await page.locator('#params').scrollIntoViewIfNeeded();
  await page.screenshot({ path: out + '/webui-parameters.png' });
  await page.evaluate(() => setParam('../x', '1', () => {}));
  check((await page.textContent('#message')).endsWith(': No such parameter.'), 'a key not of the page\'s own refused');
  check((await sh('cat /data/media/0/vmk_params/ram.pr.threshold')) === '70\n', 'the file kept 70');
  const log = await (await fetch(base + '/log', { headers: { 'X-Bridge-Token': token } })).text();
  check(!/reboot|\.\.\/x|999999999999/.test(log), 'no refused text reached a command');
  check(log.split('\n').filter((l) => l.includes(' set ')).every((l) => /control\.sh set [a-z_.]+ -?\d+"$/.test(l)),
        'every set command is a key and a number');

  // The profile buttons and the daemons' buttons.
  await page.click('#profiles button[data-profile="2"]');
  await page.waitForFunction(() => document.querySelector('#profiles button[data-profile="2"]').classList.contains('chosen'),
                             null, { timeout: 10000 });
  check((await sh('cat /data/media/0/vmk_params/cur_profile')) === '2\n', 'profile button: cur_profile 2');
  // The limits' lines follow what the profile did to the kernel's files: they
  // end at what the files hold now, after load-driven limits below it.
  const limitFile = (policy) => sh(`cat /sys/devices/system/cpu/cpufreq/${policy}/scaling_max_freq`);
  for (const deadline = Date.now() + 10000; Date.now() < deadline && (await limitFile('policy0')) !== '2016000\n';)
    await new Promise((r) => setTimeout(r, 200));
  const atFull = await page.evaluate(() => Number(document.body.dataset.refreshes));
  await page.waitForFunction((n) => Number(document.body.dataset.refreshes) >= n + 2, atFull, { timeout: 20000 });
  chart = await page.evaluate(readChart);
  for (const policy of ['policy0', 'policy4']) {
    const mhz = Number(await limitFile(policy)) / 1000;
    const line = chart.series[policy];
    check(near(line, mhz), `the ${policy} line ends at the file's ${mhz} MHz: ${line.values.at(-1).toFixed(1)}`);
  }
  check(chart.series.policy0.values.some((v) => v < 2016 - 100),
        `the policy0 line shows the load-driven limits before: lowest ${Math.min(...chart.series.policy0.values).toFixed(0)} MHz`);
  // Another writer raises a limit vmkd set once in the fixed profile: the page marks it.
  const bigMax = '/sys/devices/system/cpu/cpufreq/policy4/scaling_max_freq';
  await sh(`for i in $(seq 100); do grep -qx 2016000 ${bigMax} && break; sleep 0.1; done; echo 2803200 > ${bigMax}`);
  check(await page.waitForFunction(() => document.querySelector('#live').textContent.includes('max set by another writer') &&
                                   !document.querySelector('#writers').hidden, null, { timeout: 15000 })
    .then(() => true, () => false), 'a limit another writer set is marked on the page');
  await page.click('button[data-daemon="calmd"][data-action="stop"]');
  await page.waitForFunction(() => document.querySelector('#daemon-calmd .state').textContent === 'stopped', null,
                             { timeout: 10000 });
  check((await sh('grep ^description= /data/adb/modules/vmk/module.prop')).includes('stopped: calmd'),
        'the description says calmd stopped');
  await page.click('button[data-daemon="calmd"][data-action="start"]');
  await page.waitForFunction(() => document.querySelector('#daemon-calmd .state').textContent.startsWith('running'),
                             null, { timeout: 10000 });
  check(true, 'calmd started again from the page');
  check(errors.length === 0, 'no script error: ' + errors.join('; '));

  // Hostile names and titles through both deliveries: each shown as text,
  // nothing run, the refresh going on.
  const evalPage = await browser.newPage({ viewport: { width: 420, height: 900 }, deviceScaleFactor: 2 });
  evalPage.on('pageerror', (e) => errors.push('eval: ' + String(e)));
  await evalPage.addInitScript(standIn, [token, 'eval']);
  await evalPage.goto(base + '/');
  await evalPage.waitForSelector('#content:not([hidden])', { timeout: 30000 });
  const pages = [['url', page], ['eval', evalPage]];
  // [bytes of the name, what the page shows]; calmd logs a backslash as \x5c.
  const names = [
    ['%22+(pwn=1)+%22', '%22+(pwn=1)+%22'], ['%25', '%25'], ['%%', '%%'], ['"', '"'],
    ['a%0Ab', 'a%0Ab'], ['%u2028', '%u2028'], ['%', '%'], ['\\', '\\x5c'], ['</script>', '</script>'],
    ['x\u2028y', 'x\\u2028y'], [Buffer.from([0xff, 0xfe, 0x6f, 0x6b]), '\ufffd\ufffdok'],
    ['\u202eevil.app', '\\u202Eevil.app'], ['\u061cm"+pwn', '\\u061Cm"+pwn'],
  ];
  const seen = { url: new Set(), eval: new Set() };
  const refreshesAt = async (p) => Number(await p.evaluate(() => document.body.dataset.refreshes || 0));
  const before = { url: await refreshesAt(page), eval: await refreshesAt(evalPage) };
  // A name that reverses text stays in its own place: name, then pid, then the change.
  const inOrder = (name) => {
    for (const li of document.querySelectorAll('#changes li')) {
      const n = li.querySelector('.name'), pid = li.querySelector('.pid'), what = li.querySelector('.what');
      if (!n || n.textContent !== name || what.textContent === '') continue;
      // Reading order, over wrapped lines: a line below, or further right on the same line.
      const first = (e) => e.getClientRects()[0];
      const precedes = (a, b) => first(b).top >= first(a).bottom - 1 ||
                                 (Math.abs(first(a).top - first(b).top) < 2 && first(a).left < first(b).left);
      return precedes(n, pid) && precedes(pid, what);
    }
    return null;
  };
  const ordered = { url: null, eval: null };
  // In fours: the status holds calmd's twelve newest changes.
  for (let first = 0; first < names.length; first += 4) {
    const batch = names.slice(first, first + 4);
    const start = async (name) => Number(await post('/spawn', Buffer.concat([Buffer.from('16\n'), Buffer.from(name)])));
    for (const [name] of batch) {
      const pid = await start(name);
      check(pid > 0, `stand-in app started: pid ${pid}`);
    }
    // A name whose lines all left the newest twelve between two refreshes
    // gets a second process, once.
    let again = Date.now() + 15000;
    for (const deadline = Date.now() + 45000; Date.now() < deadline;) {
      if (Date.now() > again) {
        again = Infinity;
        for (const [name, shownAs] of batch) if (!seen.url.has(shownAs) || !seen.eval.has(shownAs)) await start(name);
      }
      for (const [mode, p] of pages) {
        for (const text of await p.$$eval('#changes li .name', (els) => els.map((e) => e.textContent)))
          seen[mode].add(text);
        if (ordered[mode] === null) ordered[mode] = await p.evaluate(inOrder, '\\u202Eevil.app');
      }
      if (batch.every(([, shownAs]) => seen.url.has(shownAs) && seen.eval.has(shownAs))) break;
      await new Promise((r) => setTimeout(r, 250));
    }
  }
  if (names.some(([, shownAs]) => !seen.url.has(shownAs) || !seen.eval.has(shownAs)))
    console.log('calmd\'s log at the end, and the processes:\n' +
                await sh('tail -n 60 /run/sim/kmsg.log; ps -eo pid,ni,policy,stat,comm 2>&1 | tail -n 40'));
  for (const [mode, p] of pages) {
    for (const [, shownAs] of names)
      check(seen[mode].has(shownAs), `${mode}: the name ${JSON.stringify(shownAs)} shown as text` +
            (seen[mode].has(shownAs) ? '' : ` (seen: ${JSON.stringify([...seen[mode]])})`));
    check(await p.evaluate(() => window.pwn === undefined), `${mode}: no name ran as script`);
    check(await refreshesAt(p) > before[mode] + 3, `${mode}: the page kept refreshing`);
  }
  for (const [mode, p] of pages) {
    check(await p.evaluate(() => [...document.querySelectorAll('#chart *')].every((e) =>
      ['rect', 'line', 'polyline', 'text'].includes(e.tagName) &&
      (e.tagName !== 'text' || /^[A-Za-z0-9 .:%\u2212-]*$/.test(e.textContent)))),
          `${mode}: the chart holds plain shapes and its own texts of numbers`);
  }
  for (const mode of ['url', 'eval'])
    check(ordered[mode] === true, `${mode}: a right-to-left override in a name moves nothing around it (${ordered[mode]})`);
  // Window titles, through the one dumpsys the user asks for: only a package
  // name names the focused app.
  for (const [title, shownAs] of [['com.example.first/.Main', 'com.example.first'],
                                  ['%22+(pwn=1)+%22/.Main', '(none)'],
                                  ['com.example.second/.Main', 'com.example.second'],
                                  ['\u202e%0Aevil</script>', '(none)']]) {
    await post('/focus', title);
    for (const [mode, p] of pages) {
      await p.click('#ask-focus');
      const shown = await p.waitForFunction((text) => document.querySelector('#live').textContent.includes(text),
                                            shownAs, { timeout: 15000 }).then(() => true, () => false);
      check(shown, `${mode}: the title ${JSON.stringify(title)} shown as ${JSON.stringify(shownAs)}`);
      check(await p.evaluate(() => window.pwn === undefined), `${mode}: no title ran as script`);
    }
  }
  // Replies that never come, come twice, do not parse or are huge: told, and the refresh goes on.
  const faults = [['never', 'No reply from the root manager'], ['twice', 'left alone'],
                  ['garbage', 'The status could not be read'], ['huge', '']];
  await Promise.all(pages.map(async ([mode, p]) => {
    for (const [fault, message] of faults) {
      const at = await refreshesAt(p);
      await p.evaluate((f) => window.vmkBridgeFaults.push(f), fault);
      const told = message === '' ||
          await p.waitForFunction((m) => document.querySelector('#message').textContent.includes(m), message,
                                  { timeout: 20000 }).then(() => true, () => false);
      check(told, `${mode}: a reply that is ${fault}: ${message || 'no message needed'}`);
      const going = await p.waitForFunction((n) => Number(document.body.dataset.refreshes) > n + 1, at,
                                            { timeout: 30000 }).then(() => true, () => false);
      check(going, `${mode}: after a reply that is ${fault}, the page refreshes again`);
    }
    check(await p.evaluate(() => window.pwn === undefined), `${mode}: nothing ran as script`);
  }));
  check(errors.length === 0, 'no script error in either delivery: ' + errors.join('; '));
  await page.screenshot({ path: out + '/webui-hostile.png', fullPage: true });
  // The chart after the minute or so of this test (with the gap of the reply
  // that never came), light and dark, at a phone's width.
  await page.locator('#history').scrollIntoViewIfNeeded();
  await page.locator('#history').screenshot({ path: out + '/webui-chart.png' });
  await page.emulateMedia({ colorScheme: 'dark' });
  await page.locator('#history').screenshot({ path: out + '/webui-chart-dark.png' });
  await page.emulateMedia({ colorScheme: null });
  // The chart keeps five minutes of refreshes (150) however many statuses come.
  const redrawMs = await evalPage.evaluate(() => {
    const start = performance.now();
    for (let i = 0; i < 400; i++) showChart(status);
    return (performance.now() - start) / 400;
  });
  const full = await evalPage.evaluate(readChart);
  check(SERIES.every((k) => full.series[k].points === 150), `400 statuses more: 150 points a series: ${pointCounts(full)}`);
  console.log(`chart: ${redrawMs.toFixed(2)} ms a redraw with 150 points a series`);

  // No bridge: a clear message, not a blank page.
  const plain = await browser.newPage({ viewport: { width: 420, height: 520 }, deviceScaleFactor: 2 });
  await plain.goto(base + '/');
  await plain.waitForSelector('#no-bridge:not([hidden])', { timeout: 10000 });
  check((await plain.textContent('#no-bridge')).includes('No root bridge'), 'without a bridge: the message');
  check(await plain.isHidden('#content'), 'without a bridge: no controls');
  await plain.screenshot({ path: out + '/webui-no-bridge.png', fullPage: true });
} finally {
  await browser.close();
  await fetch(base + '/quit', { method: 'POST', headers: { 'X-Bridge-Token': token } }).catch(() => {});
  bridge.kill();
}
console.log(failures === 0 ? 'webui: all checks passed' : `webui: ${failures} checks failed`);
process.exit(failures === 0 ? 0 : 1);
