'use strict';
// The page: the window's repair, hint and copy, and the scan, which runs in a worker so that the
// page keeps answering while large files are read. The rule and the scanner are the module's.
(() => {
  const $ = (id) => document.getElementById(id);
  const fill = (text, ...values) => text.replace(/\{(\d)\}/g, (_, i) => values[Number(i)]);
  const chinese = (navigator.languages?.[0] ?? navigator.language ?? '').toLowerCase().startsWith('zh');
  const t = chinese ? TEXTS.zh : TEXTS.en;
  document.documentElement.lang = chinese ? 'zh-CN' : 'en';
  for (const id of ['label1', 'label2', 'repair', 'copy', 'scanTitle', 'scanTextLabel',
    'scanFilesLabel', 'scanRun', 'scanCopy', 'scanSave']) {
    $(id.replace(/[A-Z]/g, (c) => '-' + c.toLowerCase())).textContent = t[id];
  }

  // The C library may link in a few system calls (to write an abort's message): here they fail.
  const kNoSystem = { wasi_snapshot_preview1: new Proxy({}, { get: () => () => 52 /* ENOSYS */ }) };
  // Compiled once: this page repairs with one instance, the worker scans with another.
  const moduleBytes = Uint8Array.from(atob($('module').textContent.trim()), (c) => c.charCodeAt(0));
  const compiled = WebAssembly.compile(moduleBytes);
  const quenvar = compiled.then(async (module) => {
    const { exports } = await WebAssembly.instantiate(module, kNoSystem);
    exports._initialize();
    return exports;
  });
  // A text of the module's, NUL-terminated UTF-8.
  const moduleText = (q, address) => {
    const bytes = new Uint8Array(q.memory.buffer, address);
    return new TextDecoder().decode(bytes.subarray(0, bytes.indexOf(0)));
  };
  const scanText = (q, id, ...values) => fill(moduleText(q, q.scanText(chinese ? 0 : 1, id)), ...values);
  const ScanText = { summary: 0, cannotOpen: 1, cannotRead: 2, outOfMemory: 3, noSharer: 4 };

  // The window's notices, told in the page.
  const notice = (text) => { $('notice').textContent = text; };

  // Repair: the text exactly as it stands, as UTF-16 units.
  const text1 = $('text1');
  const text2 = $('text2');
  $('repair').addEventListener('click', async () => {
    try {
      const q = await quenvar;
      const input = text1.value;
      const address = q.buffer(2 * input.length);  // may grow the memory: views come after
      const units = new Uint16Array(q.memory.buffer, address, input.length);
      for (let i = 0; i < input.length; ++i) units[i] = input.charCodeAt(i);
      const length = q.repair(input.length);
      if (length < 0) {
        notice(t.unsupported);
        return;
      }
      const link = new Uint16Array(q.memory.buffer, q.buffer(0), length);
      text2.value = String.fromCharCode(...link);
      notice(t.repaired);
    } catch {
      notice(t.unexpected);
    }
  });

  // The hint is real text, grey until the text first changes; only a click that finds it there
  // empties the box, so a pasted link is never thrown away.
  let hintShown = true;
  text1.value = t.hint;
  const hintGone = () => {
    hintShown = false;
    text1.classList.remove('hint');
  };
  text1.addEventListener('click', () => {
    if (!hintShown) return;
    text1.value = '';
    hintGone();
  });
  text1.addEventListener('input', hintGone);
  // A one-line box, like the window's, that still keeps a pasted line break for the rule to see:
  // Enter adds none, and reaching the box with Tab selects its text, as in the window.
  text1.addEventListener('keydown', (event) => {
    if (event.key === 'Enter') event.preventDefault();
  });
  let pointerFocus = false;
  text1.addEventListener('pointerdown', () => { pointerFocus = true; });
  text1.addEventListener('focus', () => {
    if (!pointerFocus) text1.select();
    pointerFocus = false;
  });

  // Success only once the browser says the text is on the clipboard.
  const writeClipboard = async (text) => {
    try {
      await navigator.clipboard.writeText(text);
      return true;
    } catch {
      return false;
    }
  };
  // An empty box is not copied: that would wipe what the user holds on the clipboard.
  $('copy').addEventListener('click', async () => {
    const text = text2.value;
    if (text === '') {
      notice(t.nothingToCopy);
      return;
    }
    notice((await writeClipboard(text)) ? t.copied : t.copyFailed);
  });

  // Scan.
  const files = $('scan-files');
  const progress = $('scan-progress');
  const list = $('sharers');
  const scanStatus = (...lines) => { $('scan-status').textContent = lines.join('\n'); };
  let homeLinks = [];
  let worker = null;
  let scanning = false;

  const showResult = async ({ sharers, links, sharerCount, keyless, notes, outOfMemory }) => {
    const q = await quenvar;
    const lines = sharers === '' ? [] : sharers.replace(/\n$/, '').split('\n');
    list.replaceChildren(...lines.map((line) => {
      const item = document.createElement('li');
      item.textContent = line;
      return item;
    }));
    homeLinks = lines.map((line) => line.split('\t')[0]);
    const told = notes.map(({ kind, name }) => (kind === 'noSharer'
      ? fill(t.aboutInput, name ?? t.pasted, scanText(q, ScanText.noSharer))
      : scanText(q, ScanText[kind], name)));
    told.push(outOfMemory ? scanText(q, ScanText.outOfMemory)
      : scanText(q, ScanText.summary, links, sharerCount, keyless));
    scanStatus(...told);
  };
  const scanEnded = () => {
    scanning = false;
    progress.hidden = true;
    $('scan-run').disabled = false;
  };
  const startWorker = () => {
    const source = new Blob([$('worker-source').textContent], { type: 'text/javascript' });
    const url = URL.createObjectURL(source);
    worker = new Worker(url);
    URL.revokeObjectURL(url);
    worker.onmessage = ({ data }) => {
      if ('progress' in data) {
        progress.value = data.progress;
        return;
      }
      scanEnded();
      if (data.result) showResult(data.result);
      else scanStatus(t.unexpected);
    };
    worker.onerror = () => {
      scanEnded();
      scanStatus(t.unexpected);
      worker.terminate();
      worker = null;
    };
  };
  $('scan-run').addEventListener('click', async () => {
    const text = $('scan-text').value;
    const chosen = [...files.files];
    if (text === '' && chosen.length === 0) {
      scanStatus(t.nothingToScan);
      return;
    }
    if (scanning) return;
    scanning = true;
    $('scan-run').disabled = true;
    progress.value = 0;
    progress.hidden = false;
    scanStatus('');
    try {
      const module = await compiled;
      if (!worker) startWorker();
      worker.postMessage({ module, text, files: chosen });
    } catch {
      scanEnded();
      scanStatus(t.unexpected);
    }
  });
  $('scan-copy').addEventListener('click', async () => {
    if (homeLinks.length === 0) {
      scanStatus(t.noHomeLinks);
      return;
    }
    scanStatus((await writeClipboard(homeLinks.join('\n') + '\n')) ? t.copied : t.copyFailed);
  });
  $('scan-save').addEventListener('click', () => {
    if (homeLinks.length === 0) {
      scanStatus(t.noHomeLinks);
      return;
    }
    const url = URL.createObjectURL(new Blob([homeLinks.join('\n') + '\n'], { type: 'text/plain' }));
    const link = document.createElement('a');
    link.href = url;
    link.download = t.savedName;
    link.click();
    setTimeout(() => URL.revokeObjectURL(url), 60000);
  });
  // Files dropped anywhere on the scan's part of the page are the files chosen.
  const scanPart = $('scan-part');
  scanPart.addEventListener('dragover', (event) => {
    if (event.dataTransfer.types.includes('Files')) event.preventDefault();
  });
  scanPart.addEventListener('drop', (event) => {
    if (event.dataTransfer.files.length === 0) return;
    event.preventDefault();
    files.files = event.dataTransfer.files;
  });

  $('repair').focus();
})();
