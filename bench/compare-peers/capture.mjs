// The Puppeteer and the Playwright way of capturing a batch of pages, for bench/compare to time
// against velmora-capture. Each keeps one browser and one page for the whole batch, loads a page
// up to its load event and writes a PNG of the view, or with --full-page of the whole page (each
// tool's own fullPage screenshot).
//
//   node capture.mjs puppeteer|playwright --batch FILE [--width W] [--height H] [--times FILE] [--full-page]
//
// FILE has one "ADDRESS OUTPUT" per line, as velmora-capture's --batch (no blanks inside a part;
// '#' starts a comment). --times writes one line per page: index, load ms, screenshot ms.
// Exit status: 0 every picture written, 1 a page failed (the batch goes on), 2 bad usage.
import { mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { performance } from 'node:perf_hooks';

const chromium = process.env.VELMORA_COMPARE_CHROMIUM || '/usr/bin/chromium';

// The switches velmora-capture's engine starts the browser with (platform/browser/Engine.cpp,
// frames paced), so that the comparison is about how each tool drives the browser, not about how
// the browser is set up. The pipe and the profile folder are each tool's own business.
const engineSwitches = [
  '--headless',
  '--no-first-run',
  '--no-default-browser-check',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
  '--disable-default-apps',
  '--disable-extensions',
  '--disable-breakpad',
  '--disable-features=Translate,MediaRouter,OptimizationHints,BackForwardCache,SpareRendererForSitePerProcess,WebUIOmniboxPopup,WebUIOmniboxAimPopup',
  '--hide-scrollbars',
  '--mute-audio',
  '--disable-gpu',
  '--disable-smooth-scrolling',
  ...(process.getuid() === 0 ? ['--no-sandbox'] : []),
];

function usage(text) {
  process.stderr.write(`capture.mjs: ${text}\n` +
    'usage: node capture.mjs puppeteer|playwright --batch FILE [--width W] [--height H] [--times FILE] [--full-page]\n');
  process.exit(2);
}

function parseArguments(argv) {
  const options = { tool: argv[0], width: 1280, height: 2000, batch: null, times: null, fullPage: false };
  if (options.tool !== 'puppeteer' && options.tool !== 'playwright') usage('the first argument names the tool');
  for (let i = 1; i < argv.length; i += 2) {
    if (argv[i] === '--full-page') {
      options.fullPage = true;
      i -= 1;
      continue;
    }
    const value = argv[i + 1];
    if (value === undefined) usage(`${argv[i]} needs a value`);
    switch (argv[i]) {
      case '--batch': options.batch = value; break;
      case '--times': options.times = value; break;
      case '--width': options.width = Number.parseInt(value, 10); break;
      case '--height': options.height = Number.parseInt(value, 10); break;
      default: usage(`unknown option ${argv[i]}`);
    }
  }
  if (!options.batch) usage('--batch is needed');
  if (!(options.width > 0 && options.height > 0)) usage('the view needs a positive width and height');
  return options;
}

function readBatch(file) {
  const jobs = [];
  for (const raw of readFileSync(file, 'utf8').split('\n')) {
    const line = raw.trim();
    if (line === '' || line.startsWith('#')) continue;
    const parts = line.split(/\s+/);
    if (parts.length !== 2) usage(`a batch line needs ADDRESS and OUTPUT: ${line}`);
    jobs.push({ address: parts[0], output: parts[1] });
  }
  if (jobs.length === 0) usage('the batch lists no pages');
  return jobs;
}

// Both tools behind the same three calls, so that the timed loop is one and the same.
async function openPuppeteer(view, fullPage) {
  const { default: puppeteer } = await import('puppeteer-core');
  const browser = await puppeteer.launch({
    executablePath: chromium,
    ignoreDefaultArgs: true,
    args: [...engineSwitches, 'about:blank'],
    pipe: true,
    defaultViewport: null,
  });
  const page = (await browser.pages())[0] ?? (await browser.newPage());
  await page.setViewport({ width: view.width, height: view.height, deviceScaleFactor: 1 });
  return {
    load: async (address) => { await page.goto(address, { waitUntil: 'load' }); },
    shoot: async (output) => { await page.screenshot({ path: output, type: 'png', fullPage }); },
    close: async () => { await browser.close(); },
  };
}

async function openPlaywright(view, fullPage) {
  const { chromium: playwrightChromium } = await import('playwright-core');
  // With the default switches left out, Playwright expects the caller to name the profile.
  const profile = mkdtempSync(join(tmpdir(), 'velmora-compare-playwright-'));
  const browser = await playwrightChromium.launch({
    executablePath: chromium,
    ignoreDefaultArgs: true,
    args: [...engineSwitches, `--user-data-dir=${profile}`, '--remote-debugging-pipe', '--no-startup-window'],
  });
  const context = await browser.newContext({ viewport: { width: view.width, height: view.height }, deviceScaleFactor: 1 });
  const page = await context.newPage();
  return {
    load: async (address) => { await page.goto(address, { waitUntil: 'load' }); },
    shoot: async (output) => { await page.screenshot({ path: output, type: 'png', fullPage }); },
    close: async () => {
      await browser.close();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}

const options = parseArguments(process.argv.slice(2));
const jobs = readBatch(options.batch);
const view = { width: options.width, height: options.height };
const started = performance.now();
const tool = options.tool === 'puppeteer' ? await openPuppeteer(view, options.fullPage)
                                           : await openPlaywright(view, options.fullPage);
const opened = performance.now();
const times = [`# start ${(opened - started).toFixed(1)}`];
let failed = 0;
for (const [index, job] of jobs.entries()) {
  const t0 = performance.now();
  try {
    await tool.load(job.address);
    const t1 = performance.now();
    await tool.shoot(job.output);
    const t2 = performance.now();
    times.push(`${index + 1} ${(t1 - t0).toFixed(1)} ${(t2 - t1).toFixed(1)}`);
  } catch (error) {
    failed += 1;
    process.stderr.write(`${options.tool}: ${job.address}: ${error.message}\n`);
  }
}
const finished = performance.now();
await tool.close();
times.push(`# close ${(performance.now() - finished).toFixed(1)}`);
if (options.times) writeFileSync(options.times, times.join('\n') + '\n');
process.exit(failed === 0 ? 0 : 1);
