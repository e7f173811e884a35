// snp html's report in headless Chromium (playwright-core): small.snp with
// the class files of classes.jar, whose classes the run never loaded, and the
// test sources. Checks the index, a package page and a source file page
// (nested classes' lines coloured, hit counts, slot tooltips, markers), that
// no page logs anything to its console, and that a click on a header sorts
// its column (numbers as numbers) and a second click reverses it. Prints one
// "ok - ..." line per check; the first failed check ends it with code 1.
import { createRequire } from 'node:module';
import * as fs from 'node:fs';
import * as os from 'node:os';
import * as path from 'node:path';
import { pathToFileURL } from 'node:url';

const env = (name) => {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set`);
  return value;
};
const REPORT = env('REPORT');
const { chromium } = createRequire(path.join(env('SNP_NODE_DIR'), 'package.json'))('playwright-core');

function check(condition, text, detail) {
  if (!condition) throw new Error(text + (detail !== undefined ? ': ' + JSON.stringify(detail) : ''));
  console.log('ok - ' + text);
}
const same = (a, b) => JSON.stringify(a) === JSON.stringify(b);

let browser = null;
const messages = [];

async function open(page, file) {
  await page.goto(pathToFileURL(path.join(REPORT, file)).href);
  await page.waitForLoadState('load');
}

// The cells of one column of a table's body, as the page shows them.
const column = (page, table, index) =>
  page.locator(`${table} tbody tr`).evaluateAll((rows, i) => rows.map((r) => r.cells[i].textContent), index);
const values = (page, table, index) =>
  page.locator(`${table} tbody tr`).evaluateAll((rows, i) => rows.map((r) => Number(r.cells[i].dataset.v)), index);
const ascending = (xs) => xs.every((x, i) => i === 0 || xs[i - 1] <= x);
const descending = (xs) => xs.every((x, i) => i === 0 || xs[i - 1] >= x);

async function main() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'snp-html-chromium-'));
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    offline: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const page = await browser.newPage();
  page.on('console', (m) => messages.push(`${page.url()}: ${m.type()}: ${m.text()}`));
  page.on('pageerror', (e) => messages.push(`${page.url()}: ${e}`));
  page.on('request', (r) => { if (!r.url().startsWith('file:')) messages.push('request ' + r.url()); });

  // The index: a row per package, the total of every format.
  await open(page, 'index.html');
  check(same(await column(page, '#packages', 0), ['app', 'app.extra', 'app.tools', 'app.util']),
    'the index lists the packages by name');
  check(await page.locator('#packages tfoot td.lines').textContent() === '10/21',
    'the index total is the headline, 10 of 21 lines');
  const missed = page.locator('#packages thead th', { hasText: 'Lines missed' });
  await missed.click();
  check(same(await column(page, '#packages', 0), ['app.util', 'app', 'app.extra', 'app.tools']),
    'a click on Lines missed sorts the packages fewest first (1, 2, 4, 4)');
  check(await missed.getAttribute('aria-sort') === 'ascending', 'the header says how it is sorted');
  await missed.click();
  check(descending(await values(page, '#packages', 3)), 'a second click sorts them most first');
  await page.locator('#packages thead th', { hasText: 'Line coverage' }).click();
  const byCoverage = await values(page, '#packages', 1);
  check(same(byCoverage, [0, 0, 6666, 6666]), 'Line coverage sorts by the percentage', byCoverage);
  check(await page.locator('#packages tfoot td').first().textContent() === 'Total', 'the total row stays last');
  await page.locator('#packages thead th', { hasText: 'Package' }).click();
  check(same(await column(page, '#packages', 0), ['app', 'app.extra', 'app.tools', 'app.util']),
    'a click on Package sorts by name');

  // A package page, reached by its link.
  await page.locator('#packages a', { hasText: 'app.tools' }).click();
  await page.waitForLoadState('load');
  check(page.url().endsWith('/app.tools/index.html'), 'the package link opens its page');
  check(await page.locator('nav.crumbs').textContent() === 'Coverage report > app.tools', 'its breadcrumb');
  check(same(await column(page, '#files', 0), ['Café.java', 'Main.java']), 'its source files');
  check(same(await column(page, '#classes', 0), ['Café', 'Main', 'Main$Helper']), 'and its classes');

  // The source file page: both classes of Main.java on it.
  await page.locator('#files a', { hasText: 'Main.java' }).click();
  await page.waitForLoadState('load');
  check(await page.locator('nav.crumbs').textContent() === 'Coverage report > app.tools > Main.java',
    'the source page\'s breadcrumb');
  const row = (n) => page.locator(`#L${n}`);
  const state = async (n) => row(n).getAttribute('class');
  const hits = async (n) => row(n).locator('td').nth(1).textContent();
  check(same([await state(5), await state(6), await state(12)], ['hit', 'part', 'miss']),
    'Main\'s lines are coloured: hit, partly hit, missed');
  check(same([await state(15), await state(16), await state(17)], ['hit', 'hit', 'miss']),
    'so are the nested class Helper\'s');
  check(same([await hits(7), await hits(16), await hits(17)], ['3', '2147483653', '0']),
    'each line shows its hit count');
  check(await row(6).locator('td').nth(1).getAttribute('title') === '2 slots: 4, 0 hits',
    'a line of two slots has a tooltip with each slot\'s hits');
  check(await row(7).locator('td').nth(1).getAttribute('title') === null, 'a line of one slot has none');
  check(await row(3).locator('span.kw').count() === 2, 'keywords are coloured');
  await page.locator('#methods thead th', { hasText: 'First line' }).click();
  check(same(await column(page, '#methods', 4), ['3', '5', '12', '15', '16']),
    'First line sorts as numbers (3 before 12)');
  await page.locator('#methods thead th', { hasText: 'Method' }).click();
  const names = await column(page, '#methods', 1);
  const byText = await page.evaluate((xs) => [...xs].sort((a, b) => a.localeCompare(b)), names);
  check(names.length === 5 && same(names, byText), 'Method sorts as text', names);
  await page.locator('#methods thead th', { hasText: 'Entered' }).press('Enter');
  check(ascending(await values(page, '#methods', 2)), 'a header sorts from the keyboard too');

  // A class the run never loaded, from its class file.
  await open(page, 'app.extra/index.html');
  check(await page.locator('#classes tr', { hasText: 'Never' }).locator('span.nl').textContent() === 'not loaded',
    'a class never loaded is marked on its package page');
  await open(page, 'app.extra/Never.java.html');
  check(await page.locator('#classes span.nl').count() === 1, 'and on its source page');
  const lines = await page.locator('table.source tbody tr').evaluateAll((rows) => rows.map((r) => r.className));
  check(lines.length > 0 && lines.every((c) => c === 'miss nl'), 'each of its lines is missed and marked', lines);

  check(messages.length === 0, 'no page logged anything or asked for anything outside the report', messages);
}

const guard = setTimeout(() => {
  console.error('not ok - the test took longer than 50 s');
  process.exit(1);
}, 50000);

main().then(async () => {
  clearTimeout(guard);
  await browser.close();
  console.log('html browser: all checks passed');
}, async (e) => {
  clearTimeout(guard);
  console.error('not ok - ' + e.message);
  if (messages.length) console.error(messages.join('\n'));
  if (browser) await browser.close().catch(() => {});
  process.exit(1);
});
