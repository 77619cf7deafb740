'use strict';
// Scans the pasted text and the files with the module, a piece at a time, and tells the page how
// far it has got; the page stays free for the user meanwhile.
const kPiece = 4 << 20;
// The C library may link in a few system calls (to write an abort's message): here they fail.
const kNoSystem = { wasi_snapshot_preview1: new Proxy({}, { get: () => () => 52 /* ENOSYS */ }) };
let quenvar = null;

// Room for `size` bytes in the module's buffer; the view is valid until the next call.
const room = (size) => {
  const address = quenvar.buffer(size);
  return new Uint8Array(quenvar.memory.buffer, address, size);
};
const text = (size) => new TextDecoder().decode(room(size));
// The sharers as --where lines, a bufferful at a time; `counted` once memory has run out.
const sharerLines = (counted) => {
  let lines = '';
  for (let first = 0; ;) {
    const size = quenvar.sharerLines(first, counted);
    if (size === 0) return lines;
    const piece = text(size);
    lines += piece;
    for (let at = piece.indexOf('\n'); at >= 0; at = piece.indexOf('\n', at + 1)) ++first;
  }
};

async function scan(inputs) {
  const total = inputs.reduce((sum, { blob }) => sum + blob.size, 0);
  let done = 0;
  const notes = [];
  quenvar.scanStart();
  try {
    for (const { name, blob, pasted } of inputs) {
      const encodedName = new TextEncoder().encode(name);
      room(encodedName.length).set(encodedName);
      quenvar.inputStart(encodedName.length);
      let read = true;
      for (let at = 0; at < blob.size; at += kPiece) {
        let piece;
        try {
          piece = new Uint8Array(await blob.slice(at, at + kPiece).arrayBuffer());
        } catch {
          notes.push({ kind: at === 0 ? 'cannotOpen' : 'cannotRead', name });
          read = false;
          break;
        }
        room(piece.length).set(piece);
        quenvar.inputFeed(piece.length);
        done += piece.length;
        postMessage({ progress: total === 0 ? 1 : done / total });
      }
      if (quenvar.inputFinish(read) === 0 && read) notes.push({ kind: 'noSharer', name: pasted ? null : name });
    }
  } catch (error) {
    // The module traps when memory runs out for the sharers: what was counted is still given.
    if (!(error instanceof WebAssembly.RuntimeError)) throw error;
    return { sharers: sharerLines(true), notes, outOfMemory: true };
  }
  return {
    sharers: sharerLines(false),
    links: quenvar.links(),
    sharerCount: quenvar.sharerCount(),
    keyless: quenvar.keylessLinks(),
    notes,
    outOfMemory: false,
  };
}

onmessage = async ({ data: { module, text: pasted, files } }) => {
  try {
    if (!quenvar) {
      quenvar = (await WebAssembly.instantiate(module, kNoSystem)).exports;
      quenvar._initialize();
    }
    // The pasted text is read as its UTF-8 bytes, under the name standard input has in --where.
    const inputs = pasted === '' ? [] : [{ name: '-', blob: new Blob([pasted]), pasted: true }];
    for (const file of files) inputs.push({ name: file.name, blob: file });
    postMessage({ result: await scan(inputs) });
  } catch {
    postMessage({ failed: true });
  }
};
