// receiver.js -- the page of `receiver --web`: the screen, the remote
// control, the plug-in and mount buttons, and the texts the simulator pushes
// (server-sent events from /events).
'use strict';

const $ = (id) => document.getElementById(id);
const screenImg = $('screen');
const textLimit = 200000;  // characters kept in each text pane

function notice(text) {
  $('notice').textContent = text || '';
}

// Every command carries this run's token, which only the served page knows.
const token = document.querySelector('meta[name="ferrox-token"]').content;

async function post(url) {
  try {
    const r = await fetch(url, { method: 'POST', headers: { 'X-Ferrox-Token': token } });
    if (!r.ok) {
      const j = await r.json().catch(() => ({}));
      notice(j.error || 'refused: ' + r.status);
    }
  } catch (e) {
    notice('the simulator does not answer');
  }
}

function press(name) {
  post('/key?name=' + encodeURIComponent(name));
  const b = document.querySelector('.remote [data-key="' + name + '"]');
  if (b) {
    b.classList.add('pressed');
    setTimeout(() => b.classList.remove('pressed'), 120);
  }
}

document.querySelectorAll('.remote [data-key]').forEach((b) => {
  b.addEventListener('click', () => press(b.dataset.key));
});

const keyboard = {
  ArrowUp: 'Up', ArrowDown: 'Down', ArrowLeft: 'Left', ArrowRight: 'Right',
  Enter: 'Ok', Escape: 'Exit', PageUp: 'PageUp', PageDown: 'PageDown',
  r: 'Red', g: 'Green', y: 'Yellow', b: 'Blue', m: 'Menu',
};
for (let d = 0; d <= 9; d++) keyboard[String(d)] = String(d);

document.addEventListener('keydown', (e) => {
  if (e.ctrlKey || e.altKey || e.metaKey) return;
  if (e.target && (e.target.tagName === 'INPUT' || e.target.tagName === 'TEXTAREA')) return;
  const name = keyboard[e.key] || keyboard[e.key.toLowerCase()];
  if (!name) return;
  e.preventDefault();
  press(name);
});

$('stop').addEventListener('click', () => post('/stop'));

// The screen: a new image for every version the simulator announces; the
// version shown is kept on the element.
screenImg.addEventListener('load', () => {
  const v = Number(new URL(screenImg.src).searchParams.get('v'));
  screenImg.dataset.shown = String(v);
});
function showScreen(version) {

  screenImg.src = '/screen.png?v=' + version;
}

function append(pre, text) {
  const atEnd = pre.scrollTop + pre.clientHeight >= pre.scrollHeight - 4;
  let all = pre.textContent + text;
  if (all.length > textLimit) all = all.slice(all.length - textLimit);
  pre.textContent = all;
  if (atEnd) pre.scrollTop = pre.scrollHeight;
}

// The buttons are made anew only when the plug-ins or mounts changed: the
// clock changes every second, and a button replaced under the pointer
// would lose the click that was meant for it.
let shownLists = '';
function showState(s) {
  const m = Math.floor(s.seconds / 60), sec = s.seconds % 60;
  $('clock').textContent = (m ? m + ' min ' : '') + sec + ' s';
  const lists = JSON.stringify([s.startable, s.plugins, s.mounts]);
  if (lists === shownLists) return;
  shownLists = lists;
  const running = new Set(s.plugins.map((p) => p.slice(p.lastIndexOf('/') + 1)));

  const plugins = $('plugins');
  plugins.textContent = '';
  for (const tap of s.startable) {
    const b = document.createElement('button');
    b.dataset.tap = tap;
    b.textContent = 'Start ' + tap;
    if (running.has(tap)) b.classList.add('running');
    b.addEventListener('click', () => post('/start?tap=' + encodeURIComponent(tap)));
    plugins.appendChild(b);
  }

  const list = $('running');
  list.textContent = '';
  for (const p of s.plugins) {
    const li = document.createElement('li');
    li.textContent = p + '  (running)';
    list.appendChild(li);
  }

  const mounts = $('mounts');
  mounts.textContent = '';
  if (s.mounts.length === 0) {
    const li = document.createElement('li');
    li.className = 'none';
    li.textContent = 'none in this run';
    mounts.appendChild(li);
  }
  for (const mt of s.mounts) {
    const li = document.createElement('li');
    const name = document.createElement('span');
    name.className = mt.present ? 'present' : 'absent';
    name.textContent = mt.path;
    const b = document.createElement('button');
    b.dataset.mount = mt.path;
    b.textContent = mt.present ? 'Unmount' : 'Mount';
    b.addEventListener('click', () =>
      post('/mount?path=' + encodeURIComponent(mt.path) + '&present=' + (mt.present ? '0' : '1')));
    li.append(name, b);
    mounts.appendChild(li);
  }
}

