// Browser tests of the web build: Debian's chromium, headless, with software
// WebGL, driven by playwright-core. The frames the page draws in test mode are
// compared with the desktop demo's frames at the same clock (the demo under the
// rig, on the X display the test runs under); the page itself is played as a
// user would: click, music, Escape, autoplay to the end, "play again".
//
// The starter example's site is held to its own desktop frames the same way,
// and a shader of it that fails to build must show on its page.
//
// Usage: node test.mjs --site DIR --demo PATH --rig PATH --assets DIR
//                      --starter-site DIR --starter PATH --starter-assets DIR [--keep DIR]
// --keep saves each compared pair of frames there as PPM. Exit status 0 when
// every check passed.
import fs from "node:fs";
import path from "node:path";
import * as web from "./lib.mjs";

const options = {};
for (let i = 2; i + 1 < process.argv.length; i += 2)
  options[process.argv[i].replace(/^--/, "")] = process.argv[i + 1];
for (const name of ["site", "demo", "rig", "assets", "starter-site", "starter", "starter-assets"])
  if (!options[name]) throw new Error(`missing --${name}`);
const desktop = { demo: path.resolve(options.demo), rig: path.resolve(options.rig),
                  assets: path.resolve(options.assets) };
const starter = { demo: path.resolve(options.starter), rig: desktop.rig,
                  assets: path.resolve(options["starter-assets"]) };

let failures = 0;
function check(ok, what, detail = "") {
  console.log(`${ok ? "ok" : "FAIL"}  ${what}${detail ? `: ${detail}` : ""}`);
  if (!ok) failures += 1;
}
const percent = (share) => `${(share * 100).toFixed(3)} %`;

// Tolerances, measured here against the desktop (Mesa llvmpipe) with
// SwiftShader's WebGL; the two rasterisers differ at edges and by rounding:
//   lines (wave, radar): lit pixels in one frame and not the other, as a share
//     of those lit in either: measured 0.05 to 0.43 %
//   whole frames: pixels off by more than 32 in a channel: measured at most 0.032 %
// The stars and the captions must lie on exactly the desktop's pixels.
const LINES_MISMATCH = 0.01;
const FRAME_OVER_32 = 0.0015;

// Frame schedules: the page's query and the rig's clock for the same frames.
const ticks = (list) => ({ query: `ticks=${list.join(",")}`, clock: { RIG_TICKS: list.join(",") },
                           last: list.length - 1 });
const fps = (start, frames) => ({ query: `fps=60&start=${start}&frames=${frames}`,
                                  clock: { RIG_FPS: "60", RIG_START_MS: String(start) },
                                  last: frames - 1 });
const LOGO = { x: 244, y: 464, w: 512, h: 256 };  // where the logo sprite sits, top-left origin

const frameCases = [
  { name: "logo at alpha 0.25 over the starfield at 3 s", ...ticks([2500, 3000]), kind: "logo" },
  { name: "logo at alpha 0.5 over the starfield at 3.5 s", ...ticks([3000, 3500]), kind: "logo" },
  { name: "starfield alone at 5 s", ...ticks([5000]), kind: "stars" },
  { name: "starfield fading out, seen from another side (8.5 s)", ...ticks([8500]), kind: "stars" },
  { name: "wave lines and credits, 2 s into the wave", ...fps(10000, 120), kind: "lines" },
  { name: "wave lines with the eye next to the origin (15.7 s)", ...fps(15000, 45), kind: "lines" },
  // 100 steps in, the divisor is -1.9e-6: the lines' far ends lie millions of
  // units away, and are clipped at the near and far planes.
  { name: "wave lines reaching millions of units (15 s, 100 frames)",
    ...ticks(new Array(100).fill(15000)), kind: "lines" },
  { name: "radar sweep and greetings, 2 s into the radar", ...fps(20000, 120), kind: "lines" },
  { name: "radar sweep seen from another side (24 s)", ...fps(23000, 60), kind: "lines" },
  { name: "greetings alone at 27 s", ...ticks([27000]), kind: "caption" },
];

// The browser's and the desktop's frame for a case, and their whole-frame check.
async function framePair(context, siteUrl, program, c) {
  const [browserFrame, desktopFrame] =
      await Promise.all([web.webFrame(context, siteUrl, c.query),
                         web.desktopFrame(program, c.clock, c.last)]);
  if (options.keep) {
    const stem = path.join(options.keep, path.basename(program.demo) + "_" +
                                         c.query.replace(/[^0-9a-z]+/gi, "_"));
    web.writePpm(`${stem}-web.ppm`, browserFrame);
    web.writePpm(`${stem}-desktop.ppm`, desktopFrame);
  }
  const whole = web.difference(browserFrame, desktopFrame);
  check(whole.over <= FRAME_OVER_32, `${c.name}: the frame matches the desktop's`,
        `${percent(whole.over)} of pixels off by more than 32, mean difference ${whole.mean.toFixed(3)}`);
  return [browserFrame, desktopFrame];
}

