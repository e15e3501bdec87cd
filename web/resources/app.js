// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder's page: the live state from the event stream, the takes
// grouped by day, newest first. No outside resources.
'use strict';

const rows = new Map();      // take name -> row element
const days = new Map();      // "yyyy-mm-dd" -> section element
let live = { recording: false, seconds: 0, at: 0 };

// The page's texts in Chinese and English (page.js tells which).
const TEXTS = {
  title: ['Somorabox 录音', 'Somorabox takes'],
  listening: ['监听中', 'listening'],
  notListening: ['未监听', 'not listening'],
  recording: ['● 录音中', '● recording'],
  idle: ['未录音', 'idle'],
  level: ['输入电平', 'input level'],
  input: ['输入', 'input'],
  disk: ['磁盘', 'disk'],
  free: ['可用', 'free'],
  timelineDay: ['日期', 'day'],
  speed: ['速度', 'speed'],
  archive: ['归档', 'archive'],
  archived: ['✓ 已归档', '✓ archived'],
  queued: ['待传', 'queued'],
  link: ['● 连接', '● link'],
  adminPassword: ['管理员密码', 'admin password'],
  noTakes: ['没有录音', 'no takes'],
  download: ['下载', 'download'],
  delete: ['删除', 'delete'],
  rec: ['● 录音中', '● REC'],
  enterPassword: ['请输入管理员密码', 'enter the admin password'],
  confirmDelete: ['删除 %s?', 'delete %s?'],
  noConnection: ['连接失败', 'no connection'],
  wrongPassword: ['密码错误', 'wrong password'],
  inUse: ['正在录音或播放', 'the take is in use'],
  tooMany: ['请稍后再试', 'too many attempts, wait a moment'],
  notDeleted: ['删除失败', 'not deleted'],
  note: ['备注', 'note'],
  editNote: ['%s 的备注（最多 500 字，留空则清除）', 'note for %s (up to 500 characters, empty clears it)'],
  hold: ['保留', 'hold'],
  release: ['解除保留', 'lift hold'],
  held: ['⚑ 已保留', '⚑ held'],
  isHeld: ['录音已保留，请先解除保留', 'the take is held; lift its hold first'],
  badNote: ['备注无效', 'note refused'],
  notSaved: ['未保存', 'not saved'],
  silentSince: ['无声，自 %s', 'silent since %s'],
  clipping: ['削波', 'clipping'],
  hoursUntil: ['录音时段：至 %s', 'recording hours: until %s'],
  hoursNext: ['录音时段外：下次 %s', 'outside recording hours: next %s'],
  days: [['周一', '周二', '周三', '周四', '周五', '周六', '周日'], ['Mon', 'Tue', 'Wed', 'Thu', 'Fri', 'Sat', 'Sun']],
  listen: ['▶ 实时收听', '▶ listen live'],
  stopListening: ['■ 停止收听', '■ stop listening'],
  liveEnded: ['实时收听已中断', 'live listening stopped'],
};
function text(key) { return TEXTS[key][english ? 1 : 0]; }
function showTexts(root) {
  for (const e of root.querySelectorAll('[data-text]')) e.textContent = text(e.dataset.text);
  for (const e of root.querySelectorAll('[data-title]')) e.title = text(e.dataset.title);
}
document.title = text('title');
showTexts(document);

function duration(s) {
  s = Math.max(0, Math.round(s));
  const h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60;
  return (h ? h + ':' + pad(m) : m) + ':' + pad(s % 60);
}
function bytesText(b) {
  if (!(b >= 0)) return '–';
  const u = ['B', 'KB', 'MB', 'GB', 'TB'];
  let i = 0;
  while (b >= 1024 && i < u.length - 1) { b /= 1024; i++; }
  return b.toFixed(i ? 1 : 0) + ' ' + u[i];
}
function say(text) {
  $('message').textContent = text;
  if (text) setTimeout(() => { if ($('message').textContent === text) $('message').textContent = ''; }, 6000);
}

