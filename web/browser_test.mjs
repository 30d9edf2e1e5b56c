// The page end to end, in headless Chromium: for each case it chooses the
// files in the page, sets the options, runs, downloads the database (or
// every volume of it) through the browser, and compares with the native
// lexaro-import run on the same files with the same options in a folder of
// the same names: the exit status, standard error word for word (the page's
// summary or error), the files written, and each database byte for byte
// apart from its three dates. A failure must offer no download. Where a
// case looks a word up, the page's answer must be what the native
// lexaro-dump --lookup prints, over every volume.
//
//   node web/browser_test.mjs SITE NATIVE_BUILD [CASE...]
//
// SITE: the built site (build-web/site); NATIVE_BUILD: the folder of the
// native lexaro-import and lexaro-dump. CASE: names to run (default: all).
// Prints one line a case and exits with 1 when any fails.
import { execFileSync, spawnSync } from 'node:child_process';
import { closeSync, existsSync, mkdirSync, mkdtempSync, openSync, readdirSync, readFileSync, rmSync,
         symlinkSync, writeFileSync, writeSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join, resolve } from 'node:path';
import { launch, openPage, serve } from './browser.mjs';

const [site, build, ...only] = process.argv.slice(2).map((arg, i) => (i < 2 ? resolve(arg) : arg));
if (!site || !build) {
  console.error('usage: node web/browser_test.mjs SITE NATIVE_BUILD [CASE...]');
  process.exit(2);
}
const examples = resolve(new URL('../examples', import.meta.url).pathname);
const makeYomitan = resolve(new URL('../scripts/make-yomitan', import.meta.url).pathname);
const scratch = mkdtempSync(join(tmpdir(), 'lexaro-web-test-'));
const gib4 = 2 ** 32;

// --- inputs the test makes -------------------------------------------------

// dictd's numbers: base64 digits, most significant first.
function dictdNumber(n) {
  const digits = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/';
  let text = '';
  do {
    text = digits[n % 64] + text;
    n = Math.floor(n / 64);
  } while (n > 0);
  return text;
}

// A dictd dictionary of plain files: articles at the offsets given, the
// data file `size` bytes long (a sparse file where it passes what is written).
function writeDictd(folder, name, articles, size) {
  const index = articles.map(([word, offset, text]) =>
    `${word}\t${dictdNumber(offset)}\t${dictdNumber(Buffer.byteLength(text))}\n`).join('');
  writeFileSync(join(folder, `${name}.index`), index);
  const data = openSync(join(folder, `${name}.dict`), 'w');
  for (const [, offset, text] of articles) writeSync(data, text, offset);
  closeSync(data);
  if (size !== undefined) execFileSync('truncate', ['-s', String(size), join(folder, `${name}.dict`)]);
  return [join(folder, `${name}.index`), join(folder, `${name}.dict`)];
}

// Every character of a handheld set, one a line, found by decoding every one-
// and two-byte sequence with glibc's iconv, and a few that no such set has.
function setCharacters(set) {
  const lines = [];
  const eightBit = /^(CP|KOI8|PALM)/.test(set);
  if (eightBit) for (let b = 0x80; b < 0x100; b++) lines.push(Buffer.from([b, 10]));
  else
    for (let lead = 0x81; lead < 0xff; lead++)
      for (let trail = 0x40; trail < 0xff; trail++) lines.push(Buffer.from([lead, trail, 10]));
  if (set === 'SHIFT_JIS') for (let b = 0xa1; b < 0xe0; b++) lines.push(Buffer.from([b, 10]));
  // glibc has no Palm Latin: CP1252's characters, and the suits below.
  const decoded = spawnSync('iconv', ['-c', '-f', set === 'PALM-LATIN' ? 'CP1252' : set, '-t', 'UTF-8'],
                            { input: Buffer.concat(lines) });
  const characters = new Set(decoded.stdout.toString('utf8').split('\n').filter((line) => line));
  // Beside a few characters of other sets: the suits, decomposed letters and
  // compatibility forms, and the characters of Windows' code pages.
  for (const other of ['é', 'ß', '€', '„', '…', '—', 'Ω', 'ж', '中', '日', '한', '\\', '~', '¥', '‾', '😀',
                       '♦♣♥♠', 'cafe\u0301', 'Vie\u0323\u0302t', 'ᵒʳ', 'ﬁ', '①', 'Ｈａｕｓ', '～∥－', '·'])
    characters.add(other);
  return [...characters];
}

