// SPDX-License-Identifier: GPL-3.0-or-later
'use strict';
// The fleet page: every room's state from its heartbeat, refreshed every
// 15 s, and the takes of the picked room and day.
let rooms = [];
let picked = '';

// The page's texts in Chinese and English (page.js tells which).
const TEXTS = {
  title: ['Somorabox 全部房间', 'Somorabox: every room'],
  everyRoom: ['全部房间', 'every room'],
  rooms: ['个房间', 'rooms'],
  noRooms: ['没有房间', 'no rooms'],
  room: ['房间', 'room'],
  day: ['日期', 'day'],
  pick: ['选择房间和日期', 'pick a room and a day'],
  listening: ['监听中', 'listening'],
  notListening: ['未监听', 'not listening'],
  recording: ['● 录音中', '● recording'],
  input: ['输入', 'input'],
  disk: ['磁盘', 'disk'],
  archive: ['归档', 'archive'],
  heartbeat: ['心跳', 'heartbeat'],
  noHeartbeat: ['无心跳', 'no heartbeat'],
  noHeartbeatSince: ['无心跳，自', 'no heartbeat since'],
  last: ['最近', 'last'],
  noTakes: ['这天没有录音', 'no takes that day'],
  download: ['下载', 'download'],
  cannotReadRooms: ['读取房间失败', 'cannot read the rooms'],
  cannotReadTakes: ['读取录音失败', 'cannot read the takes'],
  silentSince: ['无声，自', 'silent since'],
  clipping: ['削波', 'clipping'],
  outsideHours: ['录音时段外', 'outside recording hours'],
  speed: ['速度', 'speed'],
  held: ['保留', 'held'],
};
function text(key) { return TEXTS[key][english ? 1 : 0]; }
document.title = text('title');
for (const e of document.querySelectorAll('[data-text]')) e.textContent = text(e.dataset.text);

function when(iso) {
  const t = new Date(iso);
  return isNaN(t) ? iso : t.toLocaleString();
}

function length(seconds) {
  if (typeof seconds !== 'number') return '';
  const s = Math.round(seconds);
  return Math.floor(s / 60) + ':' + String(s % 60).padStart(2, '0');
}

function showRooms() {
  const box = $('rooms');
  box.replaceChildren();
  $('count').textContent = rooms.length + ' ' + text('rooms');
  if (!rooms.length) box.append(el('p', 'empty', text('noRooms')));
  for (const r of rooms) {
    const a = el('article', 'room' + (r.stale ? ' stale' : '') + (r.room === picked ? ' picked' : ''));
    a.dataset.room = r.room;
    a.append(el('div', 'name', r.room));
    const state = el('div', 'state');
    if (r.heartbeat) {
      state.append(el('span', r.listening ? 'on' : '', text(r.listening ? 'listening' : 'notListening')));
      if (r.recording) state.append(' ', el('span', 'rec', text('recording')));
      // The alarms in the room's own local time, as its heartbeat gives it.
      if (r.silent_since) state.append(' ', el('span', 'alarm', text('silentSince') + ' ' + String(r.silent_since).substring(11, 16)));
      if (r.clipping) state.append(' ', el('span', 'alarm', text('clipping')));
      if (r.hours && !r.hours.inside) state.append(' ', el('span', 'off-hours', text('outsideHours')));
      const archive = r.archive || {};
      state.append(el('div', '', text('input') + ': ' + (r.input || '–') + ' · ' + text('disk') + ': ' +
        (r.disk || '–') + ' · ' + text('archive') + ': ' + (archive.state || '–') +
        (archive.queued ? ' (' + archive.queued + ')' : '')));
    }
    a.append(state);
    a.append(el('div', 'beat', r.heartbeat
      ? text(r.stale ? 'noHeartbeatSince' : 'heartbeat') + ' ' + when(r.heartbeat)
      : text('noHeartbeat')));
    if (r.last_take) a.append(el('div', 'last', text('last') + ': ' + r.last_take.name + ' ' + length(r.last_take.seconds)));
    a.addEventListener('click', () => pick(r.room));
    box.append(a);
  }
  const select = $('room');
  const names = rooms.map((r) => r.room);
  if ([...select.options].map((o) => o.value).join('\n') !== names.join('\n')) {
    select.replaceChildren(...names.map((n) => { const o = el('option', '', n); o.value = n; return o; }));
  }
  select.value = picked;
}

