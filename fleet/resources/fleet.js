'use strict';
// The fleet page: every room's state from its heartbeat, refreshed every
// 15 s, and the takes of the picked room and day.
const $ = (id) => document.getElementById(id);
let rooms = [];
let picked = '';

function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}

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
  $('count').textContent = rooms.length + ' 个房间 · rooms';
  if (!rooms.length) box.append(el('p', 'empty', '没有房间 · no rooms'));
  for (const r of rooms) {
    const a = el('article', 'room' + (r.stale ? ' stale' : '') + (r.room === picked ? ' picked' : ''));
    a.dataset.room = r.room;
    a.append(el('div', 'name', r.room));
    const state = el('div', 'state');
    if (r.heartbeat) {
      state.append(el('span', r.listening ? 'on' : '', r.listening ? '监听 · listening' : '未监听 · not listening'));
      if (r.recording) state.append(' ', el('span', 'rec', '● 录音 · recording'));
      const archive = r.archive || {};
      state.append(el('div', '', '输入 input: ' + (r.input || '–') + ' · 磁盘 disk: ' + (r.disk || '–') +
        ' · 存档 archive: ' + (archive.state || '–') + (archive.queued ? ' (' + archive.queued + ')' : '')));
    }
    a.append(state);
    a.append(el('div', 'beat', r.heartbeat
      ? (r.stale ? '无心跳 · no heartbeat since ' + when(r.heartbeat) : '心跳 · heartbeat ' + when(r.heartbeat))
      : '无心跳 · no heartbeat'));
    if (r.last_take) a.append(el('div', 'last', '最近 · last: ' + r.last_take.name + ' ' + length(r.last_take.seconds)));
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
    $('message').textContent = '读取失败 · cannot read the rooms: ' + e.message;
  }
}

async function loadTakes() {
  const box = $('takes');
  const day = $('day').value;
  if (!picked || !day) return;
  try {
    const r = await fetch('/api/rooms/' + encodeURIComponent(picked) + '/takes?day=' + day, { cache: 'no-store' });
    if (!r.ok) throw new Error(await r.text());
    const takes = await r.json();
    box.replaceChildren();
    if (!takes.length) box.append(el('p', 'empty', '这天没有录音 · no takes that day'));
    for (const t of takes.reverse()) {
      const a = el('article', 'take');
      a.dataset.name = t.name;
      const top = el('div', 'top');
      const url = '/rooms/' + encodeURIComponent(picked) + '/takes/' + encodeURIComponent(t.name);
      top.append(el('span', 'time', when(t.start)), el('span', 'len', length(t.seconds)));
      const link = el('a', '', '下载 · download');
      link.href = url;
      link.download = t.name;
      top.append(link);
      const audio = el('audio');
      audio.controls = true;
      audio.preload = 'none';
      audio.src = url;
      a.append(top, audio);
      box.append(a);
    }
  } catch (e) {
    box.replaceChildren(el('p', 'empty', '读取失败 · cannot read the takes: ' + e.message));
  }
}

function pick(room) {
  picked = room;
  showRooms();
  loadTakes();
}

$('room').addEventListener('change', () => pick($('room').value));
$('day').addEventListener('change', loadTakes);
{
  const now = new Date();
  $('day').value = now.getFullYear() + '-' + String(now.getMonth() + 1).padStart(2, '0') + '-' +
    String(now.getDate()).padStart(2, '0');
}
loadRooms();
setInterval(loadRooms, 15000);
