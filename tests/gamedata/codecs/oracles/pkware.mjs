// Runs node-pkware over a file through its stream API.
//   node pkware.mjs explode IN OUT
//   node pkware.mjs implode binary|ascii 1024|2048|4096 IN OUT
//   node pkware.mjs batch JOBFILE      (one job a line, its fields separated by tabs)
// Exits 0 on success, 1 when the library refused any job, 2 on bad usage.
import fs from 'node:fs';
import path from 'node:path';
import { pipeline } from 'node:stream/promises';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = process.env.MORDAX_ORACLE_MODULES || path.join(here, '..', '..', '..', 'oracles', 'node_modules');
const pkware = await import(pathToFileURL(path.join(modules, 'node-pkware', 'dist', 'index.js')).href);
const { through } = pkware.stream;

// One job: ['explode', IN, OUT] or ['implode', TYPE, DICT, IN, OUT]. Throws when refused.
async function runJob(args) {
  let handler;
  if (args[0] === 'explode' && args.length === 3) {
    handler = pkware.explode();
  } else if (args[0] === 'implode' && args.length === 5) {
    const type = { binary: pkware.Compression.Binary, ascii: pkware.Compression.Ascii }[args[1]];
    const dict = { 1024: pkware.DictionarySize.Small, 2048: pkware.DictionarySize.Medium,
                   4096: pkware.DictionarySize.Large }[args[2]];
    if (type === undefined || dict === undefined) throw new Error('bad implode parameters');
    handler = pkware.implode(type, dict);
  } else {
    throw new Error('bad job: ' + args.join(' '));
  }
  const [input, output] = args.slice(-2);
  await pipeline(fs.createReadStream(input, { highWaterMark: 65536 }), through(handler),
                 fs.createWriteStream(output));
}

const args = process.argv.slice(2);
let jobs;
if (args[0] === 'batch' && args.length === 2) {
  // One job per line, fields separated by tabs; a refused job leaves no output file.
  jobs = fs.readFileSync(args[1], 'utf8').split('\n').filter(l => l).map(l => l.split('\t'));
} else if (args.length) {
  jobs = [args];
} else {
  console.error('usage: pkware.mjs explode IN OUT | implode binary|ascii 1024|2048|4096 IN OUT | batch JOBFILE');
  process.exit(2);
}
let failed = 0;
for (const job of jobs) {
  try {
    await runJob(job);
  } catch (e) {
    failed++;
    try { fs.unlinkSync(job[job.length - 1]); } catch {}
    console.error(job.join(' ') + ': ' + String(e && e.message ? e.message : e));
  }
}
process.exit(failed ? 1 : 0);
