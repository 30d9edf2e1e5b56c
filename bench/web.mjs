// The web page's part of the benchmark (run by bench/web): FreeDict
// German-English through the page in headless Chromium and through the
// native lexaro-import, in turns, to a database in CP1252; and the site's
// size. The page runs on one thread; the native program compresses on
// every core, and runs once more with --jobs 1, the page's own work on one
// thread, against which the page's time is judged.
//
// Page: the seconds from the click on "run" to the summary, and the peak
// memory that the run adds to the page's renderer process (where its worker
// runs): each renderer's peak is reset (/proc/PID/clear_refs) before the
// click, and the run's memory is its peak after less its resident memory
// before. Native: wall time and peak RSS from bench/measure.
//
//   node bench/web.mjs SITE LEXARO_IMPORT MEASURE RESULTS RUNS
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readdirSync, readFileSync, rmSync, statSync,
         symlinkSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join, resolve } from 'node:path';
import { gzipSync } from 'node:zlib';
import { launch, openPage, serve } from '../web/browser.mjs';

const [site, lexaroImport, measure, results, runs] = process.argv.slice(2);
const files = ['index', 'dict.dz'].map((e) => `/usr/share/dictd/freedict-deu-eng.${e}`);
const args = ['--charset=CP1252'];
const mib = (kib) => kib / 1024;

// Targets.
const maxTimeRatio = 2;
const maxMemoryRatio = 2;
const maxSiteKb = 800;

// The processes under pid, and their own.
function processes(pid) {
  const children = [];
  for (const entry of readdirSync('/proc').filter((name) => /^\d+$/.test(name))) {
    try {
      const stat = readFileSync(`/proc/${entry}/stat`, 'utf8');
      if (Number(stat.slice(stat.lastIndexOf(')') + 2).split(' ')[1]) === pid) children.push(Number(entry));
    } catch {
      // gone meanwhile
    }
  }
  return children.flatMap((child) => [child, ...processes(child)]);
}

function renderers(pid) {
  return processes(pid).filter((p) => {
    try {
      return readFileSync(`/proc/${p}/cmdline`, 'utf8').includes('--type=renderer');
    } catch {
      return false;
    }
  });
}

const ticks = Number(execFileSync('getconf', ['CLK_TCK'], { encoding: 'utf8' }));

// User and system CPU seconds of a process so far.
function cpuSeconds(pid) {
  const stat = readFileSync(`/proc/${pid}/stat`, 'utf8');
  const fields = stat.slice(stat.lastIndexOf(')') + 2).split(' ');
  return (Number(fields[11]) + Number(fields[12])) / ticks;
}

function statusKib(pid, field) {
  return Number(new RegExp(`${field}:\\s+(\\d+)`).exec(readFileSync(`/proc/${pid}/status`, 'utf8'))[1]);
}

async function pageRun() {
  const server = await serve(resolve(site));
  const browser = await launch();
  try {
    const page = await openPage(browser, server.url);
    await page.chooseFiles('#files', files);
    await page.waitFor(`document.body.dataset.state === 'ready'`, 60);
    await page.evaluate(`document.getElementById('charset').value = 'CP1252'`);
    const before = new Map();
    const cpuBefore = new Map();
    for (const pid of renderers(browser.pid())) {
      writeFileSync(`/proc/${pid}/clear_refs`, '5');  // the peak starts again from here
      before.set(pid, statusKib(pid, 'VmRSS'));
      cpuBefore.set(pid, cpuSeconds(pid));
    }
    const started = process.hrtime.bigint();
    await page.evaluate(`document.getElementById('run').click()`);
    await page.waitFor(`['done', 'failed'].includes(document.body.dataset.state)`, 1200);
    const seconds = Number(process.hrtime.bigint() - started) / 1e9;
    if ((await page.evaluate(`document.body.dataset.state`)) !== 'done')
      throw new Error(`the page failed: ${await page.evaluate(`document.getElementById('summary').textContent`)}`);
    let grown = 0;
    let cpu = 0;
    for (const [pid, rss] of before) {
      grown = Math.max(grown, statusKib(pid, 'VmHWM') - rss);
      cpu += cpuSeconds(pid) - cpuBefore.get(pid);
    }
    return { seconds, cpu, kib: grown };
  } finally {
    await browser.close();
    await server.close();
  }
}

function nativeRun(folder, jobs) {
  const result = join(folder, 'measure.txt');
  execFileSync(measure, ['-o', result, '--', lexaroImport, ...args, ...jobs, 'freedict-deu-eng.index',
                         'freedict-deu-eng.pdb'], { cwd: folder, stdio: 'ignore' });
  const line = readFileSync(result, 'utf8');
  const field = (name) => Number(new RegExp(`${name}=(\\S+)`).exec(line)[1]);
  if (field('status') !== 0) throw new Error(`lexaro-import ended with status ${field('status')}`);
  return { seconds: field('wall'), cpu: field('user') + field('sys'), kib: field('maxrss_kib') };
}

const median = (values) => [...values].sort((a, b) => a - b)[Math.floor((values.length - 1) / 2)];

const folder = mkdtempSync(join(tmpdir(), 'lexaro-bench-web-'));
const load = () => readFileSync('/proc/loadavg', 'utf8').split(' ').slice(0, 3).join(' ');
const loadBefore = load();
const page = [];
const native = [];
const nativeOne = [];
try {
  for (const file of files) symlinkSync(file, join(folder, basename(file)));
  for (let r = 1; r <= Number(runs); r++) {
    process.stderr.write(`\rdeu-eng: run ${r} of ${runs}   `);
    native.push(nativeRun(folder, []));
    nativeOne.push(nativeRun(folder, ['--jobs', '1']));
    page.push(await pageRun());
  }
  process.stderr.write('\n');
} finally {
  rmSync(folder, { recursive: true, force: true });
}

