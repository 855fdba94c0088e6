// Runs node-pkware over a file through its stream API.
//   node pkware.mjs explode IN OUT
//   node pkware.mjs implode binary|ascii 1024|2048|4096 IN OUT
// Exits 0 on success, 1 when the library refuses the data, 2 on bad usage.
import fs from 'node:fs';
import path from 'node:path';
import { pipeline } from 'node:stream/promises';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = process.env.MORDAX_ORACLE_MODULES || path.join(here, '..', '..', '..', 'oracles', 'node_modules');
const pkware = await import(pathToFileURL(path.join(modules, 'node-pkware', 'dist', 'index.js')).href);
const { through } = pkware.stream;

const args = process.argv.slice(2);
let handler, input, output;
if (args[0] === 'explode' && args.length === 3) {
  handler = pkware.explode();
  [input, output] = args.slice(1);
} else if (args[0] === 'implode' && args.length === 5) {
  const type = { binary: pkware.Compression.Binary, ascii: pkware.Compression.Ascii }[args[1]];
  const dict = { 1024: pkware.DictionarySize.Small, 2048: pkware.DictionarySize.Medium,
                 4096: pkware.DictionarySize.Large }[args[2]];
  if (type === undefined || dict === undefined) process.exit(2);
  handler = pkware.implode(type, dict);
  [input, output] = args.slice(3);
} else {
  console.error('usage: pkware.mjs explode IN OUT | implode binary|ascii 1024|2048|4096 IN OUT');
  process.exit(2);
}

try {
  await pipeline(fs.createReadStream(input, { highWaterMark: 65536 }), through(handler),
                 fs.createWriteStream(output));
} catch (e) {
  console.error(String(e && e.message ? e.message : e));
  process.exit(1);
}
