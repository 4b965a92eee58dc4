// The web build's benchmark (bench/web runs it): frame time per timeline
// window in headless chromium against a WebGL page that only clears its
// canvas, the desktop demo's frame time against its empty loop on the same
// machine, where the browser's frame time goes, and how far each window's
// frame is from the desktop's. Prints numbers; not a test.
//
// Usage: node bench.mjs --site DIR --demo PATH --rig PATH --swap-clock PATH
//                       --empty PATH --assets DIR [--frames N] [--rounds R]
import { execFile } from "node:child_process";
import fs from "node:fs";
import os from "node:os";
import path from "node:path";
import * as web from "./lib.mjs";

const options = { frames: "300", rounds: "3" };
for (let i = 2; i + 1 < process.argv.length; i += 2)
  options[process.argv[i].replace(/^--/, "")] = process.argv[i + 1];
const frames = Number(options.frames);
const rounds = Number(options.rounds);
const warmup = 10;  // frames dropped at the start of each run (shader compiles)
const windows = [
  { name: "0-10 s starfield", ticks: 5000 },
  { name: "10-20 s wave", ticks: 15000 },
  { name: "20-25 s radar", ticks: 22500 },
  { name: "25-30 s caption", ticks: 27500 },
];
const held = (ms) => new Array(frames).fill(ms).join(",");
// The baselines run longer: they are short frames, and a moment of load on a
// shared machine would otherwise weigh on every ratio.
const baselineFrames = 3 * frames;

// The clear-only page: the same canvas and context attributes as the demo's
// page in test mode, cleared every animation frame.
const clearPage = `<!doctype html><meta charset="utf-8"><title>clear</title>
<link rel="icon" href="data:,"><body style="margin:0;background:#000">
<canvas id="canvas" width="1280" height="720"></canvas><script>
const gl = document.getElementById("canvas").getContext("webgl",
    {alpha: false, antialias: false, depth: true, stencil: false, preserveDrawingBuffer: true});
let left = Number(new URLSearchParams(location.search).get("frames"));
function frame() {
  gl.clearColor(0, 0, 0, 0);
  gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
  if (--left > 0) requestAnimationFrame(frame); else document.body.dataset.state = "done";
}
requestAnimationFrame(frame);
</script>`;

// Every animation-frame callback is stamped as it starts. In the frame that
// finishes the run (the page's state turns "done") one pixel is read back,
// which waits until the GPU process (SwiftShader) has drawn every frame sent so
// far, and the time after it is the last stamp: the page's main thread runs
// ahead of the GPU, so only the whole run's time counts its drawing. Reading
// back in every frame would serialise the two (and SwiftShader then draws some
// frames differently).
const stampFrames = () => {
  window.frameStamps = [];
  const pixel = new Uint8Array(4);
  const request = window.requestAnimationFrame.bind(window);
  window.requestAnimationFrame = (callback) => request((time) => {
    window.frameStamps.push(performance.now());
    callback(time);
    if (document.body.dataset.state !== "done") return;
    const gl = document.getElementById("canvas").getContext("webgl");
    gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
    window.frameStamps.push(performance.now());
  });
};

// The mean frame time (ms) of a run after its first `warmup` frames.
function meanFrame(stamps) {
  return (stamps[stamps.length - 1] - stamps[warmup]) / (stamps.length - 1 - warmup);
}

function intervals(stamps) {
  const out = [];
  for (let k = warmup; k + 1 < stamps.length; ++k) out.push(stamps[k + 1] - stamps[k]);
  return out;
}