async function compareFrames(context, siteUrl) {
  const logoLevels = [];
  for (const c of frameCases) {
    const [browserFrame, desktopFrame] = await framePair(context, siteUrl, desktop, c);
    const lit = [web.litMask(browserFrame), web.litMask(desktopFrame)];
    const mismatch = web.maskMismatch(lit[0], lit[1]);
    if (c.kind === "lines") {
      check(mismatch.share <= LINES_MISMATCH && mismatch.either > 5000,
            `${c.name}: the lines cover the desktop's pixels`,
            `${mismatch.differ} of ${mismatch.either} lit pixels differ (${percent(mismatch.share)})`);
    } else if (c.kind === "stars") {
      check(mismatch.either > 3000 && mismatch.differ === 0,
            `${c.name}: the stars lie on exactly the desktop's pixels`,
            `${mismatch.differ} of ${mismatch.either} lit pixels differ`);
    } else if (c.kind === "caption") {
      const box = [web.bounds(lit[0]), web.bounds(lit[1])];
      check(mismatch.differ === 0 && JSON.stringify(box[0]) === JSON.stringify(box[1]) &&
                mismatch.either > 10000,
            `${c.name}: the caption sits on exactly the desktop's pixels`,
            `lit ${JSON.stringify(box[0])} against ${JSON.stringify(box[1])}`);
    } else if (c.kind === "logo") {
      const levels = [web.meanLevel(browserFrame, LOGO), web.meanLevel(desktopFrame, LOGO)];
      logoLevels.push(levels);
      check(Math.abs(levels[0] - levels[1]) <= 0.5 && levels[1] > 5,
            `${c.name}: the logo is as bright as on the desktop`,
            `mean level ${levels[0].toFixed(2)} against ${levels[1].toFixed(2)}`);
    }
  }
  // The fade goes on: twice the alpha, about twice the level (stars included).
  const [a, b] = logoLevels;
  check(b[0] > a[0] * 1.6, "the logo fades in from 3 s to 3.5 s",
        `mean level ${a[0].toFixed(2)}, then ${b[0].toFixed(2)}`);
}

// The starter: its backdrop is a shader of its own on the prelude, built by
// GLProgram2 from the preloaded files; our starfield and radar over it.
const starterCases = [
  { name: "starter: backdrop and starfield at 1.5 s", ...ticks([1500]) },
  { name: "starter: starfield and radar over the backdrop at 5 s", ...fps(4000, 61) },
  { name: "starter: radar over the backdrop at 9 s", ...fps(8000, 61) },
];

async function compareStarter(context, siteUrl) {
  for (const c of starterCases) await framePair(context, siteUrl, starter, c);
}

// The starter with one letter of its fragment shader wrong, in the data the
// page preloads: the page shows the toolkit's message, which names the file
// and the line the desktop's compiler names, and says so in the console.
async function shaderFailureOnThePage(context, siteUrl) {
  const shader = "shaders/backdrop.frag";
  const prelude = fs.readFileSync(path.join(starter.assets, "shaders/std.glsl"), "latin1");
  const source = fs.readFileSync(path.join(starter.assets, shader), "latin1");
  const line = prelude.split("\n").length - 1 + source.split("\n").findIndex((text) => text.includes("gl_FragColor")) + 1;
  const data = fs.readFileSync(path.join(options["starter-site"], "vorna.data"), "latin1");
  const page = await web.openPage(context);
  await page.route("**/vorna.data", (route) => route.fulfill({
    contentType: "application/octet-stream",
    body: Buffer.from(data.replace("gl_FragColor", "gl_FragColoq"), "latin1"),
  }));
  await page.goto(`${siteUrl}?autoplay`);
  const state = await web.waitForState(page, ["error", "ended"], 30000).catch(() => "playing");
  const shown = await page.textContent("#details");
  check(state === "error" && await page.isVisible("#details") &&
            shown.includes(`${shader}: fragment shader compilation failed:`) &&
            shown.includes(`0:${line}:`) && shown.includes("gl_FragColoq"),
        "a shader that fails to build ends the run with its message on the page",
        `state ${state}, page: ${JSON.stringify(shown)}`);
  check(page.errors.some((error) => error.includes(`${shader}: fragment shader compilation failed`)),
        "... and in the console", page.errors.join(" | "));
  await page.close();
}