// A Yomitan dictionary made by scripts/make-yomitan (options: its own), and
// `damage` applied to its bytes.
function writeYomitan(folder, name, options, damage = (bytes) => bytes) {
  const file = join(folder, name);
  execFileSync('python3', [makeYomitan, file, ...options]);
  writeFileSync(file, damage(readFileSync(file)));
  return [file];
}

// A tab-separated dictionary of the set's characters: each is a word, its
// code points the translation, then the character itself.
function writeSetDictionary(folder, set) {
  const codes = (text) => [...text].map((c) => `U+${c.codePointAt(0).toString(16).toUpperCase()}`).join(' ');
  const lines = setCharacters(set).map((c) => `${c}\t${codes(c)} ${c}\n`);
  const file = join(folder, `${set.toLowerCase()}-characters.tab`);
  writeFileSync(file, lines.join(''));
  return [file];
}

// The table of characters that the native tests check on Linux and under
// wine (tests/data/handheld_charsets.tsv), here through the page: a
// dictionary a set, a word a row. An encode row's characters, between two
// x's, are written in its set with --charset; a decode row's bytes are read
// with --input-charset and written in UTF-8. expect: each word's translation
// as the table has it, which lexaro-dump --text must find in the page's
// database.
const tableFile = resolve(new URL('../tests/data/handheld_charsets.tsv', import.meta.url).pathname);
const tableRows = readFileSync(tableFile, 'utf8').split('\n')
  .filter((line) => line && !line.startsWith('#'))
  .map((line) => {
    const [direction, set, from, to, about] = line.split('\t');
    return { direction, set, from, to, about };
  });
const characters = (codes) => Buffer.from(
  String.fromCodePoint(...codes.split(' ').map((code) => parseInt(code.slice(2), 16))));
const bytes = (hex) => Buffer.from(hex.split(' ').map((byte) => parseInt(byte, 16)));
const framed = (inside) => Buffer.concat([Buffer.from('x'), inside, Buffer.from('x')]);

function tableCases() {
  const groups = new Map();
  for (const row of tableRows) {
    const key = `${row.direction} ${row.set}`;
    if (!groups.has(key)) groups.set(key, []);
    groups.get(key).push(row);
  }
  return [...groups.values()].map((rows) => {
    const { direction, set } = rows[0];
    const encode = direction === 'encode';
    const word = (i) => `row${i + 1}`;
    return {
      name: `table-${direction}-${set}`,
      args: ['--format=tab', encode ? `--charset=${set}` : `--input-charset=${set}`],
      files: (folder) => {
        const file = join(folder, `${direction}-${set.toLowerCase()}.tab`);
        writeFileSync(file, Buffer.concat(rows.map((row, i) => Buffer.concat([
          Buffer.from(`${word(i)}\t`), framed(encode ? characters(row.from) : bytes(row.from)),
          Buffer.from('\n')]))));
        return [file];
      },
      expect: rows.map((row, i) => ({
        word: word(i), about: row.about,
        translation: framed(encode ? bytes(row.to) : characters(row.to)),
      })),
    };
  });
}

// The sets the handheld shows, which the page offers.
const handheldSets = ['PALM-LATIN', 'CP1250', 'CP1251', 'CP1252', 'CP1253', 'CP1254', 'CP1255', 'CP1256',
                      'CP1257', 'CP1258', 'KOI8-R', 'SHIFT_JIS', 'BIG5', 'GB2312'];

// --- the cases -------------------------------------------------------------

// name; files: made in the folder given, or paths; inputs: the names of the
// files that the run names, in their order (default: the one of a single
// dictionary); args: lexaro-import's options, set in the page; found: what
// the page shows of the files chosen (its beginning), listed: lines of it;
// database: the download's name; lookup: a word looked up with the run's
// --charset; plainHttp: served from a host that is no secure context;
// error: the page's message where no native run compares (a 32-bit limit);
// expect: translations that the page's database must hold, byte for byte;
// needs: a file without which the case is skipped.
const stardict = () => ['ifo', 'idx', 'dict.dz'].map((e) => `/usr/share/stardict/dic/czech-cizi.${e}`);
const deuEng = () => ['index', 'dict.dz'].map((e) => `/usr/share/dictd/freedict-deu-eng.${e}`);

