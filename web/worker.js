// The page's worker: runs lexaro-import and lexaro-dump, built to
// WebAssembly, off the page's thread. The files the user chose are mounted as
// they are (emscripten's WORKERFS, a File each) and read a piece at a time
// where they lie; nothing is sent anywhere. The programs run in a folder of
// their own where each chosen file is a link to its File, so that they name
// the files as the user does and write the database beside them; what they
// write goes to a folder of the browser's private file system that is the
// run's alone, or stays in memory (see workFolder).
//
// Messages from the page, each answered by one message of the same type
// (a run also sends "progress" messages before its answer):
//   {type: "probe", files, format, inputCharset}
//       -> {type, ok, name, dictionaries: [{ok, main, format, label, files,
//          message}]}: the dictionaries among the files (see dictionariesOf),
//          each with the file the run names, the format lexaro-import finds,
//          its label and the files it reads, or its message; ok when every
//          one is recognised; name, the database's: the first dictionary's
//   {type: "run", files, inputs, args, name}
//       -> {type, status, summary, name, databases}: lexaro-import's exit
//          status and standard error, run on the files named in inputs (the
//          probe's mains); databases, only when it wrote them: the database,
//          or its volumes in order (--max-size), each {name, blob}
//   {type: "lookup", word, charset}
//       -> {type, status, text}: lexaro-dump --lookup on the last databases
//   {type: "formats"} -> {type, formats}: the names --format takes
import createProgram from './lexaro-web.js';

const chosen = '/chosen';       // the Files, as WORKERFS mounts them
const folder = '/dictionary';   // where the programs run

// The programs (lexaro-import, and lexaro-dump by that name: one module) are
// compiled once and instantiated afresh for every run, so that every run
// starts from a clean memory, as a process does.
let compiled = null;

function compile() {
  if (!compiled) {
    const url = new URL('lexaro-web.wasm', import.meta.url);
    // A host that serves .wasm under another type cannot stream it.
    compiled = WebAssembly.compileStreaming(fetch(url)).catch(() =>
      fetch(url).then((response) => response.arrayBuffer()).then((bytes) => WebAssembly.compile(bytes)));
  }
  return compiled;
}

async function start(name, hooks) {
  const module = await compile();
  const lines = { out: [], err: [] };
  let failed;
  const failure = new Promise((resolve, reject) => { failed = reject; });
  const program = await Promise.race([failure, createProgram({
    thisProgram: name,
    print: (line) => lines.out.push(line),
    printErr: (line) => lines.err.push(line),
    instantiateWasm(imports, receive) {
      WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module), failed);
      return {};
    },
    ...hooks,
  })]);
  return { program, lines };
}

// files: File objects, or {name, data: Blob}.
function mountFiles(FS, files) {
  const list = Array.from(files);
  const names = list.map(({ name }) => name);
  const twice = names.find((name, i) => names.indexOf(name) !== i);
  if (twice !== undefined) throw new Error(`two of the files are named ${twice}: choose one of them`);
  FS.mkdir(chosen);
  FS.mount(FS.filesystems.WORKERFS, list[0] instanceof File ? { files: list } : { blobs: list }, chosen);
  FS.mkdir(folder);
  FS.chdir(folder);
  for (const { name } of list) FS.symlink(`${chosen}/${name}`, name);
}

// Calls main; an abort (a trap, memory past 4 GiB) ends the run as a failure
// with its own words.
function callMain(program, lines, args) {
  try {
    return program.callMain(args);
  } catch (error) {
    lines.err.push(String(error && error.message ? error.message : error));
    return 1;
  }
}