async function loadRooms() {
  try {
    const r = await fetch('/api/rooms', { cache: 'no-store' });
    if (!r.ok) throw new Error(await r.text());
    rooms = await r.json();
    $('message').textContent = '';
    showRooms();
  } catch (e) {
    $('message').textContent = text('cannotReadRooms') + ': ' + e.message;
  }
}

async function loadTakes() {
  const box = $('takes');
  const day = $('day').value;
  const room = picked;
  if (!picked || !day) return;
  try {
    const r = await fetch('/api/rooms/' + encodeURIComponent(picked) + '/takes?day=' + day, { cache: 'no-store' });
    if (!r.ok) throw new Error(await r.text());
    const takes = await r.json();
    if (room !== picked || day !== $('day').value) return;  // another room or day was picked meanwhile
    box.replaceChildren();
    if (!takes.length) box.append(el('p', 'empty', text('noTakes')));
    for (const t of takes.reverse()) {
      const a = el('article', 'take');
      a.dataset.name = t.name;
      const top = el('div', 'top');
      const url = '/rooms/' + encodeURIComponent(picked) + '/takes/' + encodeURIComponent(t.name);
      top.append(el('span', 'time', when(t.start)), el('span', 'len', length(t.seconds)));
      const link = el('a', '', text('download'));
      link.href = url;
      link.download = t.name;
      top.append(link);
      if (t.held) top.append(el('span', 'held-mark', text('held')));
      a.dataset.note = t.note || '';
      a.dataset.held = t.held ? '1' : '0';
      const audio = el('audio');
      audio.controls = true;
      audio.preload = 'none';
      audio.src = url;
      a.append(top);
      if (t.note) a.append(el('div', 'note', t.note));
      a.append(audio);
      box.append(a);
    }
    showTimeline(room, day, takes);
  } catch (e) {
    box.replaceChildren(el('p', 'empty', text('cannotReadTakes') + ': ' + e.message));
    showTimeline(room, day, []);
  }
}

// --- The picked room's day as a timeline, each take's outline from its
// object's metadata (a plain block for a take sent without one). The address "#room=ROOM&day=YYYY-MM-DD&take=NAME" opens it at
// that take; picking a room or a day writes the address.
let wanted = '';
Timeline.setup($('timeline'), {
  takeUrl: (t) => '/rooms/' + encodeURIComponent(t.room) + '/takes/' + encodeURIComponent(t.name),
  peaksUrl: (t) => '/rooms/' + encodeURIComponent(t.room) + '/takes/' + encodeURIComponent(t.name) + '/peaks',
  onOpen: (t) => Timeline.writeHash({ room: t.room, day: Timeline.shown(), take: t.name }),
});
function showTimeline(room, day, takes) {
  Timeline.show(day, takes.map((t) => Object.assign({ room }, t)));
  if (wanted && Timeline.open(wanted, 0, false)) $('timeline').scrollIntoView({ block: 'nearest' });
  wanted = '';
}
function followAddress() {
  const h = Timeline.readHash();
  if (!h.room) return false;
  wanted = h.take || '';
  const day = h.day || Timeline.dayOfName(h.take);
  if (day) $('day').value = day;
  picked = h.room;
  showRooms();
  loadTakes();
  return true;
}

function pick(room) {
  picked = room;
  Timeline.writeHash({ room, day: $('day').value });
  showRooms();
  loadTakes();
}

$('room').addEventListener('change', () => pick($('room').value));
$('day').addEventListener('change', () => {
  if (picked) Timeline.writeHash({ room: picked, day: $('day').value });
  loadTakes();
});
window.addEventListener('hashchange', followAddress);
{
  const now = new Date();
  $('day').value = now.getFullYear() + '-' + String(now.getMonth() + 1).padStart(2, '0') + '-' +
    String(now.getDate()).padStart(2, '0');
  followAddress();
}
loadRooms();
setInterval(loadRooms, 15000);