const cases = [
  { name: 'sample', files: () => [join(examples, 'en-fr.txt')], args: ['--charset=CP1252'],
    found: 'lexaro source dictionary: en-fr.txt', database: 'en-fr.pdb', lookup: 'cat' },
  { name: 'stardict-cp1250', files: stardict, args: ['--charset=CP1250'], lookup: 'žargon',
    found: 'StarDict dictionary: czech-cizi.ifo, czech-cizi.idx, czech-cizi.dict.dz',
    database: 'czech-cizi.pdb' },
  // The options of the options fold, and a plain http host, which is no
  // secure context: the files a run makes stay in the worker's memory.
  { name: 'stardict-options-plain-http', files: stardict, plainHttp: true, lookup: 'zargon',
    args: ['--charset=CP1250', '--fold-case', '--fold-accents', '--title=Cizí slova', '--join= / ',
           '--newline= ~ ', '--words-per-block=300'], database: 'czech-cizi.pdb' },
  { name: 'freedict-deu-eng', files: deuEng, args: ['--charset=CP1252'], lookup: 'Haus',
    found: 'dictd dictionary: freedict-deu-eng.index, freedict-deu-eng.dict.dz',
    database: 'freedict-deu-eng.pdb' },
  // Cut into volumes, each a download; the word looked up in the last one.
  { name: 'stardict-volumes', files: stardict, args: ['--charset=CP1250', '--max-size=150K'],
    lookup: 'žurnalistika', database: 'czech-cizi-1.pdb', volumes: 4 },
  { name: 'freedict-deu-eng-reversed', files: deuEng, args: ['--charset=CP1252', '--reverse'],
    lookup: 'eat', database: 'freedict-deu-eng.pdb' },
  { name: 'edict-shift-jis', files: () => ['/usr/share/edict/edict'], args: ['--charset=SHIFT_JIS'],
    found: 'EDICT dictionary: edict', database: 'edict.pdb', lookup: '日本' },
  // A Babylon glossary from the project's samples, where they are.
  { name: 'babylon-sample', args: ['--charset=CP1252'], lookup: 'Afghanistan',
    found: 'Babylon dictionary: Currency_In_Each_Country.bgl', database: 'Currency_In_Each_Country.pdb',
    needs: '/work/shared/samples/Currency_In_Each_Country.bgl',
    files: () => ['/work/shared/samples/Currency_In_Each_Country.bgl'] },
  // A Yomitan zip: terms with structured content, kanji, a frequency bank,
  // sizes in zip64 fields; and one whose bank is damaged (no download).
  { name: 'yomitan-shift-jis', args: ['--charset=SHIFT_JIS'], lookup: '一',
    found: 'Yomitan dictionary: jmdict-like.zip', database: 'jmdict-like.pdb',
    files: (folder) => writeYomitan(folder, 'jmdict-like.zip', ['--entries', '400', '--zip64']) },
  { name: 'yomitan-damaged', args: [], found: 'Yomitan dictionary: broken.zip',
    files: (folder) => writeYomitan(folder, 'broken.zip', ['--entries', '20', '--stored'], (bytes) => {
      const at = bytes.indexOf('[["');  // the first term bank's first row
      bytes[at + 5] ^= 1;
      return bytes;
    }) },
  { name: 'broken-dictd', args: [], found: 'dictd dictionary: broken.index, broken.dict',
    files: (folder) => writeDictd(folder, 'broken', [['good', 0, 'good\n fine\n'], ['bad', 12, 'x'.repeat(40)]], 20) },
  { name: 'unrecognised', args: [],
    found: "lexaro-import: can't tell the format of notes.txt; name it with --format (",
    files: (folder) => {
      writeFileSync(join(folder, 'notes.txt'), 'nothing\nof the kind\n');
      return [join(folder, 'notes.txt')];
    } },
  // A 32-bit program neither cuts an offset past 4 GiB nor a size.
  { name: 'dictd-article-past-4gib', args: [], lookup: 'far', database: 'far.pdb',
    files: (folder) => writeDictd(folder, 'far', [['near', 0, 'near\n the first\n'],
                                                  ['far', gib4 + 7, 'far\n past four gibibytes\n']]) },
  { name: 'dictd-index-past-4gib', args: [], error: 'lexaro-import: huge.index is larger than 4294967295 bytes',
    files: (folder) => {
      const files = writeDictd(folder, 'huge', [['word', 0, 'word\n text\n']]);
      execFileSync('truncate', ['-s', String(gib4 + 1), files[0]]);
      return files;
    } },
  // Several dictionaries at once: grouped by the files each reads, merged
  // into one database, their translations labelled where both give a word.
  { name: 'two-dictionaries', args: ['--charset=CP1250'], lookup: 'žargon',
    inputs: ['czech-cizi.ifo', 'slova.tab'], database: 'czech-cizi.pdb',
    found: '2 dictionaries, made into one database; where more than one gives a word',
    listed: ['[czech-cizi] StarDict dictionary: czech-cizi.ifo, czech-cizi.idx, czech-cizi.dict.dz',
             '[slova] tab-separated text dictionary: slova.tab'],
    files: (folder) => {
      writeFileSync(join(folder, 'slova.tab'), 'žargon\tjargon, slang\nžába\tfrog\n');
      return [...stardict(), join(folder, 'slova.tab')];
    } },
  // One name, two dictionaries: a dictd one (two files) and a tab file,
  // labelled words and words-2; the tab file chosen first comes first.
  { name: 'one-name-two-dictionaries', args: [], lookup: 'house', database: 'words.pdb',
    inputs: ['words.tab', 'words.index'],
    listed: ['[words] tab-separated text dictionary: words.tab',
             '[words-2] dictd dictionary: words.index, words.dict'],
    files: (folder) => {
      writeFileSync(join(folder, 'words.tab'), 'house\tHaus\ntree\tBaum\n');
      return [join(folder, 'words.tab'),
              ...writeDictd(folder, 'words', [['house', 0, 'house\n Gebäude\n'], ['cat', 16, 'cat\n Katze\n']])];
    } },
  // A failure in the second dictionary: the page shows it, and the run ends
  // as lexaro-import's does, with nothing to download.
  { name: 'second-dictionary-broken', args: [], inputs: ['good.tab', 'broken.index'],
    listed: ['[good] tab-separated text dictionary: good.tab', '[broken] dictd dictionary: broken.index, broken.dict'],
    files: (folder) => {
      writeFileSync(join(folder, 'good.tab'), 'good\tgut\n');
      return [join(folder, 'good.tab'),
              ...writeDictd(folder, 'broken', [['good', 0, 'good\n fine\n'], ['bad', 12, 'x'.repeat(40)]], 20)];
    } },
  ...handheldSets.map((set) => ({
    name: `charset-${set}`, args: [`--charset=${set}`], files: (folder) => writeSetDictionary(folder, set),
  })),
  ...tableCases(),
];