// --- Live state
function showState(s) {
  const listening = $('listening');
  listening.textContent = text(s.listening ? 'listening' : 'notListening');
  listening.className = 'badge ' + (s.listening ? 'on' : 'off');
  const rec = $('recording');
  rec.textContent = text(s.recording ? 'recording' : 'idle');
  rec.className = 'badge ' + (s.recording ? 'rec' : 'idle');
  live = { recording: s.recording, seconds: s.recording_seconds || 0, at: Date.now() };
  $('input').textContent = s.input || '–';
  $('disk').textContent = s.disk || '–';
  const archive = $('archive');
  archive.hidden = !s.archive;
  if (s.archive) {
    archive.querySelector('b').textContent = s.archive.state +
      (s.archive.queued ? ' · ' + s.archive.queued + ' ' + text('queued') + ' (' + bytesText(s.archive.queued_bytes) + ')' : '');
    archive.classList.toggle('bad', s.archive.state !== 'ok');
  }
  if ('free_bytes' in s) $('free').textContent = bytesText(s.free_bytes);
  showAlarms(s);
  showLevel(s.level);
  tick();
}
// The recorder's own local time ("2026-12-08T18:00:00"), as it stands, not
// moved into the browser's time zone.
function hhmm(iso) { return String(iso || '').substring(11, 16); }
function dayAndTime(iso) {
  const d = String(iso || '').substring(0, 10).split('-').map(Number);
  const day = (new Date(Date.UTC(d[0], d[1] - 1, d[2])).getUTCDay() + 6) % 7;
  return (text('days')[day] || '') + ' ' + hhmm(iso);
}
function showAlarms(s) {
  const alarms = [];
  if (s.silent_since) alarms.push(text('silentSince').replace('%s', hhmm(s.silent_since)));
  if (s.clipping) alarms.push(text('clipping'));
  const box = $('alarms');
  box.hidden = !alarms.length;
  box.textContent = alarms.join(' · ');
  const hours = $('hours');
  hours.hidden = !s.hours;
  if (s.hours) {
    hours.querySelector('b').textContent = english ? s.hours.state
      : s.hours.inside ? text('hoursUntil').replace('%s', dayAndTime(s.hours.until))
        : text('hoursNext').replace('%s', dayAndTime(s.hours.next));
    hours.classList.toggle('bad', !s.hours.inside);
  }
}
function showLevel(level) { $('level').style.width = Math.max(0, Math.min(100, level | 0)) + '%'; }
function tick() {
  $('clock').textContent = live.recording ? duration(live.seconds + (Date.now() - live.at) / 1000) : '';
}
setInterval(tick, 500);

async function refreshStatus() {
  try {
    const r = await fetch('/api/status', { cache: 'no-store' });
    if (r.ok) showState(await r.json());
  } catch (e) { /* the event stream reports the link */ }
}

// --- Takes
function daySection(day) {
  let section = days.get(day);
  if (!section) {
    section = document.createElement('section');
    const h = document.createElement('h2');
    h.textContent = day;
    section.appendChild(h);
    days.set(day, section);
  }
  return section;
}

const observer = 'IntersectionObserver' in window ? new IntersectionObserver((entries) => {
  for (const e of entries) if (e.isIntersecting) { observer.unobserve(e.target); loadPeaks(e.target); }
}) : null;

async function loadPeaks(canvas) {
  try {
    const r = await fetch('/takes/' + encodeURIComponent(canvas.dataset.name) + '/peaks');
    if (!r.ok) return;
    canvas.peaks = (await r.json()).peaks;
    drawPeaks(canvas, canvas.peaks, 0);
  } catch (e) { /* left blank */ }
}

function makePlayer(row, t) {
  const box = row.querySelector('.player');
  box.textContent = '';
  const canvas = document.createElement('canvas');
  canvas.dataset.name = t.name;
  const audio = document.createElement('audio');
  audio.controls = true;
  audio.preload = 'none';
  audio.src = '/takes/' + encodeURIComponent(t.name);
  canvas.addEventListener('click', (ev) => {
    const d = audio.duration || t.seconds;
    if (!d) return;
    audio.currentTime = (ev.offsetX / canvas.clientWidth) * d;
    audio.play().catch(() => {});
  });
  audio.addEventListener('timeupdate', () => {
    if (canvas.peaks && audio.duration) drawPeaks(canvas, canvas.peaks, audio.currentTime / audio.duration);
  });
  box.append(canvas, audio);
  if (observer) observer.observe(canvas); else loadPeaks(canvas);
}

