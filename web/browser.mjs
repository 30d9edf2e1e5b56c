// What the page's tests and benchmark need around the page, with node alone
// (no npm package): a static server for the site on localhost, and headless
// Chromium driven over the DevTools protocol on a pipe
// (--remote-debugging-pipe: JSON messages ended by a zero byte, commands on
// the child's descriptor 3, answers and events on its descriptor 4).
import { spawn } from 'node:child_process';
import { createReadStream, existsSync, statSync } from 'node:fs';
import { mkdtemp, rm } from 'node:fs/promises';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize } from 'node:path';

const types = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.mjs': 'text/javascript; charset=utf-8',
  '.wasm': 'application/wasm',
};

// Serves the folder on 127.0.0.1 at a free port: {url, close()}.
export async function serve(folder) {
  const server = createServer((request, response) => {
    const path = normalize(decodeURIComponent(new URL(request.url, 'http://x').pathname));
    const file = join(folder, path.endsWith('/') ? `${path}index.html` : path);
    if (!file.startsWith(folder) || !existsSync(file) || !statSync(file).isFile()) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, { 'content-type': types[extname(file)] || 'application/octet-stream' });
    createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return {
    url: `http://127.0.0.1:${server.address().port}/`,
    close: () => new Promise((resolve) => server.close(resolve)),
  };
}

const browserNames = ['chromium', 'chromium-browser', 'google-chrome'];

function findBrowser() {
  for (const name of browserNames)
    for (const folder of (process.env.PATH || '').split(':'))
      if (existsSync(join(folder, name))) return join(folder, name);
  throw new Error(`no Chromium found (${browserNames.join(', ')}); install Debian's chromium`);
}

// Starts headless Chromium in a fresh profile: {send(method, params,
// session), events, pid(), close()}. events.on(method, handler) hears the
// browser's events; send gives the result, or throws the protocol's error.
// hostRules: host names mapped to addresses (--host-resolver-rules).
export async function launch({ hostRules } = {}) {
  const profile = await mkdtemp(join(tmpdir(), 'lexaro-chromium-'));
  const child = spawn(findBrowser(), [
    '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
    '--disable-dev-shm-usage', '--remote-debugging-pipe', `--user-data-dir=${profile}`,
    ...(hostRules ? [`--host-resolver-rules=${hostRules}`] : []),
    'about:blank',
  ], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
  let log = '';
  child.stderr.on('data', (chunk) => { log = (log + chunk).slice(-4000); });
  const commands = child.stdio[3];
  const answers = child.stdio[4];
  const pending = new Map();
  const handlers = new Map();
  let next = 1;
  let buffered = '';
  answers.on('data', (chunk) => {
    buffered += chunk;
    let end;
    while ((end = buffered.indexOf('\0')) >= 0) {
      const message = JSON.parse(buffered.slice(0, end));
      buffered = buffered.slice(end + 1);
      if (message.id && pending.has(message.id)) {
        const { resolve, reject, method } = pending.get(message.id);
        pending.delete(message.id);
        if (message.error) reject(new Error(`${method}: ${message.error.message}`));
        else resolve(message.result);
      } else if (message.method) {
        for (const handler of handlers.get(message.method) || []) handler(message.params, message.sessionId);
      }
    }
  });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  exited.then(() => {
    for (const { reject, method } of pending.values())
      reject(new Error(`${method}: Chromium ended\n${log}`));
    pending.clear();
  });
  const send = (method, params = {}, sessionId) => new Promise((resolve, reject) => {
    const id = next++;
    pending.set(id, { resolve, reject, method });
    commands.write(`${JSON.stringify({ id, method, params, ...(sessionId ? { sessionId } : {}) })}\0`);
  });
  await send('Browser.getVersion');
  return {
    send,
    events: {
      on(method, handler) {
        if (!handlers.has(method)) handlers.set(method, []);
        handlers.get(method).push(handler);
      },
    },
    pid: () => child.pid,
    async close() {
      await send('Browser.close').catch(() => {});
      await Promise.race([exited, new Promise((resolve) => setTimeout(resolve, 5000))]);
      if (child.exitCode === null) child.kill();
      await rm(profile, { recursive: true, force: true });
    },
  };
}

// A page of the browser at url: {evaluate(expression), waitFor(expression),
// chooseFiles(selector, paths), session}. evaluate gives the value of the
// expression (awaited when it is a promise); waitFor polls until it is true.
export async function openPage(browser, url) {
  const { targetId } = await browser.send('Target.createTarget', { url: 'about:blank' });
  const { sessionId } = await browser.send('Target.attachToTarget', { targetId, flatten: true });
  const send = (method, params) => browser.send(method, params, sessionId);
  await send('Page.enable');
  await send('Runtime.enable');
  const loaded = new Promise((resolve) => browser.events.on('Page.loadEventFired', (_, id) => {
    if (id === sessionId) resolve();
  }));
  await send('Page.navigate', { url });
  await loaded;
  const evaluate = async (expression) => {
    const { result, exceptionDetails } = await send('Runtime.evaluate', {
      expression, awaitPromise: true, returnByValue: true,
    });
    if (exceptionDetails)
      throw new Error(`${expression}: ${exceptionDetails.exception?.description || exceptionDetails.text}`);
    return result.value;
  };
  return {
    session: sessionId,
    send,
    evaluate,
    async waitFor(expression, seconds = 120) {
      const until = Date.now() + seconds * 1000;
      while (!(await evaluate(expression))) {
        if (Date.now() > until) throw new Error(`timed out waiting for ${expression}`);
        await new Promise((resolve) => setTimeout(resolve, 50));
      }
    },
    async chooseFiles(selector, paths) {
      const { root } = await send('DOM.getDocument', {});
      const { nodeId } = await send('DOM.querySelector', { nodeId: root.nodeId, selector });
      await send('DOM.setFileInputFiles', { nodeId, files: paths });
    },
  };
}