// --- running a case --------------------------------------------------------

function mainFile(files) {
  const names = files.map((file) => basename(file));
  return names.find((n) => n.endsWith('.ifo')) || names.find((n) => n.endsWith('.index')) || names[0];
}

function runNative(folder, inputs, args, output) {
  const result = spawnSync(join(build, 'lexaro-import'), [...args, ...inputs, output],
                           { cwd: folder, encoding: 'utf8' });
  return { status: result.status, stderr: result.stderr.replace(/\n$/, '') };
}

function lookupNative(folder, word, args, databases) {
  const charset = args.find((a) => a.startsWith('--charset='));
  const result = spawnSync(join(build, 'lexaro-dump'), ['--lookup', word, ...(charset ? [charset] : []), ...databases],
                           { cwd: folder, encoding: 'utf8' });
  return (result.status === 0 ? result.stdout : result.stderr).replace(/\n$/, '');
}

// Each word's translation in a database, as lexaro-dump --text writes them.
function translations(folder, database) {
  writeFileSync(join(folder, 'page.pdb'), database);
  const text = spawnSync(join(build, 'lexaro-dump'), ['--text', 'page.pdb'], { cwd: folder }).stdout;
  const held = new Map();
  let start = text.indexOf(10) + 1;  // after the title line
  while (start < text.length) {
    const end = text.indexOf(10, start);
    const line = text.subarray(start, end < 0 ? text.length : end);
    const dollar = line.indexOf(36);
    held.set(line.subarray(0, dollar).toString('latin1'), line.subarray(dollar + 1));
    start = end < 0 ? text.length : end + 1;
  }
  return held;
}

const hex = (buffer) => (buffer ? [...buffer].map((b) => b.toString(16).padStart(2, '0')).join(' ') : 'nothing');

// The database without its creation, modification and backup dates.
const undated = (bytes) => Buffer.concat([bytes.subarray(0, 36), bytes.subarray(48)]);

