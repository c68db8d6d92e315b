// The skins base and classic in headless Chromium against a real quenforth without user accounts (every
// visitor may do everything), on a phone's viewport and a desktop's.

import { after, before, describe, test } from 'node:test';
import assert from 'node:assert/strict';
import { Quenforth } from '../lib/quenforth.mjs';
import { DESKTOP, PHONE, accessibilityViolations, eventually, launch, openPage } from '../lib/browser.mjs';

const qf = new Quenforth();
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

async function noViolations(page, what, skip) {
  assert.deepEqual(await accessibilityViolations(page, skip), [], `${what}: no serious or critical accessibility violation`);
}

// The skin classic exists to refresh itself for devices without scripts, which the rule meta-refresh
// refuses whatever the interval; its administrators set the interval, or none, on its settings page.
const CLASSIC_SKIPS = ['meta-refresh'];

for (const device of [PHONE, DESKTOP]) {
  describe(`base on a ${device.name}`, () => {
    let page;
    before(async () => {
      await qf.get('/?skin=base');
      page = await openPage(browser, device);
    });
    after(async () => { await page.context().close(); });

    test('play and pause are shown within 2 s without a reload', async () => {
      await qf.get('/?stop');
      await page.goto(qf.url);
      await page.evaluate(() => { window.stillTheSamePage = true; });
      await qf.get('/?play');
      assert.ok(await eventually(() => page.locator('body[data-state="play"]').count(), 2000), 'shows playing within 2 s');
      assert.equal(await page.locator('#state').innerText(), 'Playing');
      await qf.get('/?pause');
      assert.ok(await eventually(() => page.locator('body[data-state="pause"]').count(), 2000), 'shows paused within 2 s');
      assert.equal(await page.locator('#state').innerText(), 'Paused');
      // The page's own controls, and the time moving on while playing.
      await page.getByRole('link', { name: 'Play', exact: true }).click();
      assert.ok(await eventually(async () => (await qf.status()).status === 'play'), 'the player plays');
      const before = await page.locator('[data-live="elapsed"]').innerText();
      assert.ok(await eventually(async () => (await page.locator('[data-live="elapsed"]').innerText()) !== before),
        'the elapsed time moves');
      assert.equal(await page.evaluate(() => window.stillTheSamePage), true, 'the page was never reloaded');
      noProblems(page);
    });

    test('clicking the bar seeks there', async () => {
      await page.goto(qf.url + '?play');
      const bar = page.locator('#seek');
      const box = await bar.boundingBox();
      await bar.click({ position: { x: box.width * 0.75, y: box.height / 2 } });
      assert.ok(await eventually(async () => {
        const percent = (await qf.status()).percent;
        return percent >= 65 && percent <= 90;
      }), 'the track is three quarters through');
      await page.getByRole('link', { name: 'Stop', exact: true }).click();
      assert.ok(await eventually(async () => (await qf.status()).status === 'stop'));
      noProblems(page);
    });

    test('volume, balance and the switches', async () => {
      await page.goto(qf.url);
      await page.locator('#volume').fill('40');
      assert.ok(await eventually(async () => (await qf.status()).volume === 40), 'volume 40');
      await page.locator('#balance').fill('-30');
      assert.ok(await eventually(async () => (await qf.status()).balance === -30), 'balance -30');
      const shuffle = page.locator('a[href="?shuffle"]');
      const was = await shuffle.getAttribute('data-on');
      await shuffle.click();
      assert.ok(await eventually(async () => (await shuffle.getAttribute('data-on')) !== was), 'the switch shows the change');
      await shuffle.click();
      await page.locator('#eq summary').click();
      await page.locator('input[name="3_seteq"]').fill('50');
      assert.ok(await eventually(async () => Math.abs((await qf.status()).band3 - 50) <= 4), 'the band moved');
      await noViolations(page, 'now playing with the equaliser open');
      await page.locator('#volume').fill('100');
      await page.locator('#balance').fill('0');
      noProblems(page);
    });

    test('a file added from Browse shows in the playlist', async () => {
      await page.goto(qf.url + 'browse.html?home');
      await page.getByRole('link', { name: 'Nimbus Carrow' }).click();
      await page.getByRole('link', { name: 'Low Orbit Gardens' }).click();
      await noViolations(page, 'browse');
      const tracksBefore = Number((await qf.status()).tracks);
      await page.getByRole('link', { name: 'Add to the playlist: 02 Hydroponic Dawn.mp3' }).click();
      await page.locator('#notice', { hasText: 'Added to the playlist' }).waitFor();
      assert.equal(Number((await qf.status()).tracks), tracksBefore + 1);
      await page.goto(qf.url + 'playlist.html');
      await noViolations(page, 'the playlist');
      const added = page.locator('#pl-list li.track').last();
      assert.match(await added.textContent(), /Hydroponic Dawn/);
      // The playlist comes in pages of 25: the new last entry is on the last page.
      if (tracksBefore + 1 > 25) {
        assert.equal(await added.isVisible(), false);
        await page.getByRole('button', { name: 'Next page' }).click();
      }
      assert.equal(await added.isVisible(), true);
      assert.match(await page.locator('.summary').first().innerText(), new RegExp(`^${tracksBefore + 1} tracks`));
      noProblems(page);
    });

    test('entries move and go', async () => {
      await page.goto(qf.url + '?stop');
      const items = page.locator('#pl-list li.track .name');
      const second = await items.nth(1).innerText();
      const third = await items.nth(2).innerText();
      await page.getByRole('link', { name: `Move down: ${second}`, exact: true }).click();
      assert.ok(await eventually(async () => (await items.nth(2).innerText()) === second), 'moved down');
      assert.equal(await items.nth(1).innerText(), third);
      await page.getByRole('link', { name: `Move up: ${second}`, exact: true }).click();
      assert.ok(await eventually(async () => (await items.nth(1).innerText()) === second), 'moved up again');
      const tracks = Number((await qf.status()).tracks);
      await page.getByRole('link', { name: `Remove: ${second}`, exact: true }).click();
      assert.ok(await eventually(async () => (await items.nth(1).innerText()) === third), 'removed');
      assert.equal(Number((await qf.status()).tracks), tracks - 1);
      assert.ok(await eventually(async () => (await page.locator('[data-live="tracks"]').innerText()) === String(tracks - 1).padStart(2, '0')),
        'the count above the list follows');
      noProblems(page);
    });

    test('library search, pages and ratings', async () => {
      await page.goto(qf.url + 'library.html');
      await noViolations(page, 'the library');
      const all = Number(await page.locator('[data-ml-results]').innerText());
      assert.ok(all > 20, 'more results than one page');
      await page.getByRole('link', { name: 'Next page' }).click();
      await page.waitForURL(/ml_page=1/);
      assert.match(await page.locator('#ml-pager').innerText(), /Page 2 of 2/);
      await page.getByLabel('Search titles, artists, albums, genres and file names').fill('Ferryman');
      await page.getByRole('button', { name: 'Search' }).click();
      await page.waitForURL(/search_ml=Ferryman/);
      const results = page.locator('#ml-results li.result');
      assert.equal(await results.count(), 1);
      const stars = device === PHONE ? 4 : 2;
      await results.first().getByRole('link', { name: stars === 4 ? '4 stars' : '2 stars' }).click();
      await page.waitForURL(/rating=/);
      assert.equal(await page.locator('#ml-results li.result .stars').getAttribute('class'), `stars r${stars}`);
      assert.match(await page.locator('#ml-search').inputValue(), /Ferryman/, 'the search is kept');
      // A query by artist, from a result's link.
      await results.first().getByRole('link', { name: 'Marisol Vantebrook' }).click();
      assert.equal(await page.locator('#ml-query').inputValue(), 'artist = "Marisol Vantebrook"');
      assert.equal(await results.count(), 8);
      await results.first().getByRole('link', { name: /^Add to the playlist/ }).click();
      await page.locator('#notice', { hasText: 'Added to the playlist' }).waitFor();
      noProblems(page);
    });

    test('the other pages pass the accessibility check', async () => {
      for (const document of ['', 'more.html', 'playlist.html?search_playlist_string=Salt']) {
        await page.goto(qf.url + document);
        await noViolations(page, document || 'now playing');
      }
      assert.ok(await page.locator('#pl-list li.track').count() >= 1, 'the filter finds Salt Hours');
      // Nothing is wider than the screen.
      const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
      assert.ok(overflow <= 0, `no horizontal scrolling (${overflow} px)`);
      noProblems(page);
    });

    test('switch to classic and back', async () => {
      try {
        await page.goto(qf.url + 'more.html');
        await page.getByRole('link', { name: 'classic', exact: true }).click();
        await page.locator('text=[Play]').waitFor();
        assert.equal(await page.evaluate(() => document.compatMode), 'BackCompat', 'an HTML 4 page');
        assert.equal(await page.locator('meta[http-equiv="refresh"]').getAttribute('content'), '15; URL=index.html');
        assert.equal(await page.locator('body').getAttribute('bgcolor'), '#f6f3ea');
        assert.equal(await page.locator('script').count(), 0, 'no scripts');
        await noViolations(page, 'classic', CLASSIC_SKIPS);
        await page.getByRole('link', { name: 'Folders' }).click();
        await noViolations(page, 'classic folders', CLASSIC_SKIPS);
        await page.getByRole('link', { name: 'Skins' }).click();
        await page.getByRole('link', { name: 'base', exact: true }).click();
        await page.locator('nav.tabs').waitFor();
        noProblems(page);
      } finally {
        await qf.get('/?skin=base');
      }
    });
  });
}