// --- Search across the fleet (words of the notes, a room, days) and share
// links. The answers open the day's timeline at their take through the
// page's address "#room=ROOM&day=YYYY-MM-DD&take=NAME".
const SEARCH_TEXTS = {
  words: ['备注中的词', 'words of the notes'],
  allRooms: ['全部房间', 'every room'],
  from: ['从', 'from'],
  to: ['到', 'to'],
  search: ['搜索', 'search'],
  nothingFound: ['没有找到录音', 'no takes found'],
  cannotSearch: ['搜索失败', 'cannot search'],
  open: ['打开', 'open'],
  held: ['保留', 'held'],
  share: ['分享', 'share'],
  days: ['有效天数', 'valid for days'],
  password: ['管理员密码', 'admin password'],
  makeLink: ['生成链接', 'make the link'],
  close: ['关闭', 'close'],
  enterPassword: ['请输入管理员密码', 'enter the admin password'],
  wrongPassword: ['密码错误', 'wrong password'],
  tooMany: ['密码错误次数过多，请稍后再试', 'too many wrong passwords, try again later'],
  validUntil: ['链接有效至', 'the link works until'],
  notShared: ['无法生成链接', 'cannot make the link'],
};
function searchText(key) { return SEARCH_TEXTS[key][english ? 1 : 0]; }
for (const e of document.querySelectorAll('[data-search-text]')) e.textContent = searchText(e.dataset.searchText);
$('q').placeholder = searchText('words');
$('search-room').options[0].textContent = searchText('allRooms');

function dayOfTake(name) {
  return name.substring(4, 8) + '-' + name.substring(8, 10) + '-' + name.substring(10, 12);
}

// The room list of the search follows the rooms the page knows.
function searchRooms() {
  const select = $('search-room');
  const chosen = select.value;
  const names = rooms.map((r) => r.room);
  if ([...select.options].slice(1).map((o) => o.value).join('\n') === names.join('\n')) return;
  select.replaceChildren(select.options[0], ...names.map((n) => { const o = el('option', '', n); o.value = n; return o; }));
  select.value = names.includes(chosen) ? chosen : '';
}
$('search-room').addEventListener('focus', searchRooms);
$('search-room').addEventListener('pointerdown', searchRooms);

$('search').addEventListener('submit', async (event) => {
  event.preventDefault();
  const box = $('found');
  const p = new URLSearchParams();
  if ($('q').value.trim()) p.set('q', $('q').value.trim());
  if ($('search-room').value) p.set('room', $('search-room').value);
  if ($('search-from').value) p.set('from', $('search-from').value);
  if ($('search-to').value) p.set('to', $('search-to').value);
  try {
    const r = await fetch('/api/search?' + p.toString(), { cache: 'no-store' });
    if (!r.ok) throw new Error(await r.text());
    const found = await r.json();
    box.replaceChildren();
    if (!found.length) box.append(el('p', 'empty', searchText('nothingFound')));
    for (const t of found) {
      const a = el('article', 'take found');
      const top = el('div', 'top');
      top.append(el('span', 'time', when(t.start)), el('span', 'room-name', t.room), el('span', 'len', length(t.seconds)));
      if (t.held) top.append(el('span', 'held-mark', searchText('held')));
      const open = el('a', '', searchText('open'));
      open.href = '#' + new URLSearchParams({ room: t.room, day: dayOfTake(t.name), take: t.name }).toString();
      top.append(open, shareButton(t.room, t.name));
      a.append(top);
      if (t.note) a.append(el('div', 'note', t.note));
      box.append(a);
    }
  } catch (e) {
    box.replaceChildren(el('p', 'empty', searchText('cannotSearch') + ': ' + e.message));
  }
});