// Runs in the page: sets the inputs that the arguments name, as a user
// does, the character set first ("" where none is named).
function setOptions(args) {
  const ids = { '--charset': 'charset', '--title': 'title', '--format': 'format',
                '--input-charset': 'input-charset', '--join': 'join', '--newline': 'newline',
                '--words-per-block': 'words-per-block', '--translations': 'translations',
                '--max-size': 'max-size' };
  const flags = { '--fold-case': 'fold-case', '--fold-accents': 'fold-accents',
                  '--keep-duplicates': 'keep-duplicates', '--reverse': 'reverse' };
  const set = (element, value) => {
    if (element.type === 'checkbox') element.checked = value;
    else element.value = value;
    if (element.type !== 'checkbox' && element.value !== value)
      throw new Error(`#${element.id} takes no "${value}"`);
    element.dispatchEvent(new Event('input', { bubbles: true }));
  };
  set(document.getElementById('charset'), '');
  for (const arg of args) {
    const [name, ...value] = arg.split('=');
    set(document.getElementById(ids[name] || flags[name]), flags[name] ? true : value.join('='));
  }
}

// Chooses the files, sets the options, runs, and downloads what is offered
// into `downloads`.
async function runPage(browser, url, downloads, files, args) {
  const page = await openPage(browser, url);
  await page.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
  await page.chooseFiles('#files', files);
  await page.waitFor(`['ready', 'unrecognised'].includes(document.body.dataset.state)`, 60);
  const found = await page.evaluate(`document.getElementById('found').textContent`);
  const listed = await page.evaluate(`[...document.querySelectorAll('#found li')].map((li) => li.textContent)`);
  await page.evaluate(`(${setOptions})(${JSON.stringify(args)})`);
  const command = await page.evaluate(`document.getElementById('command').textContent`);
  const started = Date.now();
  await page.evaluate(`document.getElementById('run').click()`);
  await page.waitFor(`['done', 'failed'].includes(document.body.dataset.state)`, 600);
  const seconds = (Date.now() - started) / 1000;
  const state = await page.evaluate(`document.body.dataset.state`);
  const summary = await page.evaluate(`document.getElementById('summary').textContent`);
  // Every download offered, one after the other.
  const offered = await page.evaluate(`Array.from(document.querySelectorAll('#downloads a'))
    .map((a) => a.download)`);
  let finished = null;
  browser.events.on('Browser.downloadProgress', (event) => {
    if (finished && (event.state === 'completed' || event.state === 'canceled')) finished(event.state);
  });
  const databases = [];
  for (let i = 0; i < offered.length; i++) {
    const done = new Promise((resolve) => { finished = resolve; });
    await page.evaluate(`document.querySelectorAll('#downloads a')[${i}].click()`);
    const state = await done;
    finished = null;
    databases.push(state === 'completed' ? readFileSync(join(downloads, offered[i])) : null);
  }
  return { page, found, listed, command, state, summary, download: offered[0] || null, offered,
           databases, database: databases[0] || null, seconds };
}

async function lookupInPage(page, word) {
  await page.evaluate(`document.getElementById('lookup').value = ${JSON.stringify(word)};
    document.getElementById('lookup-form').requestSubmit()`);
  await page.waitFor(`['found', 'not-found'].includes(document.getElementById('lookup-result').dataset.state)`, 60);
  return page.evaluate(`document.getElementById('lookup-result').textContent`);
}

