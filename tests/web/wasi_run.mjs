// Runs a WASI command (a test program built for wasm32) with its arguments; exits with its
// status. Only standard input, output and error are given to it.
//   node wasi_run.mjs PROGRAM.wasm [ARGUMENT...]
import { readFile } from 'node:fs/promises';
import { argv, exit } from 'node:process';
import { WASI } from 'node:wasi';

const wasi = new WASI({ version: 'preview1', args: argv.slice(2), env: {}, returnOnExit: true });
const module = await WebAssembly.compile(await readFile(argv[2]));
// Debian 12's node (18) has no getImportObject().
const instance = await WebAssembly.instantiate(module, { wasi_snapshot_preview1: wasi.wasiImport });
exit(wasi.start(instance));
