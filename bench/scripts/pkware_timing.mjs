// Times node-pkware on in-memory buffers through its stream API (binary, 4096-byte dictionary).
//   node pkware_timing.mjs RAW STREAM     STREAM: an implode stream of RAW made by our codec
// Prints "implode_ms N" and "explode_ms N" (best of three runs, start-up excluded) and checks
// that explode gives RAW back.
import fs from 'node:fs';
import path from 'node:path';
import { Readable, Writable } from 'node:stream';
import { pipeline } from 'node:stream/promises';
import { fileURLToPath, pathToFileURL } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = process.env.MORDAX_ORACLE_MODULES || path.join(here, '..', '..', 'tests', 'oracles', 'node_modules');
const pkware = await import(pathToFileURL(path.join(modules, 'node-pkware', 'dist', 'index.js')).href);
const { through } = pkware.stream;

// Fed in 64 KiB chunks, as a file stream would deliver them. Output chunks are copied as they
// come: the library may reuse the memory behind a chunk it has passed on.
async function run(handler, input) {
  const chunks = [];
  for (let i = 0; i < input.length; i += 65536) chunks.push(input.subarray(i, i + 65536));
  const parts = [];
  const sink = new Writable({ write(chunk, encoding, done) { parts.push(Buffer.from(chunk)); done(); } });
  await pipeline(Readable.from(chunks), through(handler), sink);
  return Buffer.concat(parts);
}

async function best(fn) {
  let ms = Infinity, out;
  for (let i = 0; i < 3; i++) {
    const t = performance.now();
    out = await fn();
    ms = Math.min(ms, performance.now() - t);
  }
  return [ms, out];
}

const raw = fs.readFileSync(process.argv[2]);
const stream = fs.readFileSync(process.argv[3]);
const [implodeMs] = await best(() => run(pkware.implode(pkware.Compression.Binary, pkware.DictionarySize.Large), raw));
const [explodeMs, back] = await best(() => run(pkware.explode(), stream));
if (!back.equals(raw)) {
  console.error('node-pkware did not give the input back');
  process.exit(1);
}
console.log(`implode_ms ${implodeMs.toFixed(1)}`);
console.log(`explode_ms ${explodeMs.toFixed(1)}`);
