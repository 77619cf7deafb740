// The module when memory runs out for the sharers, built with a small memory: the scan must stop
// with a trap, never write through a null pointer and go on, and every sharer counted until
// then must still be given, with its links and first place. Sharer i is named on lines 2i-1 and
// 2i of one input; only the last given may have missed its second link.
//   node out_of_memory.mjs MODULE.wasm
import { readFile } from 'node:fs/promises';
import { argv, exit } from 'node:process';

const noSystem = { wasi_snapshot_preview1: new Proxy({}, { get: () => () => 52 }) };
const q = (await WebAssembly.instantiate(await readFile(argv[2]), noSystem)).instance.exports;
q._initialize();
const room = (size) => {
  const address = q.buffer(size);  // may grow the memory: the view comes after
  return new Uint8Array(q.memory.buffer, address, size);
};
const first = 1000000000;
const name = new TextEncoder().encode('-');
room(name.length).set(name);
q.scanStart();
q.inputStart(name.length);
let fed = 0;
let trapped = null;
try {
  while (fed < 4000000 && !trapped) {
    let text = '';
    for (let i = 0; i < 20000; ++i, ++fed) text += `pan.baidu.com/s?uk=${first + fed}\n`.repeat(2);
    const bytes = new TextEncoder().encode(text);
    room(bytes.length).set(bytes);
    q.inputFeed(bytes.length);
  }
} catch (error) {
  trapped = error;
}
const problems = [];
if (!(trapped instanceof WebAssembly.RuntimeError)) problems.push(`no trap after ${fed} sharers: ${trapped}`);
let lines = [];
for (let size; (size = q.sharerLines(lines.length, true)) !== 0;) {
  lines = lines.concat(new TextDecoder().decode(room(size)).replace(/\n$/, '').split('\n'));
}
if (lines.length < 1000) problems.push(`only ${lines.length} sharers given`);
lines.forEach((line, i) => {
  const [link, links, place] = line.split('\t');
  const last = i === lines.length - 1;
  if (link !== `http://pan.baidu.com/share/home?uk=${first + i}` || place !== `-:${2 * i + 1}` ||
      !(links === '2' || (last && links === '1'))) {
    if (problems.length < 5) problems.push(`sharer ${i}: ${line}`);
  }
});
console.log(`memory ran out after ${lines.length} of ${fed} sharers fed; ${problems.length} problems`);
for (const problem of problems) console.log(problem);
exit(problems.length === 0 ? 0 : 1);
