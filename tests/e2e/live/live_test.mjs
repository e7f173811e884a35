// End-to-end test of the live viewer: a real program (liveapp.Phases) under
// the JVMTI runtime with the option live, its page driven in headless
// Chromium through playwright-core, and its HTTP answers checked directly.
//
// The program runs one phase per line the test writes to its standard input,
// so every check happens at a known point of the program. Paths come from the
// environment (set by CMake through run_live_test.sh). Prints one "ok - ..."
// line per check; the first failed check ends the test with code 1.
import { spawn } from 'node:child_process';
import { createRequire } from 'node:module';
import * as fs from 'node:fs';
import * as http from 'node:http';
import * as net from 'node:net';
import * as os from 'node:os';
import * as path from 'node:path';
import { isDeepStrictEqual } from 'node:util';

const env = (name) => {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set`);
  return value;
};
const JAVA = env('LIVE_JAVA');
const RUNTIME = env('LIVE_RUNTIME');
const RUNTIME_DIR = path.dirname(RUNTIME);
const AGENT_DIR = env('LIVE_AGENT_DIR');
const CCOVER_JAR = env('LIVE_CCOVER_JAR');
const APP_JAR = env('LIVE_APP_JAR');
const SNP = env('LIVE_SNP');
const WORK = env('LIVE_WORK');
const { chromium } = createRequire(path.join(env('LIVE_NODE_DIR'), 'package.json'))('playwright-core');

const OPENS = '--add-opens=java.base/java.lang=ALL-UNNAMED';  // for liveapp.Check
const WORK_STEPS = 1500000;
const children = [];
let browser = null;

function ok(text) { console.log('ok - ' + text); }
function check(condition, text, detail) {
  if (!condition) throw new Error(text + (detail !== undefined ? ': ' + JSON.stringify(detail) : ''));
  ok(text);
}
const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
async function waitFor(what, probe, timeoutMs = 15000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > end) throw new Error('timed out waiting for ' + what);
    await sleep(50);
  }
}

// A java process with its output collected; input written on demand.
function startJava(args, options = {}) {
  const preload = process.env.LIVE_JAVA_PRELOAD ? { LD_PRELOAD: process.env.LIVE_JAVA_PRELOAD } : {};
  const child = spawn(JAVA, args, { cwd: options.cwd || WORK, env: { ...process.env, ...preload, ...options.env } });
  const run = { child, out: '', err: '', exit: null };
  child.stdout.on('data', (d) => { run.out += d; });
  child.stderr.on('data', (d) => { run.err += d; });
  run.exited = new Promise((resolve) => child.on('exit', (code, signal) => {
    run.exit = { code, signal };
    resolve(run.exit);
  }));
  run.send = (line) => child.stdin.write(line + '\n');
  run.lines = () => run.out.split('\n');
  run.waitOut = (text) => waitFor(`"${text}" from the program`, () => run.lines().includes(text));
  run.url = () => waitFor('the viewer URL', () => {
    const m = /^ccover live: (http:\/\/\S+)$/m.exec(run.err);
    return m && m[1];
  });
  children.push(run);
  return run;
}

async function runToEnd(args, input, options) {
  const run = startJava(args, options);
  run.child.stdin.end(input);
  await run.exited;
  return run;
}

// One HTTP request with exactly the headers given (Host included).
function request(base, method, pathAndQuery, headers = {}) {
  const url = new URL(base);
  return new Promise((resolve, reject) => {
    const req = http.request({
      host: url.hostname, port: url.port, method, path: pathAndQuery,
      headers: { Host: url.host, ...headers }, agent: false,
    }, (res) => {
      const parts = [];
      res.on('data', (d) => parts.push(d));
      res.on('end', () => resolve({ status: res.statusCode, headers: res.headers,
        body: Buffer.concat(parts) }));
    });
    req.on('error', reject);
    req.end();
  });
}

function rawRequest(base, text) {
  const url = new URL(base);
  return new Promise((resolve, reject) => {
    const socket = net.connect(Number(url.port), url.hostname, () => socket.end(text));
    let answer = '';
    socket.on('data', (d) => { answer += d; });
    socket.on('end', () => resolve(answer));
    socket.on('error', reject);
  });
}

function dump(file) {
  const run = spawnSyncText(SNP, ['dump', file]);
  return JSON.parse(run);
}

function spawnSyncText(program, args) {
  const { spawnSync } = createRequire(import.meta.url)('node:child_process');
  const r = spawnSync(program, args, { encoding: 'utf8' });
  if (r.status !== 0) throw new Error(`${program} ${args.join(' ')} failed: ${r.stderr}`);
  return r.stdout;
}

function method(snapshot, className, name) {
  const cls = Object.values(snapshot.ClassRoot).find((c) => c.n === className);
  if (!cls) return undefined;
  return Object.values(snapshot.MethodRoot).find((m) => m.cid === cls.id && m.n === name);
}

// The program, as plain java and under coverage with and without the viewer,
// reads the same input: it must print the same, and end with the same code.
async function programSeesNoDifference() {
  const input = 'first 3\nsecond 2\nwork 10\ncheck\nexit 7\n';
  const plain = await runToEnd([OPENS, '-cp', APP_JAR, 'liveapp.Phases'], input);
  const covered = await runToEnd([OPENS, `-agentpath:${RUNTIME}`, '-cp', APP_JAR, 'liveapp.Phases'], input);
  const live = await runToEnd([OPENS, '-Xcheck:jni', `-agentpath:${RUNTIME}=live`, '-cp', APP_JAR,
    'liveapp.Phases'], input);
  check(plain.exit.code === 7 && covered.exit.code === 7 && live.exit.code === 7,
    'exit code 7 with and without the viewer', [plain.exit, covered.exit, live.exit]);
  check(live.out === covered.out && live.out === plain.out,
    'standard output identical with and without the viewer (threads of its group, no viewer class on its loaders)',
    { plain: plain.out, live: live.out });
  check(/viewer classes on the program's loaders: none/.test(live.out), 'no viewer class on the program\'s class loaders');
  const errLines = live.err.split('\n').filter((l) => l !== '');
  check(errLines.length === 1 && /^ccover live: http:\/\/127\.0\.0\.1:\d+\/#token=[0-9a-f]{32}$/.test(errLines[0]),
    'the viewer prints its URL once on standard error and nothing else (-Xcheck:jni quiet)', live.err);
}

async function launcherStartsTheViewer() {
  const run = startJava(['-Xruncci:live', '-cp', `${CCOVER_JAR}:${APP_JAR}`, 'quorvatix.audit.CoverMain',
    'liveapp.Phases'], { env: { LD_LIBRARY_PATH: `${RUNTIME_DIR}:${AGENT_DIR}` } });
  const url = await run.url();
  await run.waitOut('ready');
  const state = JSON.parse((await request(url, 'GET', '/api/state')).body);
  check(state.classes.some((c) => c.name === 'liveapp/Phases'), 'the launcher (CoverMain) starts the viewer too');
  run.send('exit 5');
  const exit = await run.exited;
  check(exit.code === 5, 'exit code kept under the launcher', exit);
}

// Bound to every address, the viewer asks for the token on every request.
async function otherAddressesNeedTheToken() {
  const run = startJava([`-agentpath:${RUNTIME}=live=0.0.0.0:0`, '-cp', APP_JAR, 'liveapp.Phases']);
  const url = new URL(await run.url());
  check(url.search.startsWith('?token=') && url.hash === '',
    'off loopback the URL carries the token in its query, for the page request', url.href);
  const token = url.searchParams.get('token');
  const base = `http://127.0.0.1:${url.port}`;
  const statusOf = async (p, headers = {}) => (await request(base, 'GET', p, headers)).status;
  check(await statusOf('/api/state') === 403 && await statusOf('/') === 403,
    'off loopback, reading without the token gets 403');
  check(await statusOf('/api/state', { 'X-Ccover-Token': token }) === 200 &&
    await statusOf('/?token=' + token) === 200, 'and with it, 200');
  run.send('exit 0');
  await run.exited;
}

