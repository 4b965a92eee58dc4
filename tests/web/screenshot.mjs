// The README's picture of the web build: the page in headless chromium, played
// from its button, photographed 14 s in (wave lines and credits).
// Usage: node screenshot.mjs SITE_DIR OUT.png
import path from "node:path";
import * as web from "./lib.mjs";

const [siteDir, out] = process.argv.slice(2);
const site = await web.serve(path.resolve(siteDir));
const browser = await web.launch();
try {
  const page = await web.openPage(browser.context);
  await page.goto(site.url);
  await web.waitForState(page, ["ready"], 30000);
  await page.click("#play");
  await page.waitForFunction(() => window.vornaModule.musicState && window.vornaModule.musicState(),
                             null, { timeout: 30000 });
  await page.waitForTimeout(14000);
  await page.mouse.move(0, 0);
  await page.screenshot({ path: out });
} finally {
  await browser.close();
  site.close();
}
