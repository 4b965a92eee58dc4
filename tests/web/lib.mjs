// What the browser tests and the web benchmark share: a static server for the
// site, the system chromium driven headless by playwright-core, frames read
// back from the page in test mode and from the desktop demo under the rig, and
// the ways two frames are compared.
import { execFile } from "node:child_process";
import fs from "node:fs";
import http from "node:http";
import os from "node:os";
import path from "node:path";
import { chromium } from "playwright-core";

export const WIDTH = 1280;
export const HEIGHT = 720;

const types = {
  ".html": "text/html", ".js": "text/javascript", ".wasm": "application/wasm",
  ".data": "application/octet-stream", ".png": "image/png",
};

// Serves `root` on 127.0.0.1 at a free port; extra maps paths to page texts.
export async function serve(root, extra = {}) {
  const server = http.createServer((request, response) => {
    const name = decodeURIComponent(new URL(request.url, "http://host").pathname);
    const send = (status, type, body) => {
      response.writeHead(status, { "content-type": type, "cache-control": "no-store" });
      response.end(body);
    };
    if (name in extra) return send(200, "text/html", extra[name]);
    const file = path.join(root, path.normalize(name === "/" ? "/index.html" : name));
    if (!file.startsWith(root)) return send(403, "text/plain", "");
    fs.readFile(file, (error, body) => {
      if (error) return send(404, "text/plain", "");
      send(200, types[path.extname(file)] || "application/octet-stream", body);
    });
  });
  await new Promise((resolve) => server.listen(0, "127.0.0.1", resolve));
  return { url: `http://127.0.0.1:${server.address().port}/`, close: () => server.close() };
}

// Debian's chromium with its software WebGL (SwiftShader through ANGLE), in a
// fresh profile, quiet: nothing is fetched from anywhere but our server.
export const CHROMIUM = process.env.CHROMIUM || "/usr/bin/chromium";
export const CHROMIUM_ARGS = [
  "--use-angle=swiftshader", "--enable-unsafe-swiftshader", "--no-sandbox",
  "--disable-background-networking", "--disable-component-update", "--disable-sync",
  "--no-first-run",
];

export async function launch(extraArgs = []) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), "vorna-chromium-"));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM, headless: true, args: [...CHROMIUM_ARGS, ...extraArgs],
    viewport: { width: WIDTH, height: HEIGHT },
  });
  return {
    context,
    close: async () => {
      await context.close();
      fs.rmSync(profile, { recursive: true, force: true });
    },
  };
}

// A page that records its console errors and uncaught exceptions.
export async function openPage(context) {
  const page = await context.newPage();
  page.errors = [];
  page.on("console", (message) => {
    if (message.type() === "error") page.errors.push(message.text());
  });
  page.on("pageerror", (error) => page.errors.push(String(error)));
  return page;
}

export async function waitForState(page, states, timeout) {
  await page.waitForFunction((wanted) => wanted.includes(document.body.dataset.state),
                             states, { timeout });
  return page.evaluate(() => document.body.dataset.state);
}

// The canvas as RGB bytes, top row first (the rig's PPM layout).
export async function canvasPixels(page) {
  const base64 = await page.evaluate(() => {
    const source = document.getElementById("canvas");
    const copy = document.createElement("canvas");
    copy.width = source.width;
    copy.height = source.height;
    const context = copy.getContext("2d");
    context.drawImage(source, 0, 0);
    const rgba = context.getImageData(0, 0, copy.width, copy.height).data;
    const rgb = new Uint8Array(copy.width * copy.height * 3);
    for (let i = 0, j = 0; i < rgba.length; i += 4, j += 3) {
      rgb[j] = rgba[i]; rgb[j + 1] = rgba[i + 1]; rgb[j + 2] = rgba[i + 2];
    }
    let text = "";
    for (let i = 0; i < rgb.length; i += 0x8000)
      text += String.fromCharCode.apply(null, rgb.subarray(i, i + 0x8000));
    return btoa(text);
  });
  return Buffer.from(base64, "base64");
}

// The last frame of the web build in test mode for `query` (ticks=... or fps=...).
export async function webFrame(context, siteUrl, query) {
  const page = await openPage(context);
  try {
    await page.goto(`${siteUrl}?${query}`);
    const state = await waitForState(page, ["done", "error", "ended"], 120000);
    if (state !== "done") throw new Error(`web build in test mode ended in state ${state}`);
    if (page.errors.length) throw new Error(`console errors: ${page.errors.join(" | ")}`);
    return await canvasPixels(page);
  } finally {
    await page.close();
  }
}

