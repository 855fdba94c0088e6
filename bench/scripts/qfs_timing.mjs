// Times qfs-compression on in-memory buffers.
//   node qfs_timing.mjs RAW OURS     OURS: our RefPack stream of RAW with the 5-byte QFS header
// Prints "qfs_compress_ms", "qfs_bytes" (its stream without the header), "qfs_decompress_ours_ms"
// and "qfs_decompress_own_ms" (best of three runs, start-up excluded), and checks that both
// streams decode to RAW.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
const modules = process.env.MORDAX_ORACLE_MODULES || path.join(here, '..', '..', 'tests', 'oracles', 'node_modules');
const qfs = createRequire(import.meta.url)(path.join(modules, 'qfs-compression'));

function best(fn) {
  let ms = Infinity, out;
  for (let i = 0; i < 3; i++) {
    const t = performance.now();
    out = fn();
    ms = Math.min(ms, performance.now() - t);
  }
  return [ms, out];
}

const raw = fs.readFileSync(process.argv[2]);
const ours = fs.readFileSync(process.argv[3]);
const [compressMs, own] = best(() => qfs.compress(raw));
const [oursMs, fromOurs] = best(() => qfs.decompress(ours));
const [ownMs, fromOwn] = best(() => qfs.decompress(own));
if (!Buffer.from(fromOurs).equals(raw) || !Buffer.from(fromOwn).equals(raw)) {
  console.error('qfs-compression did not give the input back');
  process.exit(1);
}
console.log(`qfs_compress_ms ${compressMs.toFixed(1)}`);
console.log(`qfs_bytes ${own.length - 5}`);
console.log(`qfs_decompress_ours_ms ${oursMs.toFixed(1)}`);
console.log(`qfs_decompress_own_ms ${ownMs.toFixed(1)}`);