async function main() {
  fs.mkdirSync(WORK, { recursive: true });
  await programSeesNoDifference();
  await launcherStartsTheViewer();
  await otherAddressesNeedTheToken();

  const cwd = fs.mkdtempSync(path.join(WORK, 'run-'));
  const app = startJava([OPENS, '-Xcheck:jni', `-agentpath:${RUNTIME}=snapshotAtExit,live`, '-cp', APP_JAR,
    'liveapp.Phases'], { cwd });
  const url = await app.url();
  const token = new URL(url).hash.replace('#token=', '');
  const base = url.replace(/\/#.*$/, '');
  await app.waitOut('ready');

  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'ccover-live-chromium-'));
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    acceptDownloads: true,
    viewport: { width: 1280, height: 560 },
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = await browser.newPage();
  const pageErrors = [];
  page.on('pageerror', (e) => pageErrors.push(String(e)));
  page.on('console', (m) => { if (m.type() === 'error') pageErrors.push(m.text()); });
  await page.goto(url);
  const row = (name) => page.locator(`#classes tbody tr[data-name="${name}"]`);
  const cellText = (name, cell) => row(name).locator('td.' + cell).textContent();
  const percentOf = async (name, cell) => parseFloat(await cellText(name, cell));

  await row('liveapp.Phases').waitFor();
  check(await row('liveapp.Shapes').count() === 0, 'the main class appears, Shapes (not loaded yet) does not');
  check(await page.locator('#machine').textContent() === os.hostname(), 'the machine ID is shown');

  app.send('first 3');
  await app.waitOut('first 9');
  await row('liveapp.Shapes').waitFor();
  ok('Shapes appears once the phase loads it');
  const c1 = await waitFor('Shapes coverage', async () => (await percentOf('liveapp.Shapes', 'cov')) || 0);
  app.send('second 2');
  await app.waitOut('second 10');
  const c2 = await waitFor('coverage to rise', async () => {
    const c = await percentOf('liveapp.Shapes', 'cov');
    return c > c1 ? c : 0;
  });
  check(c2 > c1, `coverage of Shapes rises after a phase (${c1} % then ${c2} %)`);

  await page.click('#mark');
  await waitFor('since-mark 0', async () => (await cellText('liveapp.Shapes', 'since')) === '0.00 %');
  check(await cellText('liveapp.Phases', 'since') === '0.00 %', 'Mark brings since-mark coverage to 0');
  app.send('first 2');
  await app.waitOut('first 3');
  const since = await waitFor('since-mark to rise', async () => (await percentOf('liveapp.Shapes', 'since')) || 0);
  check(since > 0, `the next phase raises since-mark coverage (${since} %)`);

  await row('liveapp.Shapes').click();
  const firstRow = page.locator('#methods tbody tr[data-method="first(I)I"]');
  await firstRow.waitFor();
  const firstCells = await firstRow.locator('td').allTextContents();
  check(firstCells[1] === '2' && firstCells[2] === '1',
    'per-method figures of the chosen class: first(I)I entered twice, once since the mark', firstCells);
  check(await page.locator('#methods tbody tr[data-method="second(I)I"]').count() === 1 &&
    await page.locator('#methods tbody tr[data-method="area(II)I"]').count() === 1, 'every method of Shapes is listed');

  // Pause and Resume, watched through the counter the program prints.
  const ticks = () => app.lines().filter((l) => l.startsWith('tick ')).length;
  app.send('count');
  await waitFor('ticks', () => ticks() >= 5);
  await page.click('#pause');
  const paused = await waitFor('the pause count', async () => {
    const m = /^paused (\d+) threads$/.exec(await page.locator('#runinfo').textContent());
    return m && Number(m[1]);
  });
  check(paused >= 2, `Pause suspends the program's threads (${paused}, its main thread and the counter)`);
  await sleep(200);
  const frozen = ticks();
  await sleep(800);
  check(ticks() === frozen, `the printed counter stops while paused (at ${frozen})`);
  check(/paused/.test(await page.locator('#status').textContent()), 'the page shows the program paused');
  const stillServed = await request(base, 'GET', '/api/state?since=0');
  check(stillServed.status === 200, 'the viewer answers while the program is paused');
  await page.click('#resume');
  const resumed = await waitFor('the resume count', async () => {
    const m = /^resumed (\d+) threads$/.exec(await page.locator('#runinfo').textContent());
    return m && Number(m[1]);
  });
  check(resumed === paused, `Resume resumes them (${resumed})`);
  await waitFor('the counter to move again', () => ticks() > frozen + 3);
  ok('the counter restarts after Resume');
  app.send('stop');
  await waitFor('the counter to stop', () => app.lines().some((l) => l.startsWith('stopped ')));

  // Security: token, Origin, Host, methods, paths and malformed requests.
  const auth = { 'X-Ccover-Token': token };
  const statusOf = async (method, p, headers) => (await request(base, method, p, headers)).status;
  check(await statusOf('POST', '/api/mark', {}) === 403, 'a state-changing request without the token gets 403');
  check(await statusOf('POST', '/api/pause', { 'X-Ccover-Token': 'f'.repeat(32) }) === 403, 'a wrong token gets 403');
  check(await statusOf('POST', '/api/mark', { ...auth, Origin: 'http://evil.example' }) === 403,
    'a foreign Origin gets 403, token or not');
  check(await statusOf('GET', '/api/state', { Origin: 'http://evil.example' }) === 403, 'a foreign Origin cannot read either');
  check(await statusOf('GET', '/api/state', { Host: `attacker.example:${new URL(base).port}` }) === 403,
    'a foreign Host (DNS rebinding) gets 403');
  check(await statusOf('GET', '/api/mark', auth) === 405, 'mark by GET is refused (405)');
  check(await statusOf('GET', '/api/methods?class=abc', {}) === 400, 'a malformed class ID gets 400');
  check(await statusOf('GET', '/api/state?since=-1', {}) === 400, 'a malformed version gets 400');
  check(await statusOf('GET', '/api/state?bogus=1', {}) === 400, 'an unknown parameter gets 400');
  check(await statusOf('GET', '/api/methods?class=99999', {}) === 404, 'an unknown class gets 404');
  for (const p of ['/../../etc/passwd', '/%2e%2e/%2e%2e/etc/passwd', '/quorvatix/audit/live/page.html',
    '/quorvatix/audit/CoverMain.class', '/favicon.ico']) {
    check(await statusOf('GET', p, {}) === 404, `nothing outside the page is served (${p})`);
  }
  const garbage = await rawRequest(base, 'THIS IS NOT HTTP\r\n\r\n');
  check(/^HTTP\/1\.1 400 /.test(garbage), 'a malformed request line gets 400', garbage.slice(0, 40));
  const pageAnswer = await request(base, 'GET', '/');
  const csp = pageAnswer.headers['content-security-policy'] || '';
  check(/default-src 'none'/.test(csp) && /script-src 'sha256-/.test(csp) && !/unsafe/.test(csp) &&
    /frame-ancestors 'none'/.test(csp), 'the page carries a strict Content-Security-Policy', csp);

  // A thousand rapid requests while the program works: its counts stay exact.
  const workId = (JSON.parse((await request(base, 'GET', '/api/state')).body).classes
    .find((c) => c.name === 'liveapp/Work') || {}).id;
  app.send(`work ${WORK_STEPS}`);
  const kinds = [
    ['GET', '/api/state?since=0', {}, [200]],
    ['GET', `/api/methods?class=${workId || 1}`, {}, [200, 404]],
    ['POST', '/api/mark', auth, [200]],
    ['GET', '/api/methods?class=x', {}, [400]],
    ['GET', '/api/snapshot/progress', {}, [200]],
    ['POST', '/api/snapshot', auth, [200, 409]],
    ['POST', '/api/resume', auth, [200]],
    ['GET', '/nothing', {}, [404]],
  ];
  const statuses = {};
  let next = 0;
  let wrong = null;
  await Promise.all(Array.from({ length: 32 }, async () => {
    while (next < 1000) {
      const [method, p, headers, expected] = kinds[next++ % kinds.length];
      const r = await request(base, method, p, headers);
      statuses[r.status] = (statuses[r.status] || 0) + 1;
      if (!expected.includes(r.status)) wrong = wrong || { method, p, status: r.status, body: String(r.body) };
    }
  }));
  check(wrong === null, `a thousand rapid requests get the expected answers ${JSON.stringify(statuses)}`, wrong);
  await app.waitOut(`work ${WORK_STEPS}`);
  app.send('second 4');
  await app.waitOut('second 28');
  await waitFor('since-mark after the last phase', async () => (await percentOf('liveapp.Shapes', 'since')) > 0);

  // Download through the page, and pull with snp, while the program waits.
  const downloadStarted = page.waitForEvent('download');
  await page.click('#download');
  const download = await downloadStarted;
  const remote = path.join(WORK, 'remote.snp');
  await download.saveAs(remote);
  await waitFor('the progress to reach 100', async () => /^100 % · /.test(await page.locator('#snapinfo').textContent()));
  check(await page.locator('#progress').evaluate((p) => p.value) === 100, 'the page shows the snapshot\'s progress reaching 100 %');
  const pulled = path.join(WORK, 'pulled.snp');
  spawnSyncText(SNP, ['pull', url, '-o', pulled]);
  ok('snp pull fetches a snapshot');

  await page.evaluate(() => window.scrollTo(0, 0));
  await sleep(600);
  await page.screenshot({ path: path.join(WORK, 'live-page.png') });
  ok('screenshot saved in ' + path.join(WORK, 'live-page.png'));
  check(pageErrors.length === 0, 'the page ran without errors (CSP included)', pageErrors);

  // The local snapshot: the program is ended while it waits in a read, so no
  // line runs between the two snapshots; the runtime writes it at VM death.
  app.child.kill('SIGTERM');
  const exit = await app.exited;
  const local = fs.readdirSync(cwd).filter((f) => f.endsWith('.snp')).map((f) => path.join(cwd, f));
  check(local.length === 1, 'the exit snapshot was written', { exit, files: fs.readdirSync(cwd), err: app.err });
  const remoteTree = dump(remote);
  const pulledTree = dump(pulled);
  const localTree = dump(local[0]);
  check(remoteTree.Signature.comment !== undefined && localTree.Signature.comment !== undefined,
    'both snapshots decode with snp');
  for (const tree of [remoteTree, pulledTree, localTree]) delete tree.Signature;
  check(isDeepStrictEqual(remoteTree, localTree), 'the downloaded snapshot equals the local one apart from its Signature');
  check(isDeepStrictEqual(pulledTree, localTree), 'so does the one snp pull fetched');
  const step = method(localTree, 'liveapp/Work', 'step');
  check(step && step.i === WORK_STEPS && step.lc[0] === WORK_STEPS,
    `Work.step counted exactly ${WORK_STEPS} times despite the requests`, step);
  const errLines = app.err.split('\n').filter((l) => l !== '');
  check(errLines.length === 1, 'the viewer printed nothing but its URL on standard error', app.err);
}

const guard = setTimeout(() => {
  console.error('not ok - the test took longer than 110 s');
  cleanup().then(() => process.exit(1));
}, 110000);

async function cleanup() {
  if (browser) await browser.close().catch(() => {});
  for (const run of children) if (run.exit === null) run.child.kill('SIGKILL');
}

main().then(async () => {
  clearTimeout(guard);
  await cleanup();
  console.log('live viewer: all checks passed');
}, async (e) => {
  clearTimeout(guard);
  console.error('not ok - ' + e.message);
  for (const run of children) {
    if (run.err) console.error('--- program stderr:\n' + run.err.slice(-2000));
  }
  await cleanup();
  process.exit(1);
});
