// The skin base with user accounts: a user who may upload, and a limited one who meets the refusals.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import { MUSIC, Quenforth } from '../lib/quenforth.mjs';
import { DESKTOP, PHONE, accessibilityViolations, eventually, launch, openPage } from '../lib/browser.mjs';

const qf = new Quenforth({
  settings: [['enablePassword', '1']],
  users: [
    ['dora', 'dora-secret', '--right', 'change_state=1', '--right', 'add_files=1', '--right', 'download=1',
      '--right', 'remove_his=1', '--upload', 'unlimited', '--folder', MUSIC],
    ['carl', 'carl-secret', '--right', 'add_files=1', '--tracks', '1', '--upload', 'off', '--folder', MUSIC],
  ],
});
const DORA = { username: 'dora', password: 'dora-secret' };
const CARL = { username: 'carl', password: 'carl-secret' };
let browser;

before(async () => {
  await qf.start();
  browser = await launch();
});

after(async () => {
  await browser?.close();
  await qf.stop();
});

function noProblems(page) {
  assert.deepEqual(page.problems, [], 'the page reported no errors');
}

async function upload(page, name, bytes) {
  await page.goto(qf.url + 'browse.html?home');
  await page.getByLabel('File', { exact: true }).setInputFiles({ name, mimeType: 'audio/mpeg', buffer: bytes });
  await page.getByRole('button', { name: 'Upload' }).click();
  await page.waitForURL(/browse\.html$/);
}

test('without a login nothing is served', async () => {
  const answer = await qf.get('/');
  assert.equal(answer.status, 401);
});

for (const device of [PHONE, DESKTOP]) {
  describe(`accounts on a ${device.name}`, () => {
    test('a user who may upload stores a file in the current folder', async () => {
      const page = await openPage(browser, device, { httpCredentials: DORA });
      try {
        const name = `e2e upload ${device.name}.mp3`;
        const bytes = Buffer.alloc(3000, device.name);
        await upload(page, name, bytes);
        assert.equal(await page.locator('#error').innerText(), '');
        assert.ok(await page.locator('.files .name', { hasText: name }).count() === 1, 'the new file is listed');
        assert.deepEqual(fs.readFileSync(path.join(qf.musicFolder, name)), bytes);
        await page.goto(qf.url + 'more.html');
        assert.match(await page.locator('.facts').innerText(), /Signed in as\s+dora/);
        assert.deepEqual(await accessibilityViolations(page), []);
        noProblems(page);
      } finally {
        await page.context().close();
      }
    });

    test('a limited user sees why nothing happens', async () => {
      const page = await openPage(browser, device, { httpCredentials: CARL });
      try {
        await page.goto(qf.url);
        await page.getByRole('link', { name: 'Play', exact: true }).click();
        await page.locator('#error', { hasText: 'Operation not allowed.' }).waitFor();
        assert.equal((await qf.status({ user: 'dora', password: 'dora-secret' })).status, 'stop', 'the player did not start');
        const first = page.locator('#pl-list li.track .name').first();
        const title = await first.innerText();
        await page.getByRole('link', { name: `Remove: ${title}`, exact: true }).click();
        assert.ok(await eventually(async () => (await page.locator('#error').innerText()) === 'Operation not allowed.'));
        assert.equal(await first.innerText(), title, 'the entry stays');
        await page.locator('#volume').fill('10');
        assert.ok(await eventually(async () => (await page.locator('#error').innerText()) === 'Operation not allowed.'));
        assert.deepEqual(await accessibilityViolations(page), [], 'the refusal passes the accessibility check');
        await upload(page, `refused ${device.name}.mp3`, Buffer.from('x'));
        assert.equal((await page.locator('#error').innerText()).trim(), 'File upload not allowed.');
        assert.equal(fs.existsSync(path.join(qf.musicFolder, `refused ${device.name}.mp3`)), false);
        noProblems(page);
      } finally {
        await page.context().close();
      }
    });
  });
}

test('a limited user adds one track an hour', async () => {
  const page = await openPage(browser, PHONE, { httpCredentials: CARL });
  try {
    await page.goto(qf.url + 'browse.html?home');
    await page.getByRole('link', { name: 'Nimbus Carrow' }).click();
    await page.getByRole('link', { name: 'Low Orbit Gardens' }).click();
    const adds = page.getByRole('link', { name: /^Add to the playlist/ });
    await adds.nth(0).click();
    await page.locator('#notice', { hasText: 'Added to the playlist' }).waitFor();
    await adds.nth(1).click();
    await page.locator('#error', { hasText: 'Operation not allowed.' }).waitFor();
    await page.goto(qf.url + 'more.html');
    assert.match(await page.locator('.facts').innerText(), /Tracks added this hour\s+1 of 1/);
    noProblems(page);
  } finally {
    await page.context().close();
  }
});