// The dictionaries among the files chosen, as lexaro-import reads them: a
// file's dictionary is the files that reading it reads (a StarDict
// dictionary's .ifo, .idx, .dict.dz and .syn, a dictd one's .index and
// .dict.dz: the files of one name but for their endings). Each file not yet
// taken names a dictionary, a StarDict .ifo and a dictd .index first, so
// that they are the files the run names; then the dictionaries are in the
// order of their first file among those chosen.
function dictionariesOf(program, files, format, inputCharset) {
  const names = Array.from(files).map(({ name }) => name);
  const ending = (name) => (name.endsWith('.ifo') ? 0 : name.endsWith('.index') ? 1 : 2);
  const byEnding = [...names].sort((a, b) => ending(a) - ending(b));
  const taken = new Set();
  const dictionaries = [];
  for (const main of byEnding) {
    if (taken.has(main)) continue;
    const [verdict, ...rest] = program
      .ccall('lexaro_probe', 'string', ['string', 'string', 'string'], [main, format || '', inputCharset || ''])
      .split('\t');
    let dictionary = { ok: false, main, files: [main], message: rest.join('\t') };
    if (verdict === 'ok') {
      const [found, name, ...read] = rest;
      dictionary = { ok: true, main, format: found, name, files: read.filter((file) => names.includes(file)) };
    }
    for (const file of dictionary.files) taken.add(file);
    dictionaries.push(dictionary);
  }
  const first = (dictionary) => Math.min(...dictionary.files.map((file) => names.indexOf(file)));
  dictionaries.sort((a, b) => first(a) - first(b));
  const labels = program
    .ccall('lexaro_input_labels', 'string', ['string'], [dictionaries.map(({ main }) => `${main}\n`).join('')])
    .split('\n');
  dictionaries.forEach((dictionary, i) => { dictionary.label = labels[i]; });
  return dictionaries;
}

async function probe({ files, format, inputCharset }) {
  const { program } = await start('lexaro-import');
  mountFiles(program.FS, files);
  const dictionaries = dictionariesOf(program, files, format, inputCharset);
  const first = dictionaries[0];
  return { ok: dictionaries.every(({ ok }) => ok), name: first.ok ? first.name : null, dictionaries };
}

// Progress: the share of the chosen files' bytes read, then what
// lexaro-import's progress display says, each stage a part of the bar.
const stages = { reading: [0, 0.55], sorting: [0.55, 0.6], writing: [0.6, 0.7],
                 compiling: [0.7, 0.97], checking: [0.97, 1] };

function progressReporter(total) {
  let read = 0;
  let shown = 0;
  const report = (stage, share) => {
    const now = Date.now();
    if (now - shown < 100) return;
    shown = now;
    const [from, to] = stages[stage];
    postMessage({ type: 'progress', stage, fraction: from + (to - from) * Math.min(share, 1) });
  };
  return {
    onFileRead(bytes) {
      read += bytes;
      report('reading', total > 0 ? read / total : 1);
    },
    onRedraw(text) {
      const stage = text.split(/[: ]/)[0];
      if (!(stage in stages) || stage === 'reading') return;
      const percent = /(\d+)%$/.exec(text);
      shown = 0;
      report(stage, percent ? Number(percent[1]) / 100 : 0);
    },
  };
}

// The files a run creates go to disk, into a folder of the browser's private
// file system (where it has one) that is the run's alone: as a native run's
// working files, they take no memory. A run creates three (the source on the
// way, the stream file, the database), and two more for each further volume
// (its stream file and the volume); any past these stay in memory. After the
// run the folder is removed but for the databases, which the page's downloads
// and the lookups read from there until the next run.
const workPrefix = 'lexaro-work-';
const workFiles = 16;