// The problems of one case: what the page did that the native programs did
// not.
async function runCase(browser, urls, c) {
  const folder = join(scratch, c.name);
  const native = join(folder, 'native');
  const downloads = join(folder, 'downloads');
  mkdirSync(native, { recursive: true });
  mkdirSync(downloads);
  try {
    const files = c.files(folder);
    // The native run sees the same names in its folder as the page does.
    for (const file of files) symlinkSync(file, join(native, basename(file)));
    const result = await runPage(browser, c.plainHttp ? urls.plain : urls.secure, downloads, files, c.args);
    const problems = [];
    const say = (problem) => problems.push(problem);
    if (c.found && !result.found.startsWith(c.found)) say(`shows "${result.found}" of the files, not "${c.found}"`);
    if (c.listed && result.listed.join('\n') !== c.listed.join('\n'))
      say(`lists "${result.listed.join('; ')}" of the files, not "${c.listed.join('; ')}"`);
    const inputs = c.inputs || [mainFile(files)];
    if (!result.command.includes(` ${inputs.join(' ')} `))
      say(`shows the command "${result.command}", which does not name ${inputs.join(' ')}`);
    if (result.state === 'done' && !result.download) say('no download offered');
    if (result.state === 'failed' && result.download) say('a download offered after a failure');
    if (c.database && result.download !== c.database) say(`offers "${result.download}", not ${c.database}`);
    if (c.error) {
      if (result.state !== 'failed') say(`ended "${result.state}", not with an error`);
      if (result.summary !== c.error) say(`says "${result.summary}", not "${c.error}"`);
      return { problems, result };
    }
    // The output the page named: the first volume's name without its number.
    const output = result.offered.length > 1 ? result.download.replace(/-1\.pdb$/, '.pdb')
      : result.download || `${inputs[0].replace(/(\.(dz|gz))?(\.[^.]*)?$/, '')}.pdb`;
    const expected = runNative(native, inputs, c.args, output);
    if ((expected.status === 0) !== (result.state === 'done'))
      say(`lexaro-import ended with status ${expected.status}, the page "${result.state}"`);
    if (result.summary !== expected.stderr) {
      const shown = result.summary.split('\n');
      const printed = expected.stderr.split('\n');
      let line = 0;
      while (shown[line] === printed[line]) line++;
      say(`the summary differs from line ${line + 1}, page: "${shown[line]}", lexaro-import: "${printed[line]}"` +
          `\nthe page says:\n${result.summary}\nlexaro-import says:\n${expected.stderr}`);
    }
    if (expected.status !== 0 || !result.download) return { problems, result };
    // The databases the native run wrote beside the inputs.
    const names = new Set(files.map((file) => basename(file)));
    const wrote = readdirSync(native).filter((name) => name.endsWith('.pdb') && !names.has(name))
      .sort((a, b) => Number(/-(\d+)\.pdb$/.exec(a)?.[1] || 0) - Number(/-(\d+)\.pdb$/.exec(b)?.[1] || 0));
    if (result.offered.join(' ') !== wrote.join(' '))
      say(`offers ${result.offered.join(', ')}; lexaro-import wrote ${wrote.join(', ')}`);
    if (c.volumes !== undefined && wrote.length !== c.volumes)
      say(`lexaro-import wrote ${wrote.length} volumes, not ${c.volumes}`);
    result.offered.forEach((name, i) => {
      if (!result.databases[i]) say(`the download of ${name} did not complete`);
      else if (!existsSync(join(native, name)) ||
               !undated(result.databases[i]).equals(undated(readFileSync(join(native, name)))))
        say(`the download ${name} differs from lexaro-import's`);
    });
    if (c.expect && result.database) {
      const held = translations(native, result.database);
      for (const { word, about, translation } of c.expect)
        if (!translation.equals(held.get(word) || Buffer.alloc(0)))
          say(`${word} (${about}): the page wrote ${hex(held.get(word))}, the table has ${hex(translation)}`);
    }
    if (c.lookup !== undefined) {
      const shown = await lookupInPage(result.page, c.lookup);
      const printed = lookupNative(native, c.lookup, c.args, wrote);
      if (shown !== printed) say(`looking up ${c.lookup}: the page shows "${shown}", lexaro-dump "${printed}"`);
    }
    return { problems, result };
  } finally {
    rmSync(folder, { recursive: true, force: true });
  }
}

// --- main ------------------------------------------------------------------

// The site on localhost (a secure context) and, through a name that the
// browser maps to the same address, on a plain http host.
const plainHost = 'lexaro-web.test';
const server = await serve(site);
const browser = await launch({ hostRules: `MAP ${plainHost} 127.0.0.1` });
const urls = { secure: server.url, plain: server.url.replace('127.0.0.1', plainHost) };
let failed = 0;
try {
  for (const c of cases) {
    if (only.length && !only.includes(c.name)) continue;
    if (c.needs && !existsSync(c.needs)) {
      console.log(`skip   ${c.name} (no ${c.needs})`);
      continue;
    }
    let outcome;
    try {
      outcome = await runCase(browser, urls, c);
    } catch (error) {
      outcome = { problems: [String(error.stack || error)], result: { seconds: 0 } };
    }
    const { problems, result } = outcome;
    if (problems.length) failed++;
    console.log(`${problems.length ? 'FAILED' : 'ok    '} ${c.name} (${result.seconds.toFixed(1)} s)`);
    if (process.env.LEXARO_WEB_TEST_VERBOSE)
      console.log(`    ${result.command}\n    ${(result.summary || '').replace(/\n/g, '\n    ')}`);
    for (const problem of problems) console.log(`    ${problem.replace(/\n/g, '\n    ')}`);
  }
} finally {
  await browser.close();
  await server.close();
  rmSync(scratch, { recursive: true, force: true });
}
process.exit(failed ? 1 : 0);
