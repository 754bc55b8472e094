// vlpolicyd's pages for people in the system's headless Chromium: an administrator signs in,
// approves a take-out that a test agent requested and the agent reads it approved, refuses
// another, sees a forged or tokenless POST change nothing, unlocks a locked user and signs out;
// the login page the agent opens is filled in with a good and a bad password. A screenshot of
// each page goes to OUTDIR. Everything talks to 127.0.0.1; every wait is bounded.
//
// Usage: node console_test.mjs VLPOLICYD AGENT OUTDIR
// AGENT speaks vltestagent's three commands (login, takeout, status). The limits are seconds from the
// environment: VLPOLICYD_BROWSER_TEST_LIMIT for the whole run (100 unless set) and
// VLPOLICYD_BROWSER_AGENT_LIMIT for one agent command (10), raised for an agent that runs under Wine.
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, mkdirSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { chromium } from 'playwright-core';

const [vlpolicyd, agentProgram, outDir] = process.argv.slice(2);
const work = mkdtempSync(join(tmpdir(), 'vlpolicyd-browser-'));
const db = join(work, 'policy.db');
mkdirSync(outDir, { recursive: true });
const adminPassword = 'console-pass-01';
let server = null;
let context = null;
let passed = 0;
let failed = 0;

function seconds(name, fallback) {
  const value = Number(process.env[name]);
  return Number.isInteger(value) && value > 0 ? value : fallback;
}
const testLimit = seconds('VLPOLICYD_BROWSER_TEST_LIMIT', 100);
const agentLimit = seconds('VLPOLICYD_BROWSER_AGENT_LIMIT', 10);

function cleanUp() {
  if (server && server.exitCode === null) server.kill('SIGTERM');
  rmSync(work, { recursive: true, force: true });
}
// The whole run is bounded: a hang fails the test instead of holding the suite.
const watchdog = setTimeout(() => {
  console.log(`FAIL: the browser test did not finish within ${testLimit} s`);
  cleanUp();
  process.exit(1);
}, testLimit * 1000);

function check(condition, what, detail = '') {
  if (condition) {
    passed++;
    console.log(`ok - ${what}`);
  } else {
    failed++;
    console.log(`FAIL - ${what}${detail ? `: ${detail}` : ''}`);
  }
}

function run(program, args, input, limit = 10) {
  const result = spawnSync(program, args, { input, encoding: 'utf8', timeout: limit * 1000 });
  return { code: result.status, out: (result.stdout || '').trim(), err: (result.stderr || '').trim() };
}

function startServer() {
  return new Promise((resolve, reject) => {
    server = spawn(vlpolicyd, ['serve', '--listen', '127.0.0.1:0', '--db', db], { stdio: ['ignore', 'pipe', 'pipe'] });
    let seen = '';
    const timer = setTimeout(() => reject(new Error('no ready line within 10 s')), 10_000);
    server.stdout.on('data', (chunk) => {
      seen += chunk;
      const match = /listening on http:\/\/127\.0\.0\.1:(\d+)\/agent/.exec(seen);
      if (match) {
        clearTimeout(timer);
        resolve(Number(match[1]));
      }
    });
    server.on('exit', (code) => reject(new Error(`vlpolicyd ended early with ${code}`)));
    server.stderr.resume();
  });
}

async function shot(page, name) {
  await page.screenshot({ path: join(outDir, `${name}.png`), fullPage: true });
}