const siteFiles = readdirSync(site).filter((name) => statSync(join(site, name)).isFile());
const sizes = siteFiles.map((name) => {
  const bytes = readFileSync(join(site, name));
  return { name, bytes: bytes.length, gzipped: gzipSync(bytes, { level: 9 }).length };
});
const total = (key) => sizes.reduce((sum, s) => sum + s[key], 0);

const pageSeconds = median(page.map((r) => r.seconds));
const nativeSeconds = median(native.map((r) => r.seconds));
const oneSeconds = median(nativeOne.map((r) => r.seconds));
const oneCpu = median(nativeOne.map((r) => r.cpu));
const oneMib = mib(Math.max(...nativeOne.map((r) => r.kib)));
const pageCpu = median(page.map((r) => r.cpu));
const nativeCpu = median(native.map((r) => r.cpu));
const pageMib = mib(Math.max(...page.map((r) => r.kib)));
const nativeMib = mib(Math.max(...native.map((r) => r.kib)));
const siteKb = total('gzipped') / 1000;
const verdict = (holds) => (holds ? 'hold' : 'miss');
const version = execFileSync('chromium', ['--version'], { encoding: 'utf8', stdio: ['ignore', 'pipe', 'ignore'] }).trim();

const lines = [
  '',
  '## The web page',
  '',
  `- Date: ${new Date().toISOString().slice(0, 16).replace('T', ' ')} UTC; load average (1, 5, 15 min)`,
  `  before the runs: ${loadBefore}; after: ${load()}; ${version}, headless`,
  '- FreeDict deu-eng (dictd) to a database in CP1252, in turns: `lexaro-import --charset=CP1252',
  '  freedict-deu-eng.index freedict-deu-eng.pdb` (Release build), the same with `--jobs 1`, and',
  '  the page (`make web`), the same files chosen, the same options. The page runs on one thread',
  '  (threads in a page need headers that a plain static host does not send); the native program',
  '  compresses on every core, and with `--jobs 1` does the page\'s work on one. Seconds: median',
  '  of ' + runs + ' runs; the page from the click on its button to the summary. CPU seconds (user + system,',
  '  median): native, of all its threads; the page, its renderer process\'s. Memory: the largest of',
  '  the runs; native, the peak RSS; the page, the peak that the run adds to its renderer process',
  '  (the page and its worker).',
  '',
  '| | seconds | CPU seconds | peak memory MiB |',
  '|---|---:|---:|---:|',
  `| lexaro-import | ${nativeSeconds.toFixed(2)} | ${nativeCpu.toFixed(2)} | ${nativeMib.toFixed(1)} |`,
  `| lexaro-import --jobs 1 | ${oneSeconds.toFixed(2)} | ${oneCpu.toFixed(2)} | ${oneMib.toFixed(1)} |`,
  `| the page | ${pageSeconds.toFixed(2)} | ${pageCpu.toFixed(2)} | ${pageMib.toFixed(1)} |`,
  `| page / native --jobs 1 | **${(pageSeconds / oneSeconds).toFixed(2)}** | ${(pageCpu / oneCpu).toFixed(2)} |` +
    ` **${(pageMib / oneMib).toFixed(2)}** |`,
  `| page / native, every core | ${(pageSeconds / nativeSeconds).toFixed(2)} | ${(pageCpu / nativeCpu).toFixed(2)} |` +
    ` ${(pageMib / nativeMib).toFixed(2)} |`,
  '',
  '| site file | bytes | gzip -9 bytes |',
  '|---|---:|---:|',
  ...sizes.map((s) => `| ${s.name} | ${s.bytes} | ${s.gzipped} |`),
  `| all | ${total('bytes')} | **${total('gzipped')}** |`,
  '',
  'Targets:',
  '',
  `- deu-eng in the page within ${maxTimeRatio}× the native time on one thread: ` +
    `${verdict(pageSeconds <= maxTimeRatio * oneSeconds)} (${(pageSeconds / oneSeconds).toFixed(2)}×; ` +
    `${(pageSeconds / nativeSeconds).toFixed(2)}× the native run on every core)`,
  `- its memory within ${maxMemoryRatio}× the native peak: ${verdict(pageMib <= maxMemoryRatio * oneMib)}` +
    ` (${(pageMib / oneMib).toFixed(2)}×)`,
  `- the site under ${maxSiteKb} KB gzipped: ${verdict(siteKb < maxSiteKb)} (${siteKb.toFixed(0)} KB)`,
  '',
  'Command: `bench/web` (part of `make bench`)',
];
// This section in place of an earlier one, which ends where the next
// top-level section (lexaro-dump's) begins.
const heading = '\n## The web page\n';
let text = readFileSync(results, 'utf8');
const at = text.indexOf(heading);
if (at >= 0) {
  const next = text.indexOf('\n# ', at + 1);
  text = text.slice(0, at) + (next >= 0 ? text.slice(next) : '\n');
}
const dump = text.indexOf('\n# ');
const section = `${lines.join('\n')}\n`;
text = dump >= 0 ? `${text.slice(0, dump)}${section}${text.slice(dump)}` : `${text.replace(/\n*$/, '\n')}${section}`;
writeFileSync(results, text);
console.log(lines.join('\n'));