// A test-mode run that the demo ends first (its clock past 30 s) is done too,
// on the demo's last frame, which is black.
async function testModeEndsWithTheDemo(context, siteUrl) {
  const pixels = await web.webFrame(context, siteUrl, "ticks=29990,30010,30020,30030");
  const lit = web.maskMismatch(web.litMask(pixels), new Uint8Array(web.WIDTH * web.HEIGHT));
  check(lit.either === 0, "test mode ends with the demo past 30 s, on its black last frame",
        `${lit.either} lit pixels`);
}

// Played as a user plays it: the start screen, a click, music, Escape.
async function clickAndEscape(context, siteUrl) {
  const page = await web.openPage(context);
  await page.goto(siteUrl);
  check(await web.waitForState(page, ["ready"], 30000) === "ready" &&
            await page.isVisible("#play"),
        "the page loads with a start screen and a play button");
  await page.click("#play");
  await page.waitForFunction(() => window.document.body.dataset.state === "playing");
  await page.waitForFunction(() => window.vornaModule.musicState && window.vornaModule.musicState(),
                             null, { timeout: 30000 });
  await page.waitForTimeout(1000);
  const music = await page.evaluate(async () => {
    const first = window.vornaModule.musicState();
    await new Promise((resolve) => setTimeout(resolve, 500));
    return [first, window.vornaModule.musicState()];
  });
  check(music[0] && music[0].playing && !music[0].muted && music[1].time > music[0].time &&
            music[0].duration > 25,
        "after the click the music is loaded and playing, with sound", JSON.stringify(music));
  check(await page.isVisible("#fullscreen") && !(await page.isVisible("#start")),
        "while it plays, only the canvas and a fullscreen button show");
  await page.keyboard.press("Escape");
  const state = await web.waitForState(page, ["ended", "error"], 10000).catch(() => "playing");
  const after = await page.evaluate(() => window.vornaModule.musicState());
  check(state === "ended" && await page.isVisible("#again") && after === null,
        "Escape ends the demo, stops the music and offers to play again", `state ${state}`);
  check(page.errors.length === 0, "no console errors while loading and playing",
        page.errors.join(" | "));
  await page.close();
}

// ?autoplay without a click: the browser refuses sound, so it plays muted, to the end.
async function autoplay(context, siteUrl) {
  const page = await web.openPage(context);
  // Headless chromium plays sound without a click whatever --autoplay-policy
  // says (and counts the page as used), so the page here refuses sound until
  // its first click, as a desktop browser does.
  await page.addInitScript(() => {
    let clicked = false;
    window.addEventListener("pointerdown", () => { clicked = true; }, true);
    const play = HTMLMediaElement.prototype.play;
    HTMLMediaElement.prototype.play = function () {
      if (!this.muted && !clicked)
        return Promise.reject(new DOMException("play() failed because the user didn't interact " +
                                               "with the document first.", "NotAllowedError"));
      return play.call(this);
    };
  });
  const started = Date.now();
  await page.goto(`${siteUrl}?autoplay`);
  await page.waitForFunction(() => window.vornaModule && window.vornaModule.musicState &&
                                   window.vornaModule.musicState(), null, { timeout: 30000 });
  await page.waitForTimeout(1000);
  const music = await page.evaluate(() => window.vornaModule.musicState());
  check(music && music.playing && music.muted, "?autoplay starts at once, muted when sound is refused",
        JSON.stringify(music));
  await page.mouse.click(640, 360);
  const unmuted = await page.evaluate(() => window.vornaModule.musicState());
  check(unmuted && unmuted.playing && !unmuted.muted, "a click then turns the sound on",
        JSON.stringify(unmuted));
  const state = await web.waitForState(page, ["ended", "error"], 60000).catch(() => "playing");
  const seconds = (Date.now() - started) / 1000;
  check(state === "ended" && seconds >= 30 && await page.isVisible("#again"),
        "?autoplay plays to the end and shows \"play again\"", `${state} after ${seconds.toFixed(1)} s`);
  check(page.errors.length === 0, "no console errors while autoplaying", page.errors.join(" | "));
  await page.close();
}

const site = await web.serve(path.resolve(options.site));
const starterSite = await web.serve(path.resolve(options["starter-site"]));
const browser = await web.launch();
try {
  const playing = autoplay(browser.context, site.url);
  await compareFrames(browser.context, site.url);
  await compareStarter(browser.context, starterSite.url);
  await shaderFailureOnThePage(browser.context, starterSite.url);
  await testModeEndsWithTheDemo(browser.context, site.url);
  await clickAndEscape(browser.context, site.url);
  await playing;
} finally {
  await browser.close();
  site.close();
  starterSite.close();
}
console.log(failures ? `${failures} check(s) failed` : "all browser checks passed");
process.exit(failures ? 1 : 0);