// The desktop demo's frame `last` under the rig: `clock` is RIG_TICKS or RIG_FPS
// with RIG_START_MS; Escape in that frame ends the run right after it.
export function desktopFrame({ demo, rig, assets }, clock, last) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "vorna-desktop-"));
  const env = {
    ...process.env, ...clock, LD_PRELOAD: rig, RIG_FRAME_DIR: dir,
    RIG_SAVE_FRAMES: String(last), RIG_EVENTS: `${last}:escape`,
    SDL_AUDIODRIVER: "disk", SDL_DISKAUDIOFILE: "/dev/null",
  };
  return new Promise((resolve, reject) => {
    execFile(demo, [], { cwd: assets, env, timeout: 120000 }, (error, stdout, stderr) => {
      try {
        if (error) throw new Error(`desktop demo failed: ${error.message} ${stderr}`);
        const name = path.join(dir, `frame-${String(last).padStart(5, "0")}.ppm`);
        resolve(readPpm(fs.readFileSync(name)));
      } catch (failure) {
        reject(failure);
      } finally {
        fs.rmSync(dir, { recursive: true, force: true });
      }
    });
  });
}

// Binary PPM (P6, maxval 255) as written by the rig: the RGB bytes.
export function readPpm(data) {
  const header = data.subarray(0, 64).toString("latin1").match(/^P6\s+(\d+)\s+(\d+)\s+255\s/);
  if (!header || Number(header[1]) !== WIDTH || Number(header[2]) !== HEIGHT)
    throw new Error("not a 1280x720 P6 frame");
  return data.subarray(header[0].length);
}

// The whole-frame difference: mean absolute difference over all channels and
// the share of pixels that differ by more than 32 in any channel.
export function difference(a, b) {
  let sum = 0, over = 0;
  for (let i = 0; i < a.length; i += 3) {
    const dr = Math.abs(a[i] - b[i]), dg = Math.abs(a[i + 1] - b[i + 1]);
    const db = Math.abs(a[i + 2] - b[i + 2]);
    sum += dr + dg + db;
    if (dr > 32 || dg > 32 || db > 32) over += 1;
  }
  return { mean: sum / a.length, over: over / (a.length / 3) };
}

// Pixels lit (any channel above `floor`) in a rectangle (x, y from the top-left).
export function litMask(rgb, floor = 24, rect = { x: 0, y: 0, w: WIDTH, h: HEIGHT }) {
  const mask = new Uint8Array(WIDTH * HEIGHT);
  for (let y = rect.y; y < rect.y + rect.h; ++y)
    for (let x = rect.x; x < rect.x + rect.w; ++x) {
      const i = (y * WIDTH + x) * 3;
      if (rgb[i] > floor || rgb[i + 1] > floor || rgb[i + 2] > floor) mask[y * WIDTH + x] = 1;
    }
  return mask;
}

// Lit pixels in one mask and not the other, as a share of those lit in either.
export function maskMismatch(a, b) {
  let either = 0, differ = 0;
  for (let i = 0; i < a.length; ++i) {
    if (a[i] || b[i]) either += 1;
    if (a[i] !== b[i]) differ += 1;
  }
  return { either, differ, share: either ? differ / either : 0 };
}

// The smallest rectangle holding every lit pixel.
export function bounds(mask) {
  let x0 = WIDTH, y0 = HEIGHT, x1 = -1, y1 = -1;
  for (let y = 0; y < HEIGHT; ++y)
    for (let x = 0; x < WIDTH; ++x)
      if (mask[y * WIDTH + x]) {
        x0 = Math.min(x0, x); x1 = Math.max(x1, x);
        y0 = Math.min(y0, y); y1 = Math.max(y1, y);
      }
  return { x0, y0, x1, y1 };
}

// Mean of all channels in a rectangle.
export function meanLevel(rgb, rect) {
  let sum = 0;
  for (let y = rect.y; y < rect.y + rect.h; ++y)
    for (let x = rect.x; x < rect.x + rect.w; ++x) {
      const i = (y * WIDTH + x) * 3;
      sum += rgb[i] + rgb[i + 1] + rgb[i + 2];
    }
  return sum / (rect.w * rect.h * 3);
}

export function writePpm(file, rgb) {
  fs.writeFileSync(file, Buffer.concat([Buffer.from(`P6\n${WIDTH} ${HEIGHT}\n255\n`), rgb]));
}