function makeRow(t) {
  const row = document.createElement('article');
  row.className = 'take';
  row.dataset.name = t.name;
  row.innerHTML = '<div class="top"><span class="time"></span><span class="len"></span><span class="rec"></span><span class="archived" data-text="archived"></span><span class="held" data-text="held"></span>' +
    '<span class="actions"><a class="download" data-text="download"></a><button class="note" type="button" data-text="note"></button>' +
    '<button class="hold" type="button"></button><button class="delete" type="button" data-text="delete"></button></span></div>' +
    '<div class="note-text"></div><div class="player"></div>';
  showTexts(row);
  row.querySelector('.time').textContent = t.start.slice(11, 19);
  const a = row.querySelector('.download');
  a.href = '/takes/' + encodeURIComponent(t.name);
  a.download = t.name;
  row.querySelector('.delete').addEventListener('click', () => removeTake(t.name));
  row.querySelector('button.note').addEventListener('click', () => editNote(t.name, row.dataset.note || ''));
  row.querySelector('.hold').addEventListener('click', () => setHold(t.name, row.dataset.held !== '1'));
  return row;
}

function updateRow(row, t) {
  row.querySelector('.len').textContent = duration(t.seconds);
  row.querySelector('.rec').textContent = t.recording ? text('rec') : '';
  row.querySelector('.archived').hidden = !t.archived;
  // Notes are shown as text, never as markup.
  row.dataset.note = t.note || '';
  row.querySelector('.note-text').textContent = t.note || '';
  row.dataset.held = t.held ? '1' : '0';
  row.querySelector('.held').hidden = !t.held;
  row.querySelector('.hold').textContent = text(t.held ? 'release' : 'hold');
  row.querySelector('.delete').hidden = !!t.held;
  row.classList.toggle('recording', t.recording);
  row.querySelector('.actions').hidden = t.recording;
  const wasRecording = row.dataset.recording === '1';
  row.dataset.recording = t.recording ? '1' : '0';
  if (!t.recording && (wasRecording || !row.querySelector('audio'))) makePlayer(row, t);
}

function showTakes(list) {
  const container = $('takes');
  const seen = new Set();
  let lastSection = null;
  let previousRow = null;
  for (const t of list) {
    seen.add(t.name);
    let row = rows.get(t.name);
    if (!row) { row = makeRow(t); rows.set(t.name, row); }
    updateRow(row, t);
    const section = daySection(t.start.slice(0, 10));
    if (section !== lastSection) {
      // Sections in the order of the list, each after the one before.
      const want = lastSection ? lastSection.nextSibling : container.firstChild;
      if (want !== section) container.insertBefore(section, want);
      lastSection = section;
      previousRow = section.firstChild;  // the heading
    }
    if (previousRow.nextSibling !== row) section.insertBefore(row, previousRow.nextSibling);
    previousRow = row;
  }
  for (const [name, row] of rows) if (!seen.has(name)) { row.remove(); rows.delete(name); }
  for (const [day, section] of days) if (section.children.length <= 1) { section.remove(); days.delete(day); }
  const empty = container.querySelector('.empty');
  if (list.length && empty) empty.remove();
  if (!list.length && !empty) {
    const p = document.createElement('p');
    p.className = 'empty';
    p.textContent = text('noTakes');
    container.replaceChildren(p);
  }
}

let loading = null, again = false;
async function loadTakes() {
  if (loading) { again = true; return loading; }
  loading = (async () => {
    try {
      const r = await fetch('/api/takes', { cache: 'no-store' });
      if (r.ok) { const list = await r.json(); showTakes(list); showTimeline(list); }
    } catch (e) { /* the event stream reports the link */ }
  })();
  await loading;
  loading = null;
  if (again) { again = false; return loadTakes(); }
}

async function removeTake(name) {
  const password = $('password').value;
  if (!password) { say(text('enterPassword')); $('password').focus(); return; }
  if (!confirm(text('confirmDelete').replace('%s', name))) return;
  const credentials = btoa(String.fromCharCode(...new TextEncoder().encode('admin:' + password)));
  let r;
  try {
    r = await fetch('/takes/' + encodeURIComponent(name), { method: 'DELETE', headers: { Authorization: 'Basic ' + credentials } });
  } catch (e) { say(text('noConnection')); return; }
  if (r.status === 204 || r.status === 404) { say(''); loadTakes(); return; }
  say(r.status === 401 ? text('wrongPassword')
    : r.status === 409 ? ((await r.text()).includes('held') ? text('isHeld') : text('inUse'))
    : r.status === 429 ? text('tooMany')
    : text('notDeleted') + ' (' + r.status + ')');
}

