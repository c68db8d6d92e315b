// Writes screenshots of the skins base and classic on a phone's and a desktop's viewport into
// docs/screenshots/ (or the folder given): a real quenforth playing its demo music, in headless Chromium.
//   node screenshots.mjs [FOLDER]

import fs from 'node:fs';
import path from 'node:path';
import { Quenforth, checkout } from './lib/quenforth.mjs';
import { DESKTOP, PHONE, launch, openPage } from './lib/browser.mjs';

const folder = path.resolve(process.argv[2] || path.join(checkout, 'docs/screenshots'));
fs.mkdirSync(folder, { recursive: true });
const qf = new Quenforth();
let browser;
try {
  await qf.start();
  browser = await launch();
  // A track well under way, the next one shown in the playlist.
  await qf.get('/?play&volume=80&trackpos=40&pause');
  for (const skin of ['base', 'classic']) {
    await qf.get(`/?skin=${skin}`);
    for (const device of [PHONE, DESKTOP]) {
      const page = await openPage(browser, device, { deviceScaleFactor: 1 });
      await page.goto(qf.url);
      if (skin === 'base') await page.locator('body[data-state="pause"]').waitFor();
      await page.evaluate(() => document.fonts.ready);
      const file = path.join(folder, `${skin}-${device.name}.png`);
      await page.screenshot({ path: file, animations: 'disabled', caret: 'hide' });
      if (page.problems.length) throw new Error(page.problems.join('\n'));
      console.log(path.relative(checkout, file));
      await page.context().close();
    }
  }
} finally {
  await browser?.close();
  await qf.stop();
}