function stats(values) {
  const sorted = [...values].sort((a, b) => a - b);
  const n = sorted.length;
  const median = n % 2 ? sorted[(n - 1) / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
  return { median, mean: values.reduce((a, b) => a + b, 0) / n };
}

// Counts the page's WebGL calls by name, for a run of its own.
const countCalls = () => {
  window.glCalls = {};
  const proto = WebGLRenderingContext.prototype;
  for (const name of Object.getOwnPropertyNames(proto)) {
    const descriptor = Object.getOwnPropertyDescriptor(proto, name);
    if (typeof descriptor.value !== "function" || name === "constructor") continue;
    const real = descriptor.value;
    proto[name] = function (...args) {
      window.glCalls[name] = (window.glCalls[name] ?? 0) + 1;
      return real.apply(this, args);
    };
  }
};

async function browserRun(context, url, profile = false, count = false) {
  const page = await web.openPage(context);
  await page.addInitScript(stampFrames);
  if (count) await page.addInitScript(countCalls);
  await page.goto(url);
  let session = null;
  if (profile) {  // the frames only, from the end of the warm-up on
    session = await context.newCDPSession(page);
    await session.send("Profiler.enable");
    await session.send("Profiler.setSamplingInterval", { interval: 200 });
    await page.waitForFunction((n) => window.frameStamps.length > n, warmup, { timeout: 300000 });
    await session.send("Profiler.start");
  }
  const state = await web.waitForState(page, ["done", "error", "ended"], 300000);
  if (state !== "done") throw new Error(`${url} ended in state ${state}`);
  const result = { stamps: await page.evaluate(() => window.frameStamps) };
  if (count) result.calls = await page.evaluate(() => window.glCalls);
  if (session) result.profile = (await session.send("Profiler.stop")).profile;
  if (url.includes("ticks=")) result.frame = await web.canvasPixels(page);
  await page.close();
  return result;
}

// Main-thread time of a CPU profile by where it ran: the GL emulation and the
// rest of Emscripten's JavaScript (vorna.js), our code compiled to WebAssembly
// (vorna.wasm), and the browser's own work (the WebGL calls, which hand their
// commands to the GPU process, garbage collection, the page's compositing);
// idle time is left out.
function profileShares(profile) {
  const byId = new Map(profile.nodes.map((node) => [node.id, node]));
  const time = { js: 0, wasm: 0, browser: 0, idle: 0 };
  const native = new Map();  // the browser's share by entry: WebGL calls, (program), (garbage collector)
  for (let i = 0; i < profile.samples.length; ++i) {
    const frame = byId.get(profile.samples[i]).callFrame;
    const dt = profile.timeDeltas[i + 1] ?? 0;
    if (frame.url.endsWith("vorna.js")) time.js += dt;
    else if (frame.url.endsWith(".wasm")) time.wasm += dt;
    else if (frame.functionName === "(idle)") time.idle += dt;
    else {
      time.browser += dt;
      const name = frame.functionName || "(anonymous)";
      native.set(name, (native.get(name) ?? 0) + dt);
    }
  }
  const busy = time.js + time.wasm + time.browser;
  const top = [...native].sort((a, b) => b[1] - a[1]).slice(0, 3)
      .map(([name, dt]) => `${name} ${(dt / busy * 100).toFixed(0)}%`).join(", ");
  return { js: time.js / busy, wasm: time.wasm / busy, browser: time.browser / busy, top };
}

function run(program, args, env, cwd) {
  return new Promise((resolve, reject) => {
    execFile(program, args, { env: { ...process.env, ...env }, cwd, timeout: 600000 },
             (error, stdout, stderr) => (error ? reject(new Error(`${program}: ${stderr}`)) : resolve(stdout)));
  });
}

// Desktop frame times (ms) from the swap clock's log, and the last frame.
async function desktopRun(ticks) {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), "vorna-bench-"));
  try {
    const log = path.join(dir, "swaps.log");
    const env = { SDL_AUDIODRIVER: "disk", SDL_DISKAUDIOFILE: "/dev/null", SDL_DISKAUDIODELAY: "11",
                  BENCH_SWAP_LOG: log };
    if (ticks === undefined) {
      await run(options.empty, [String(baselineFrames)], { ...env, LD_PRELOAD: options["swap-clock"] });
    } else {
      await run(options.demo, [], {
        ...env, LD_PRELOAD: `${options["swap-clock"]}:${options.rig}`, RIG_TICKS: held(ticks),
        RIG_EVENTS: `${frames - 1}:escape`, RIG_FRAME_DIR: dir, RIG_SAVE_FRAMES: String(frames - 1),
      }, options.assets);
    }
    const stamps = fs.readFileSync(log, "utf8").split("\n").filter((line) => line.startsWith("swap "))
        .map((line) => Number(line.split(" ")[2]) / 1e6);
    const frame = ticks === undefined ? null : web.readPpm(fs.readFileSync(
        path.join(dir, `frame-${String(frames - 1).padStart(5, "0")}.ppm`)));
    // The saved frame's read-back slows that swap: leave it out.
    return { times: intervals(stamps).slice(0, -1), frame };
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

const site = await web.serve(path.resolve(options.site), { "/clear.html": clearPage });
// Animation frames as fast as the page can draw them, not at the display's rate.
const browser = await web.launch(["--disable-gpu-vsync", "--disable-frame-rate-limit"]);
const version = (await run(web.CHROMIUM, ["--version"], {})).trim();
// Per window and round: mean frame times (ms) of the window and of the
// baseline measured just before it, in the browser and on the desktop.
const timed = {}, frameOf = {}, shares = {};
const clearUrl = `${site.url}clear.html?frames=${baselineFrames}`;
try {
  // A first page starts the GPU process and compiles its shaders: not timed.
  await browserRun(browser.context, clearUrl);
  for (let r = 0; r < rounds; ++r) {
    for (const w of windows) {
      const clear = meanFrame((await browserRun(browser.context, clearUrl)).stamps);
      const inBrowser = await browserRun(browser.context, `${site.url}?ticks=${held(w.ticks)}`);
      const empty = stats((await desktopRun()).times).mean;
      const onDesktop = await desktopRun(w.ticks);
      (timed[w.name] ??= []).push({ clear, web: meanFrame(inBrowser.stamps), empty,
                                    desk: stats(onDesktop.times).mean });
      frameOf[w.name] = web.difference(inBrowser.frame, onDesktop.frame);
    }
  }
  for (const w of windows) {
    const profiled = await browserRun(browser.context, `${site.url}?ticks=${held(w.ticks)}`, true);
    shares[w.name] = profileShares(profiled.profile);
    // Calls per frame: two runs of different lengths, so that start-up cancels out.
    const short = await browserRun(browser.context, `${site.url}?ticks=${w.ticks},${w.ticks}`, false, true);
    const long = await browserRun(browser.context, `${site.url}?ticks=${held(w.ticks)}`, false, true);
    const perFrame = (name) => ((long.calls[name] ?? 0) - (short.calls[name] ?? 0)) / (frames - 2);
    const names = Object.keys(long.calls);
    shares[w.name].calls = names.reduce((sum, name) => sum + perFrame(name), 0);
    shares[w.name].draws = perFrame("drawArrays") + perFrame("drawElements");
  }
} finally {
  await browser.close();
  site.close();
}

const row = (...cells) => console.log("  " + cells.map((c, i) =>
    (i === 0 ? c.padEnd(20) : String(c).startsWith("  ") ? c : String(c).padStart(10))).join("").trimEnd());
console.log(`Browser: ${version}, headless, SwiftShader WebGL, animation frames unthrottled;`);
console.log(`${rounds} rounds of ${frames} frames per window, the first ${warmup} of each run dropped;`);
console.log("the clock held inside the window (test mode ?ticks=, the rig's RIG_TICKS on the desktop).");
row("window", "web ms", "clear ms", "x clear", "desk ms", "empty ms", "x empty", "web/desk", "target");
let missed = 0;
for (const w of windows) {
  const runs = timed[w.name];
  const mean = (key) => stats(runs.map((run) => run[key])).mean;
  // The ratio of each round from its own baselines; the median over rounds.
  const ratio = stats(runs.map((run) => (run.web / run.clear) / (run.desk / run.empty))).median;
  if (ratio > 1.5) missed += 1;
  row(w.name, mean("web").toFixed(2), mean("clear").toFixed(2), (mean("web") / mean("clear")).toFixed(2),
      mean("desk").toFixed(2), mean("empty").toFixed(2), (mean("desk") / mean("empty")).toFixed(2),
      ratio.toFixed(2), ratio <= 1.5 ? "PASS" : "FAIL");
}
console.log("  (mean frame times; each window's baselines, the clear page and the empty loop of");
console.log(`  ${baselineFrames} frames, run just before it in every round; web/desk: the median over rounds`);
console.log("  of (web / clear) / (desk / empty); target: at most 1.5)");
console.log("");
console.log("Where the browser's main thread spends a frame (CPU profile, busy time only):");
row("window", "GL emu JS", "our wasm", "browser", "  the browser's largest entries");
for (const w of windows) {
  const s = shares[w.name];
  row(w.name, `${(s.js * 100).toFixed(1)}%`, `${(s.wasm * 100).toFixed(1)}%`,
      `${(s.browser * 100).toFixed(1)}%`, `  ${s.top}`);
}
console.log("WebGL calls per frame made by the GL emulation (counted in runs of their own):");
row("window", "calls", "draws", "", "", "", "");
for (const w of windows)
  row(w.name, shares[w.name].calls.toFixed(0), shares[w.name].draws.toFixed(0), "", "", "", "");
console.log("");
console.log(`Frame difference, web against desktop, each window's frame ${frames - 1}:`);
row("window", "mean", ">32 share", "", "", "", "");
for (const w of windows)
  row(w.name, frameOf[w.name].mean.toFixed(3), `${(frameOf[w.name].over * 100).toFixed(3)}%`,
      "", "", "", "");
console.log(`verdict: ${missed ? `${missed} of ${windows.length} windows missed` : "every window within target"}`);