// --- The day's timeline, over the days the takes span; the address
// "#day=YYYY-MM-DD&take=NAME" opens it at that take.
const timelineDay = $('tl-day');
let timelineTakes = [];
let wanted = Timeline.readHash();
Timeline.setup($('timeline'), {
  takeUrl: (t) => '/takes/' + encodeURIComponent(t.name),
  peaksUrl: (t) => '/takes/' + encodeURIComponent(t.name) + '/peaks',
  onOpen: (t) => Timeline.writeHash({ day: Timeline.shown(), take: t.name }),
});
function showTimeline(list) {
  timelineTakes = list;
  const spanned = [...new Set(list.flatMap(Timeline.daysOf))].sort().reverse();
  $('timeline').hidden = !spanned.length;
  if (!spanned.length) return;
  if ([...timelineDay.options].map((o) => o.value).join() !== spanned.join()) {
    const keep = timelineDay.value;
    timelineDay.replaceChildren(...spanned.map((d) => {
      const o = document.createElement('option');
      o.value = d;
      o.textContent = d + ' ' + dayAndTime(d + 'T').trim();
      return o;
    }));
    timelineDay.value = keep;
  }
  const asked = wanted && (wanted.day || Timeline.dayOfName(wanted.take));
  if (asked && spanned.includes(asked)) timelineDay.value = asked;
  if (!timelineDay.value) timelineDay.value = spanned[0];
  Timeline.show(timelineDay.value, list);
  if (wanted && wanted.take && Timeline.open(wanted.take, 0, false)) $('timeline').scrollIntoView({ block: 'nearest' });
  wanted = null;
}
timelineDay.addEventListener('change', () => {
  Timeline.show(timelineDay.value, timelineTakes);
  Timeline.writeHash({ day: timelineDay.value });
});
window.addEventListener('hashchange', () => { wanted = Timeline.readHash(); showTimeline(timelineTakes); });

// A change to a take's note or hold, with the password.
async function markTake(name, what, method, body) {
  const password = $('password').value;
  if (!password) { say(text('enterPassword')); $('password').focus(); return; }
  const credentials = btoa(String.fromCharCode(...new TextEncoder().encode('admin:' + password)));
  let r;
  try {
    r = await fetch('/takes/' + encodeURIComponent(name) + '/' + what,
      { method, body, headers: { Authorization: 'Basic ' + credentials, 'Content-Type': 'text/plain; charset=utf-8' } });
  } catch (e) { say(text('noConnection')); return; }
  if (r.status === 204) { say(''); loadTakes(); return; }
  say(r.status === 401 ? text('wrongPassword')
    : r.status === 429 ? text('tooMany')
    : r.status === 400 ? text('badNote') + ': ' + (await r.text()).trim()
    : text('notSaved') + ' (' + r.status + ')');
}
function editNote(name, old) {
  const note = prompt(text('editNote').replace('%s', name), old);
  if (note !== null && note !== old) markTake(name, 'note', 'PUT', note);
}
function setHold(name, on) { markTake(name, 'hold', on ? 'PUT' : 'DELETE', on ? '' : undefined); }

// --- Listening live: the line input as it sounds now, in the audio element
// beside the level. Stopping drops the source, which closes the stream.
const liveAudio = $('live-audio');
function stopListening(message) {
  liveAudio.pause();
  liveAudio.removeAttribute('src');
  liveAudio.load();
  liveAudio.hidden = true;
  $('listen').textContent = text('listen');
  $('listen').classList.remove('on');
  if (message) say(message);
}
$('listen').addEventListener('click', () => {
  if (liveAudio.getAttribute('src')) { stopListening(''); return; }
  liveAudio.src = '/live.ogg?t=' + Date.now();
  liveAudio.hidden = false;
  $('listen').textContent = text('stopListening');
  $('listen').classList.add('on');
  liveAudio.play().catch(() => stopListening(text('liveEnded')));
});
liveAudio.addEventListener('error', () => { if (liveAudio.getAttribute('src')) stopListening(text('liveEnded')); });
liveAudio.addEventListener('ended', () => stopListening(text('liveEnded')));

// --- Live updates
function connect() {
  const events = new EventSource('/api/events');
  events.onopen = () => { $('link').className = 'on'; loadTakes(); refreshStatus(); };
  events.onerror = () => { $('link').className = 'off'; };
  // A state event is the whole status, or one change ({what, state, detail})
  // that the status sent with it already shows.
  events.addEventListener('state', (e) => {
    const s = JSON.parse(e.data);
    if (!('what' in s)) showState(s);
  });
  events.addEventListener('level', (e) => showLevel(JSON.parse(e.data).level));
  events.addEventListener('take', () => loadTakes());
}

loadTakes();
refreshStatus();
setInterval(refreshStatus, 10000);
connect();