describe('classic settings', () => {
  test('the settings page changes the colours and the refresh interval', async () => {
    const page = await openPage(browser, DESKTOP);
    try {
      await page.goto(qf.url + '?skin=classic');
      await noViolations(page, 'classic', CLASSIC_SKIPS);
      await page.getByRole('link', { name: 'Settings' }).click();
      await page.getByLabel('Refresh every (seconds)').fill('40');
      await page.getByLabel('Background').fill('#ffffee');
      await page.getByRole('button', { name: 'Save' }).click();
      await page.getByRole('link', { name: 'Player' }).click();
      assert.equal(await page.locator('meta[http-equiv="refresh"]').getAttribute('content'), '40; URL=index.html');
      assert.equal(await page.locator('body').getAttribute('bgcolor'), '#ffffee');
      // Without an interval the page refreshes only by hand, and nothing is left for the rule to refuse.
      await page.goto(qf.url + 'settings.html?inisection=classic&refresh_setini=');
      await page.getByRole('link', { name: 'Player' }).click();
      assert.equal(await page.locator('meta[http-equiv="refresh"]').getAttribute('content'), '; URL=index.html');
      await noViolations(page, 'classic without refreshing');
      // A hostile value is only text.
      await page.goto(qf.url + 'settings.html?inisection=classic&background_setini=%22%3E%3Cscript%3Ealert(1)%3C%2Fscript%3E');
      assert.equal(await page.locator('script').count(), 0);
      assert.equal(await page.locator('body').getAttribute('bgcolor'), '"><script>alert(1)</script>');
      await page.goto(qf.url + 'settings.html?inisection=classic&background_setini=%23f6f3ea&refresh_setini=15');
      noProblems(page);
    } finally {
      await qf.get('/?skin=base');
      await page.context().close();
    }
  });
});