async function workFolder() {
  let root;
  try {
    root = await navigator.storage.getDirectory();
  } catch {
    root = null;  // no private file system: memory
  }
  const name = `${workPrefix}${Date.now()}-${Math.random().toString(36).slice(2)}`;
  const handles = [];
  const work = {
    handles,
    close() {
      for (const handle of handles.splice(0)) handle.close();
    },
    async remove() {
      work.close();
      if (root) await root.removeEntry(name, { recursive: true }).catch(() => {});
    },
    // The files that handles wrote, as Blobs read from the disk; the
    // folder's other files removed.
    async keep(kept) {
      const numbers = kept.map((handle) => String(handles.indexOf(handle)));
      work.close();
      const folder = await root.getDirectoryHandle(name);
      for (let i = 0; i < workFiles; i++)
        if (!numbers.includes(String(i))) await folder.removeEntry(String(i)).catch(() => {});
      return Promise.all(numbers.map(async (number) => (await folder.getFileHandle(number)).getFile()));
    },
  };
  if (!root) return work;
  try {
    const folder = await root.getDirectoryHandle(name, { create: true });
    for (let i = 0; i < workFiles; i++) {
      const file = await folder.getFileHandle(String(i), { create: true });
      handles.push(await file.createSyncAccessHandle());
    }
  } catch {
    await work.remove();  // no sync access here: memory
  }
  return work;
}

// Folders that runs of a page closed mid-way left behind; another page's
// running folder is locked and stays.
async function removeLeftovers() {
  try {
    const root = await navigator.storage.getDirectory();
    for await (const name of root.keys())
      if (name.startsWith(workPrefix)) await root.removeEntry(name, { recursive: true }).catch(() => {});
  } catch {
    // no private file system
  }
}
const leftoversRemoved = removeLeftovers();

let last = null;  // the last databases made: {databases: [{name, blob}], work}

// The databases a run wrote: NAME.pdb, or its volumes NAME-1.pdb, NAME-2.pdb,
// ... in order. Every file of the folder that is no link to a chosen file is
// the run's.
function written(FS, name) {
  const volume = new RegExp(`^${name.replace(/[.*+?^${}()|[\]\\]/g, '\\$&')}(?:-(\\d+))?\\.pdb$`);
  const number = (file) => Number(volume.exec(file)[1] || 0);
  return FS.readdir(folder)
    .filter((file) => volume.test(file) && FS.isFile(FS.lstat(file).mode))
    .sort((a, b) => number(a) - number(b));
}

async function run({ files, inputs, args, name }) {
  if (last) await last.work.remove();
  last = null;
  const total = Array.from(files).reduce((sum, file) => sum + file.size, 0);
  await leftoversRemoved;
  const work = await workFolder();
  try {
    const { program, lines } = await start('lexaro-import',
                                           { ...progressReporter(total), diskFiles: work.handles });
    const { FS } = program;
    mountFiles(FS, files);
    const status = callMain(program, lines, [...args, ...inputs, `${name}.pdb`]);
    let databases = null;
    if (status === 0) {
      const names = written(FS, name);
      const handles = names.map((file) => FS.lookupPath(file).node.handle);
      const onDisk = handles.every((handle) => handle) ? await work.keep(handles) : null;
      databases = names.map((file, i) => ({
        name: file, blob: onDisk ? onDisk[i] : new Blob([FS.readFile(file)]) }));
      last = { databases, work };
    }
    return { status, summary: lines.err.join('\n'), name, databases };
  } finally {
    if (!last) await work.remove();
  }
}

async function lookup({ word, charset }) {
  if (!last) return { status: 1, text: 'make a database first' };
  const { program, lines } = await start('lexaro-dump');
  mountFiles(program.FS, last.databases.map(({ name, blob }) => ({ name, data: blob })));
  const args = ['--lookup', word, ...(charset ? ['--charset', charset] : []),
                ...last.databases.map(({ name }) => name)];
  const status = callMain(program, lines, args);
  return { status, text: (status === 0 ? lines.out : lines.err).join('\n') };
}

async function formats() {
  const { program } = await start('lexaro-import');
  return { formats: program.ccall('lexaro_format_names', 'string', [], []).split(/, | or /) };
}

const handlers = { formats, probe, run, lookup };

onmessage = async ({ data }) => {
  let answer;
  try {
    answer = await handlers[data.type](data);
  } catch (error) {
    answer = { status: 1, ok: false, message: String(error), summary: String(error), text: String(error) };
  }
  postMessage({ type: data.type, ...answer });
};