// Megabytes as an owner reads them: one decimal below 100 MB.
function megabytes(bytes) {
  const mb = bytes / 1048576;
  return mb < 100 ? mb.toFixed(1) : Math.round(mb).toLocaleString('en');
}

// The copy service's status: the recording (n of m, its name, percent, MB
// and speed), a bar for the whole run, and the last run's summary until
// the next run starts.
function showStatus(s) {
  let head = 'The copy service is not running', file = '', parts = [], whole = 0;
  if (s.summary) {
    // the run has ended (its summary is its last line); the service may
    // still show its result on the TV for a few seconds
    if (s.running) head = 'The copy run has ended';
    whole = 1;
  } else if (s.running && !s.answered) {
    head = 'The copy service does not answer';
  } else if (s.running && s.state === 2 && s.entries > 0) {
    const percent = Math.max(0, Math.min(100, s.percent));
    head = 'Recording ' + s.entry + ' of ' + s.entries;
    file = s.file;
    parts = [percent + '%', megabytes(s.bytes * percent / 100) + ' of ' + megabytes(s.bytes) + ' MB'];
    if (s.perMinute > 0) parts.push(megabytes(s.perMinute) + ' MB/min');
    whole = (Math.max(0, s.entry - 1) + percent / 100) / s.entries;
  } else if (s.running) {
    head = s.words.charAt(0).toUpperCase() + s.words.slice(1);
    if (s.entries > 0) head += ' (' + s.entry + ' of ' + s.entries + ')';
  }
  $('status-head').textContent = head;
  $('status-file').textContent = file;
  const line = $('status-line');
  line.textContent = '';
  parts.forEach((p, i) => {
    if (i) line.append(' \u00b7 ');
    const span = document.createElement('span');
    span.textContent = p;
    line.append(span);
  });
  $('summary').textContent = s.summary ? 'Last run: ' + s.summary : '';
  $('progress').style.width = Math.min(100, whole * 100).toFixed(1) + '%';
}

// The push channel. EventSource reconnects by itself; a new stream resends
// the texts the simulator still holds, so the panes start afresh then.
function connect() {
  const events = new EventSource('/events');
  let fresh = true;
  events.onopen = () => {
    const link = $('link');
    link.className = 'link on';
    link.textContent = 'live';
  };
  events.onerror = () => {
    const link = $('link');
    link.className = 'link off';
    link.textContent = 'reconnecting';
    fresh = true;
  };
  const text = (pane) => (e) => {
    if (fresh) {
      $('console').textContent = '';
      $('log').textContent = '';
      fresh = false;
    }
    append($(pane), JSON.parse(e.data));
  };
  events.addEventListener('screen', (e) => showScreen(Number(e.data)));
  events.addEventListener('console', text('console'));
  events.addEventListener('log', text('log'));
  events.addEventListener('status', (e) => showStatus(JSON.parse(e.data)));
  events.addEventListener('state', (e) => showState(JSON.parse(e.data)));
}
connect();