async function main() {
  // The demonstration store (its users demo01 and demo02 play the agents), then the administrator's
  // account, its password on standard input as a script gives it.
  const made = run(vlpolicyd, ['store', 'init', '--demo', '--db', db]);
  check(made.code === 0, 'store init --demo makes the demonstration store', made.err);
  const added = run(vlpolicyd, ['admin', 'add', 'root', '--db', db], `${adminPassword}\n`);
  check(added.code === 0, 'admin add reads the password from standard input', added.err);
  const port = await startServer();
  const base = `http://127.0.0.1:${port}`;
  const agent = (...args) => run(agentProgram, [String(port), ...args], undefined, agentLimit);

  const first = agent('takeout', 'demo01', '20270101', '20270105', 'trade fair in Lyon');
  check(first.code === 0 && /^[0-9a-f]{32}$/.test(first.out), 'the agent requests a take-out', first.out);
  const hostile = '<script>alert("x")</script> & <b>bold</b>';
  const second = agent('takeout', 'demo02', '20270210', '20270212', hostile);
  check(second.code === 0, 'the agent requests a second take-out with markup in its reason', second.out);

  const userDataDir = mkdtempSync(join(work, 'chromium-'));
  context = await chromium.launchPersistentContext(userDataDir, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: { width: 1100, height: 360 },
    timeout: 30_000,
  });
  context.setDefaultTimeout(10_000);
  const page = context.pages()[0] || (await context.newPage());
  let dialogs = 0;
  page.on('dialog', async (dialog) => {
    dialogs++;
    await dialog.dismiss();
  });

  // Without a session every page leads to the sign-in page.
  await page.goto(`${base}/admin/takeouts`);
  check(page.url() === `${base}/admin/signin`, 'without a session the console redirects to the sign-in page', page.url());
  await shot(page, 'admin-signin');
  await page.getByLabel('Administrator').fill('root');
  await page.getByLabel('Password').fill('not-the-password');
  await page.getByRole('button', { name: 'Sign in' }).click();
  check((await page.locator('#notice').textContent()).includes('unknown administrator or wrong password'),
    'a wrong password is refused in words');
  await page.getByLabel('Administrator').fill('root');
  await page.getByLabel('Password').fill(adminPassword);
  await page.getByRole('button', { name: 'Sign in' }).click();
  await page.waitForURL(`${base}/admin/`);
  check(true, 'the administrator signs in');

  // Approve the first request; the agent then reads it approved.
  const firstRow = page.locator(`#takeout-${first.out}`);
  check((await firstRow.textContent()).includes('trade fair in Lyon'), 'the pending request shows its reason');
  const secondRow = page.locator(`#takeout-${second.out}`);
  check((await secondRow.locator('td').nth(2).textContent()) === hostile && dialogs === 0,
    'markup from an agent shows as text and runs nothing');
  await shot(page, 'admin-pending');
  await firstRow.getByLabel('Comment').fill('enjoy the fair');
  await firstRow.getByRole('button', { name: 'Approve' }).click();
  check((await page.locator('#notice').textContent()).includes(`Approved take-out ${first.out}`),
    'the console says the request is approved');
  const firstStatus = agent('status', first.out);
  check(firstStatus.out === 'approved from 2027-01-01 to 2027-01-05', 'the agent reads the decision', firstStatus.out);

  // Forged posts carry the session's cookie but not its token: 403 and nothing changes.
  for (const [what, form] of [['no token', { key: second.out, decision: 'approve' }],
    ['a wrong token', { key: second.out, decision: 'approve', token: '0'.repeat(32) }]]) {
    const reply = await context.request.post(`${base}/admin/takeouts/decide`, { form, maxRedirects: 0 });
    check(reply.status() === 403, `a POST with ${what} is refused with 403`, String(reply.status()));
  }
  check(agent('status', second.out).out === 'requested', 'the forged posts changed nothing');

  await page.reload();
  await page.locator(`#takeout-${second.out}`).getByLabel('Comment').fill('dates clash with the audit');
  await page.locator(`#takeout-${second.out}`).getByRole('button', { name: 'Refuse' }).click();
  check((await page.locator('#notice').textContent()).includes(`Refused take-out ${second.out}`),
    'the console says the second request is refused');
  check(agent('status', second.out).out === 'refused', 'the agent reads the refusal');

  await page.getByRole('link', { name: 'All take-outs' }).click();
  const history = await page.locator('#takeouts').textContent();
  check(history.includes('approved 20270101 to 20270105 by admin:root: enjoy the fair') &&
    history.includes('refused by admin:root: dates clash with the audit'), 'the history shows both decisions');
  await shot(page, 'admin-takeouts');

  // Lock a user out through failed logins, then unlock it in the console.
  for (let i = 0; i < 5; i++) agent('login', 'demo02', 'wrong-password');
  check(agent('login', 'demo02', 'demo-pass-02').out === '41002', 'five failed logins lock demo02');
  await page.getByRole('link', { name: 'Users' }).click();
  const userRow = page.locator('#user-demo02');
  check((await userRow.locator('.state').textContent()).startsWith('locked until'), 'the users page shows the lock');
  await shot(page, 'admin-users');
  await userRow.getByRole('button', { name: 'Unlock' }).click();
  check((await page.locator('#notice').textContent()).includes('Unlocked demo02'), 'the console unlocks demo02');
  check(agent('login', 'demo02', 'demo-pass-02').out === '40000', 'demo02 logs in again');

  await page.getByRole('link', { name: 'Exchange log' }).click();
  const log = await page.locator('#log').textContent();
  check(log.includes('41002 locked') && log.includes('admin-signin') && !log.includes('demo-pass') &&
    !log.includes(adminPassword), 'the exchange log shows exchanges and no password');
  await shot(page, 'admin-log');

  await page.getByRole('button', { name: 'Sign out' }).click();
  await page.waitForURL(`${base}/admin/signin`);
  await page.goto(`${base}/admin/`);
  check(page.url() === `${base}/admin/signin`, 'after signing out the console asks for a sign-in again');

  // The login page the agent opens, with a good and then a bad password.
  for (const [password, words, name] of [['demo-pass-01', 'Logged in as demo01', 'login-good'],
    ['wrong-password', 'unknown user or wrong password', 'login-bad']]) {
    await page.goto(`${base}/login`);
    if (name === 'login-good') await shot(page, 'login-form');
    await page.getByLabel('User ID').fill('demo01');
    await page.getByLabel('Password').fill(password);
    await page.getByRole('button', { name: 'Log in' }).click();
    await page.waitForURL(`${base}/agent`);
    const outcome = await page.locator('#outcome').textContent();
    check(outcome.includes(words), `the login page answers "${words}"`, outcome);
    await shot(page, name);
  }
}

try {
  await main();
} catch (error) {
  failed++;
  console.log(`FAIL - ${error.message.split('\n')[0]}`);
} finally {
  if (context) await context.close().catch(() => {});
  cleanUp();
  clearTimeout(watchdog);
}
console.log(`${passed} passed, ${failed} failed`);
console.log(`screenshots: ${outDir}`);
process.exit(failed === 0 ? 0 : 1);
