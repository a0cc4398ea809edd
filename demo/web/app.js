'use strict';

(() => {
  const root = document.documentElement;
  const byId = (id) => document.getElementById(id);
  const THEME_KEY = 'corvidale-demo-theme';
  const MAX_LOG_LINES = 6;
  const MAX_FILES_LISTED = 6;

  // Text with code spans: strings stay text, { code } parts become <code>.
  function fragments(parts) {
    return parts.map((part) => {
      if (typeof part === 'string') return part;
      const code = document.createElement('code');
      code.textContent = part.code;
      return code;
    });
  }

  function show(element, parts) {
    element.replaceChildren(...fragments(parts));
  }

  // Newest first, a few lines kept: enough to compare two tries.
  function logLine(list, parts) {
    list.querySelector('.empty')?.remove();
    const item = document.createElement('li');
    item.append(...fragments(parts));
    list.prepend(item);
    while (list.children.length > MAX_LOG_LINES) list.lastElementChild.remove();
  }

  function describe(value) {
    if (value === null) return 'null';
    if (value === undefined) return 'undefined';
    if (typeof value === 'string') return JSON.stringify(value);
    return String(value);
  }

  // ---- Theme -------------------------------------------------------------

  const currentTheme = () => (root.classList.contains('light') ? 'light' : 'dark');

  function showTheme() {
    const theme = currentTheme();
    for (const button of document.querySelectorAll('[data-theme]')) {
      button.setAttribute('aria-pressed', String(button.dataset.theme === theme));
    }
    show(byId('theme-result'), theme === 'light'
      ? ['Now ', { code: '<html class="light">' }, ' — the window goes light.']
      : ['Now ', { code: '<html>' }, ' — no class, so the window goes dark.']);
  }

  for (const button of document.querySelectorAll('[data-theme]')) {
    button.addEventListener('click', () => {
      root.classList.toggle('light', button.dataset.theme === 'light');
      try {
        localStorage.setItem(THEME_KEY, currentTheme());
      } catch (e) {
        // private storage off: the choice just lasts until reload
      }
    });
  }
  // Whoever changes the class (these buttons, the inspector, another script)
  // the buttons show what the shell sees.
  new MutationObserver(showTheme).observe(root, { attributes: true, attributeFilter: ['class'] });
  showTheme();

  // ---- User agent ----------------------------------------------------------

  const agent = navigator.userAgent;
  const token = agent.match(/ (CorvidaleShell\/(\S+))$/);
  const uaText = byId('ua-text');
  if (token) {
    const mark = document.createElement('mark');
    mark.textContent = token[1];
    uaText.append(agent.slice(0, token.index + 1), mark);
    const [platform, ...stamp] = token[2].split('-');
    byId('ua-platform').textContent = platform || '—';
    byId('ua-stamp').textContent = stamp.join('-') || '—';
    byId('shell-chip').textContent = `Inside Corvidale · ${token[2]}`;
    byId('shell-chip').classList.add('chip-ok');
  } else {
    uaText.textContent = agent;
    byId('ua-platform').textContent = 'not in the shell';
    byId('ua-stamp').textContent = '—';
    byId('shell-chip').textContent = 'Not inside Corvidale';
    byId('shell-chip').classList.add('chip-warn');
  }
  byId('origin-chip').textContent = location.host;

  // ---- Links ---------------------------------------------------------------

  function linkToOtherPort(otherPort) {
    const port = otherPort || Number(location.port || 443) + 1;
    const url = new URL('/page.html', `https://${location.hostname}:${port}`);
    url.searchParams.set('back', location.href);
    url.searchParams.set('theme', currentTheme());
    const link = byId('link-port');
    link.href = url.href;
    byId('link-port-note').textContent = otherPort
      ? `${location.hostname}:${port}`
      : `${location.hostname}:${port} (nothing listens there; the error shows here)`;
  }
  // Keep the theme in step when it changes after the link was made.
  byId('link-port').addEventListener('click', (event) => {
    const url = new URL(event.currentTarget.href);
    url.searchParams.set('theme', currentTheme());
    event.currentTarget.href = url.href;
  });

  byId('open-window').addEventListener('click', () => {
    const opened = window.open('https://example.org/', '_blank');
    byId('open-window-note').textContent = opened === null
      ? 'returned null: handed to your browser'
      : 'returned a window';
  });

  // ---- Downloads -------------------------------------------------------------

  // The file is made at the moment of the click, so each download differs and
  // shows when it was made.
  const blobLink = byId('blob-link');
  let blobUrl = null;
  function freshBlob() {
    if (blobUrl) {
      const stale = blobUrl;
      setTimeout(() => URL.revokeObjectURL(stale), 60000);
    }
    const text = `Made by the page's own script at ${new Date().toLocaleString()}.\n` +
      'It never touched the server: the shell saved a Blob URL the page created.\n';
    blobUrl = URL.createObjectURL(new Blob([text], { type: 'text/plain' }));
    blobLink.href = blobUrl;
  }
  freshBlob();
  blobLink.addEventListener('click', freshBlob);

  // ---- Dialogs -------------------------------------------------------------

  const dialogLog = byId('dialog-log');
  byId('do-alert').addEventListener('click', () => {
    const value = alert('Hello from the page. This is a native dialog.');
    logLine(dialogLog, ['alert() returned ', { code: describe(value) }]);
  });
  byId('do-confirm').addEventListener('click', () => {
    const value = confirm('OK or Cancel? The page gets true or false.');
    logLine(dialogLog, ['confirm() returned ', { code: describe(value) }]);
  });
  byId('do-prompt').addEventListener('click', () => {
    const value = prompt('What should the page call you?', 'Corvid');
    logLine(dialogLog, ['prompt() returned ', { code: describe(value) }, value === null ? ' (cancelled)' : '']);
  });

  // ---- Files -----------------------------------------------------------------

  function size(bytes) {
    if (bytes < 1024) return `${bytes} B`;
    const units = ['KB', 'MB', 'GB', 'TB'];
    let value = bytes / 1024;
    let unit = 0;
    while (value >= 1024 && unit < units.length - 1) {
      value /= 1024;
      unit += 1;
    }
    return `${value.toFixed(value < 10 ? 1 : 0)} ${units[unit]}`;
  }

  const filesLog = byId('files-log');
  const pickers = { 'pick-one': 'one file', 'pick-many': 'several', 'pick-folder': 'a folder' };
  for (const [id, what] of Object.entries(pickers)) {
    const input = byId(id);
    input.addEventListener('change', () => {
      const files = [...input.files];
      if (files.length === 0) {
        logLine(filesLog, [`${what}: nothing chosen`]);
        return;
      }
      const names = files.slice(0, MAX_FILES_LISTED)
        .map((file) => `${file.webkitRelativePath || file.name} (${size(file.size)})`);
      if (files.length > MAX_FILES_LISTED) names.push(`and ${files.length - MAX_FILES_LISTED} more`);
      logLine(filesLog, [`${what}: ${files.length} file${files.length === 1 ? '' : 's'} — `, { code: names.join(', ') }]);
      input.value = '';  // choosing the same file again should report again
    });
    input.addEventListener('cancel', () => logLine(filesLog, [`${what}: cancelled`]));
  }

  // ---- Camera and microphone -----------------------------------------------

  const mediaResult = byId('media-result');
  const video = byId('camera-video');
  const preview = byId('preview');
  const stopButton = byId('stop-media');
  let stream = null;

  function stopMedia() {
    if (stream) for (const track of stream.getTracks()) track.stop();
    stream = null;
    video.srcObject = null;
    preview.classList.remove('live');
    stopButton.disabled = true;
  }

  const reasons = {
    NotAllowedError: 'permission refused (by the shell or by you).',
    NotFoundError: 'there is no such device on this computer.',
    // A request without constraints can only be "over-constrained" when
    // there is no device at all; that is how the engine reports it.
    OverconstrainedError: 'no device matched; for a plain request like this, none was found.',
    NotReadableError: 'the device exists but could not be opened (in use elsewhere?).',
    SecurityError: 'media capture is not allowed on this page.',
    AbortError: 'the request was cut short.',
  };

  async function capture(kind) {
    stopMedia();
    if (!navigator.mediaDevices?.getUserMedia) {
      show(mediaResult, [{ code: 'navigator.mediaDevices' }, ' is missing: media capture is switched off in this web view.']);
      return;
    }
    show(mediaResult, [`Asking for the ${kind}…`]);
    try {
      stream = await navigator.mediaDevices.getUserMedia(kind === 'camera' ? { video: true } : { audio: true });
      const labels = stream.getTracks().map((track) => track.label || track.kind).join(', ');
      show(mediaResult, ['Granted: ', { code: labels }]);
      if (kind === 'camera') {
        video.srcObject = stream;
        preview.classList.add('live');
      }
      stopButton.disabled = false;
    } catch (error) {
      stream = null;
      const name = error?.name || 'Error';
      const outcome = name === 'NotAllowedError' ? 'Refused: ' : 'Failed: ';
      show(mediaResult, [outcome, { code: name }, ` — ${reasons[name] || error?.message || 'no reason given.'}`]);
    }
  }

  byId('use-camera').addEventListener('click', () => capture('camera'));
  byId('use-microphone').addEventListener('click', () => capture('microphone'));
  stopButton.addEventListener('click', () => {
    stopMedia();
    show(mediaResult, ['Stopped.']);
  });

  // ---- What the server saw, and the "I'm on screen" beacon ---------------------

  async function askServer() {
    try {
      const response = await fetch('/api/info', { cache: 'no-store' });
      if (!response.ok) throw new Error(`HTTP ${response.status}`);
      const info = await response.json();
      const same = info.userAgent === agent;
      byId('ua-server').textContent = same ? 'the same agent' : 'a different agent';
      byId('ua-server').className = same ? 'ok' : 'warn';
      if (!same) byId('ua-server').title = info.userAgent;
      linkToOtherPort(info.otherPort);
    } catch (error) {
      byId('ua-server').textContent = `no answer (${error.message})`;
      byId('ua-server').className = 'warn';
      linkToOtherPort(null);
    }
  }

  const nextFrame = () => new Promise((resolve) => requestAnimationFrame(() => resolve()));

  // Sent once the page has painted with its final content, so a script
  // waiting for it (the headless demo run) can take a screenshot right away.
  async function announceLoaded() {
    await askServer();
    if (document.fonts?.ready) await document.fonts.ready;
    await nextFrame();
    await nextFrame();
    const report = {
      theme: currentTheme(),
      viewport: `${window.innerWidth}x${window.innerHeight}`,
      shell: token ? token[1] : null,
    };
    fetch('/api/loaded', { method: 'POST', body: JSON.stringify(report), keepalive: true }).catch(() => {});
  }
  announceLoaded();
})();