// Without a timeline that follows the address, an answer still picks its
// room and day.
if (typeof followAddress !== 'function') {
  window.addEventListener('hashchange', () => {
    const h = new URLSearchParams(location.hash.replace(/^#/, ''));
    if (!h.get('room')) return;
    if (h.get('day')) $('day').value = h.get('day');
    pick(h.get('room'));
  });
}

// --- Share: a link to one take, valid for 1 to 30 days, made with the
// password; the password is kept only while the page is open.
let sharing = null;
function shareButton(room, name) {
  const b = el('button', 'share', searchText('share'));
  b.type = 'button';
  b.addEventListener('click', (event) => {
    event.stopPropagation();
    sharing = { room, name };
    $('share-take').textContent = room + ' · ' + name;
    $('share-result').textContent = '';
    $('share-url').hidden = true;
    $('share-dialog').showModal();
  });
  return b;
}
$('share-make').addEventListener('click', async () => {
  const password = $('share-password').value;
  const say = (message) => { $('share-result').textContent = message; };
  if (!password) { say(searchText('enterPassword')); $('share-password').focus(); return; }
  const credentials = btoa(String.fromCharCode(...new TextEncoder().encode('admin:' + password)));
  const days = Math.min(30, Math.max(1, Math.round(Number($('share-days').value) || 7)));
  try {
    const r = await fetch('/rooms/' + encodeURIComponent(sharing.room) + '/takes/' + encodeURIComponent(sharing.name) +
      '/share?days=' + days, { method: 'POST', headers: { Authorization: 'Basic ' + credentials } });
    if (r.status === 401) { say(searchText('wrongPassword')); return; }
    if (r.status === 429) { say(searchText('tooMany')); return; }
    if (!r.ok) throw new Error(await r.text());
    const answer = await r.json();
    const url = $('share-url');
    url.value = location.origin + answer.url;
    url.hidden = false;
    url.select();
    say(searchText('validUntil') + ' ' + when(answer.expires));
    if (navigator.clipboard) navigator.clipboard.writeText(url.value).catch(() => {});
  } catch (e) {
    say(searchText('notShared') + ': ' + e.message);
  }
});
// --- A take's note and hold, set with the password: the note beside the
// take in the store, the hold the store's legal hold on it.
const MARK_TEXTS = {
  note: ['备注', 'note'],
  hold: ['保留（不被删除）', 'hold (nothing deletes it)'],
  mark: ['备注/保留', 'note / hold'],
  save: ['保存', 'save'],
  saved: ['已保存', 'saved'],
  badNote: ['备注无效', 'note refused'],
  notSaved: ['未保存', 'not saved'],
};
function markText(key) { return MARK_TEXTS[key][english ? 1 : 0]; }
for (const e of document.querySelectorAll('[data-mark-text]')) e.textContent = markText(e.dataset.markText);
let marking = null;
function markButton(room, a) {
  const b = el('button', 'mark', markText('mark'));
  b.type = 'button';
  b.addEventListener('click', (event) => {
    event.stopPropagation();
    marking = { room, name: a.dataset.name, note: a.dataset.note || '', held: a.dataset.held === '1' };
    $('mark-take').textContent = room + ' · ' + marking.name;
    $('mark-note').value = marking.note;
    $('mark-held').checked = marking.held;
    $('mark-result').textContent = '';
    $('mark-dialog').showModal();
  });
  return b;
}
$('mark-save').addEventListener('click', async () => {
  const password = $('mark-password').value;
  const say = (message) => { $('mark-result').textContent = message; };
  if (!password) { say(searchText('enterPassword')); $('mark-password').focus(); return; }
  const credentials = btoa(String.fromCharCode(...new TextEncoder().encode('admin:' + password)));
  const base = '/rooms/' + encodeURIComponent(marking.room) + '/takes/' + encodeURIComponent(marking.name) + '/';
  const asks = [];
  const note = $('mark-note').value;
  if (note !== marking.note) asks.push(['note', 'PUT', note]);
  if ($('mark-held').checked !== marking.held) asks.push(['hold', $('mark-held').checked ? 'PUT' : 'DELETE', undefined]);
  try {
    for (const [what, method, body] of asks) {
      const r = await fetch(base + what, { method, body,
        headers: { Authorization: 'Basic ' + credentials, 'Content-Type': 'text/plain; charset=utf-8' } });
      if (r.status === 401) { say(searchText('wrongPassword')); return; }
      if (r.status === 429) { say(searchText('tooMany')); return; }
      if (r.status === 400) { say(markText('badNote') + ': ' + (await r.text()).trim()); return; }
      if (!r.ok) { say(markText('notSaved') + ': ' + (await r.text()).trim()); return; }
      if (what === 'note') marking.note = note;
      else marking.held = method === 'PUT';
    }
    say(markText('saved'));
    loadTakes();
  } catch (e) {
    say(markText('notSaved') + ': ' + e.message);
  }
});

// Each take of the picked day gets its share and mark buttons as it is shown.
new MutationObserver(() => {
  for (const a of $('takes').querySelectorAll('article.take')) {
    const top = a.querySelector('.top');
    if (top && a.dataset.name && !top.querySelector('.share')) top.append(shareButton(picked, a.dataset.name), markButton(picked, a));
  }
}).observe($('takes'), { childList: true });
