// The module's WebUI in headless Chromium, as a user meets it: against a
// stand-in for a root manager's bridge whose exec runs each command in the
// device sandbox with the real binaries (tools/webui_bridge.cpp), and with
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

// The root manager's bridge, as KernelSU gives it: exec(command, options, callback name).
const standIn = (token) => {
  window.ksu = {
    exec(command, options, callback) {
      fetch('/exec', { method: 'POST', body: command, headers: { 'X-Bridge-Token': token } })
        .then((r) => r.json())
        .then((j) => window[callback](j.errno, j.stdout, j.stderr));
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
  await page.addInitScript(standIn, token);
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
  check((await page.textContent('#message')) === 'No such parameter.', 'a key not of the page\'s own refused');
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