describe('base without JavaScript', () => {
  test('links and forms do everything', async () => {
    const page = await openPage(browser, PHONE, { javaScriptEnabled: false });
    try {
      await page.goto(qf.url);
      await page.getByRole('link', { name: 'Play', exact: true }).click();
      assert.match(page.url(), /\?play$/);
      assert.equal(await page.locator('#state').innerText(), 'Playing');
      await page.locator('#volume').fill('70');
      await page.locator('form:has(#volume) button').click();
      assert.equal(await page.locator('output[for="volume"]').innerText(), '70');
      await page.locator('#seek').fill('50');
      await page.getByRole('button', { name: 'Seek' }).click();
      assert.ok(Number(await page.locator('#seek').inputValue()) >= 45);
      await page.getByRole('link', { name: 'Stop', exact: true }).click();
      assert.equal(await page.locator('#state').innerText(), 'Stopped');
      await page.goto(qf.url + 'browse.html?home');
      await page.getByLabel('Name contains').fill('salt');
      await page.getByRole('button', { name: 'Find' }).click();
      assert.ok(await page.locator('.files .name', { hasText: 'Salt Hours' }).count() >= 1, 'the file search finds it');
      const tracks = Number((await qf.status()).tracks);
      await page.locator('.files li').first().getByRole('link', { name: /^Add to the playlist/ }).click();
      assert.equal(Number((await qf.status()).tracks), tracks + 1);
      await page.goto(qf.url + 'library.html');
      await page.getByLabel('Go to page').fill('1');
      await page.getByRole('button', { name: 'Go' }).click();
      assert.match(page.url(), /ml_page=1/);
      await page.locator('#ml-query').fill('genre = "Rock"');
      await page.getByRole('button', { name: 'Query' }).click();
      assert.ok(await page.locator('#ml-results li.result').count() >= 1);
      await page.goto(qf.url + 'more.html');
      await page.getByRole('button', { name: 'Close the player' }).click();
      assert.equal(page.url().includes('close'), false, 'nothing is sent without the tick');
      noProblems(page);
    } finally {
      await page.context().close();
    }
  });
});
