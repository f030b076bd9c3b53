// What every browser test shares: Debian's Chromium started headless through
// the caller's playwright-core (each test folder installs its own), with a
// fresh profile, no network services and the requests of every page recorded.
//
//   import { chromium } from 'playwright-core';
//   const browser = await launchChromium(chromium, profileDir, { width: 1400, height: 900 });
//   ... browser.context, browser.requests ...
//   await browser.close();
export const CHROMIUM = '/usr/bin/chromium';

export async function launchChromium(chromium, profileDir, viewport) {
  const context = await chromium.launchPersistentContext(profileDir, {
    executablePath: CHROMIUM,
    headless: true,
    viewport,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
  const requests = [];
  context.on('request', (r) => requests.push(r.url()));
  return { context, requests, close: () => context.close() };
}

// Runs one scenario; one that throws (a page that never gets ready, say)
// counts as one failed check instead of ending the test.
export async function scenario(check, name, body) {
  try {
    await body();
  } catch (e) {
    check(false, `${name}: se interrumpió`, e.message.split('\n')[0]);
  }
}
