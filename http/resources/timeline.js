// SPDX-License-Identifier: GPL-3.0-or-later
// A day's timeline, shared by the recorder's page and the fleet page (served
// after page.js, whose el(), pad() and drawPeaks() it uses, and in front of
// each page's own script, whose text() gives the words): one bar from 00:00
// to 24:00 with each take at its time and length, its waveform outline where
// the page has peaks, hour marks below; a click plays the take under it from
// that point in the timeline's own player. The speed control sets every
// player of the page but the live one.
'use strict';

const Timeline = (() => {
  const DAY = 86400;
  const RATES = [0.75, 1, 1.25, 1.5, 1.75, 2];
  let box = null, lane = null, blocks = null, head = null, now = null, wave = null, audio = null;
  let takeUrl = null, peaksUrl = null, onOpen = null;
  let day = '', placed = [];      // the shown day's takes: {t, from, to} in seconds of the day
  let current = null;             // the take in the player: {t, from}
  const peaks = new Map();        // peaks address -> peaks, or null while asked
  let asking = false;

  function clock(s) {
    s = Math.max(0, Math.floor(s));
    return pad(Math.floor(s / 3600)) + ':' + pad(Math.floor(s / 60) % 60) + ':' + pad(s % 60);
  }
  function lengthText(s) {
    if (typeof s !== 'number') return '';
    s = Math.round(s);
    const h = Math.floor(s / 3600), m = Math.floor(s / 60) % 60;
    return (h ? h + ':' + pad(m) : m) + ':' + pad(s % 60);
  }
  // A start as the recorder wrote it ("2026-12-07T20:15:00", perhaps with an
  // offset after it): its own local time, never moved to the browser's zone.
  function dayNumber(d) {
    const p = String(d).split('-').map(Number);
    return Date.UTC(p[0], p[1] - 1, p[2]) / 86400000;
  }
  function secondsOfDay(iso) {
    const p = String(iso || '').substring(11, 19).split(':').map(Number);
    return (p[0] || 0) * 3600 + (p[1] || 0) * 60 + (p[2] || 0);
  }
  // Where a take lies in the day D, in seconds from D's 00:00 (a take begun the
  // day before reaches into D with a negative start); null when it does not.
  function place(t, d) {
    const from = (dayNumber(String(t.start).substring(0, 10)) - dayNumber(d)) * DAY + secondsOfDay(t.start);
    const seconds = typeof t.seconds === 'number' && t.seconds > 0 ? t.seconds : 0;
    if (!(from < DAY) || !(from + Math.max(seconds, 1) > 0)) return null;
    return { t, from, to: from + seconds };
  }
  // The days a take spans, "yyyy-mm-dd".
  function daysOf(t) {
    const first = dayNumber(String(t.start).substring(0, 10));
    // (a week at most, whatever length a take claims)
    const last = Math.min(first + 7, first + Math.floor((secondsOfDay(t.start) + Math.max(0, t.seconds || 0)) / DAY));
    const out = [];
    for (let n = first; n <= last && n >= first; n++) out.push(new Date(n * 86400000).toISOString().substring(0, 10));
    return out;
  }

  function setup(container, options) {
    box = container;
    takeUrl = options.takeUrl;
    peaksUrl = options.peaksUrl || null;
    onOpen = options.onOpen || null;
    const bar = el('div', 'tl-bar');
    lane = el('div', 'tl-lane');
    const labels = el('div', 'tl-labels');
    for (let h = 0; h <= 24; h++) {
      const mark = el('div', 'tl-hour' + (h % 3 ? '' : ' major'));
      mark.style.left = (h / 24 * 100) + '%';
      lane.append(mark);
      if (h % 3) continue;
      const label = el('span', 'tl-label' + (h % 6 ? ' minor' : '') + (h === 0 ? ' first' : h === 24 ? ' last' : ''),
        pad(h) + ':00');
      label.style.left = (h / 24 * 100) + '%';
      labels.append(label);
    }
    blocks = el('div', 'tl-blocks');
    lane.append(blocks);
    head = el('div', 'tl-head');
    head.hidden = true;
    bar.append(lane, head);
    now = el('div', 'tl-now');
    wave = el('canvas', 'tl-wave');
    wave.hidden = true;
    audio = el('audio', 'tl-audio');
    audio.controls = true;
    audio.preload = 'none';
    audio.hidden = true;
    box.append(bar, labels, now, wave, audio);
    bar.addEventListener('click', clicked);
    wave.addEventListener('click', (ev) => {
      const d = audio.duration || (current && current.t.seconds);
      if (!d || !current) return;
      seek(ev.offsetX / wave.clientWidth * d, true);
    });
    audio.addEventListener('timeupdate', moved);
    audio.addEventListener('seeked', moved);
    window.addEventListener('resize', () => { drawBlocks(); moved(); fetchPeaks(); });
    const speed = document.getElementById('speed');
    if (speed) {
      speed.replaceChildren(...RATES.map((r) => { const o = el('option', '', r + '×'); o.value = String(r); return o; }));
      speed.value = '1';
      speed.addEventListener('change', () => {
        for (const a of document.querySelectorAll('audio')) rate(a);
      });
    }
    // Players made later (a row's, a new take's) take the speed when they
    // start, and one take plays at a time (listening live aside).
    document.addEventListener('play', (ev) => {
      rate(ev.target);
      if (ev.target.id === 'live-audio') return;
      for (const a of document.querySelectorAll('audio')) if (a !== ev.target && a.id !== 'live-audio') a.pause();
    }, true);
  }

  function rate(a) {
    const speed = document.getElementById('speed');
    if (!speed || !(a instanceof HTMLMediaElement) || a.id === 'live-audio') return;
    const r = Number(speed.value) || 1;
    a.preservesPitch = true;
    a.defaultPlaybackRate = r;
    a.playbackRate = r;
  }

  // Shows day D with the takes given (any takes: those outside D are left out).
  function show(d, takes) {
    day = d;
    placed = takes.map((t) => place(t, d)).filter(Boolean).sort((a, b) => a.from - b.from);
    box.hidden = false;
    drawBlocks();
    if (current) {
      // The same take (the same address: two rooms may have one name).
      const again = placed.find((p) => takeUrl(p.t) === takeUrl(current.t));
      if (again) { current = again; describe(); } else close();
    }
    moved();
    fetchPeaks();
  }

  function drawBlocks() {
    if (!lane) return;
    // Built aside and put in at once: one layout for the whole day.
    const width = lane.clientWidth || 1, height = lane.clientHeight || 48;
    const all = document.createDocumentFragment();
    for (const p of placed) {
      const from = Math.max(0, p.from), to = Math.min(DAY, Math.max(p.to, p.from + 1));
      const b = el('div', 'tl-take' + (p.t.held ? ' held' : '') + (p.t.recording ? ' recording' : '') +
        (current && current.t.name === p.t.name ? ' picked' : ''));
      b.dataset.name = p.t.name;
      // A block wider than its time (a short take) stays inside the bar.
      b.style.left = 'min(' + (from / DAY * 100) + '%, calc(100% - 4px))';
      b.style.width = ((to - from) / DAY * 100) + '%';
      b.title = clock(p.from < 0 ? p.from + DAY : p.from) + ' · ' + lengthText(p.t.seconds) +
        (p.t.held ? ' · ' + text('held') : '') + (p.t.note ? '\n' + p.t.note : '');
      const px = (to - from) / DAY * width;
      const line = peaksUrl && peaks.get(peaksUrl(p.t));
      if (px >= 6 && line) {
        const c = el('canvas');
        b.append(c);
        outline(c, line, p, from, to, Math.max(1, Math.round(px)), height);
      }
      all.append(b);
    }
    blocks.replaceChildren(all);
  }

  // The take's loudness as a filled outline, the part of it inside the day,
  // on a canvas W by H.
  function outline(canvas, line, p, from, to, w, h) {
    const ratio = window.devicePixelRatio || 1;
    canvas.width = Math.round(w * ratio);
    canvas.height = Math.round(h * ratio);
    const g = canvas.getContext('2d');
    g.scale(ratio, ratio);
    g.fillStyle = '#00ccff';
    const span = p.to - p.from || 1;
    for (let x = 0; x < w; x++) {
      const a = Math.floor(((from + x / w * (to - from)) - p.from) / span * line.length);
      const b = Math.max(a + 1, Math.floor(((from + (x + 1) / w * (to - from)) - p.from) / span * line.length));
      let v = 0;
      for (let i = Math.max(0, a); i < Math.min(line.length, b); i++) v = Math.max(v, line[i]);
      const y = Math.max(1, v / 100 * (h - 2));
      g.fillRect(x, (h - y) / 2, 1, y);
    }
  }

  // Peaks for the takes wide enough to show them, one request at a time.
  async function fetchPeaks() {
    if (!peaksUrl || asking) return;
    const width = lane.clientWidth || 1;
    const next = placed.find((p) => !p.t.recording && !peaks.has(peaksUrl(p.t)) &&
      (Math.min(DAY, p.to) - Math.max(0, p.from)) / DAY * width >= 6);
    if (!next) return;
    asking = true;
    peaks.set(peaksUrl(next.t), null);
    try {
      const r = await fetch(peaksUrl(next.t));
      if (r.ok) peaks.set(peaksUrl(next.t), (await r.json()).peaks);
    } catch (e) { /* drawn as a plain block */ }
    asking = false;
    drawBlocks();
    fetchPeaks();
  }

  function clicked(ev) {
    if (!placed.length) return;
    const r = lane.getBoundingClientRect();
    const at = (ev.clientX - r.left) / r.width * DAY;
    const slack = 10 / r.width * DAY;      // a take too short to see gets a few pixels, for a finger
    let best = null, distance = Infinity;
    for (const p of placed) {
      if (p.t.recording) continue;
      const d = at < p.from ? p.from - at : at > p.to ? at - p.to : 0;
      if (d < distance) { best = p; distance = d; }
    }
    if (!best || distance > slack) return;
    // Inside the take: from that point; beside it: from its start.
    const offset = at >= best.from && at < best.to ? at - best.from : 0;
    open(best.t.name, offset, true);
  }

  // Puts take NAME of the shown day into the player at OFFSET seconds, playing
  // when PLAY; false when the day does not have it.
  function open(name, offset, play) {
    const p = placed.find((q) => q.t.name === name);
    if (!p || p.t.recording) return false;   // the take being written is not served
    if (!current || takeUrl(current.t) !== takeUrl(p.t)) {
      current = p;
      audio.src = takeUrl(p.t);
      audio.hidden = false;
      wave.hidden = true;       // until its peaks come
      wave.peaks = null;
      if (peaksUrl) loadWave(p.t);
      describe();
      for (const b of blocks.children) b.classList.toggle('picked', b.dataset.name === name);
      for (const a of document.querySelectorAll('article.take')) a.classList.toggle('picked', a.dataset.name === name);
    }
    seek(offset, play);
    if (onOpen) onOpen(p.t);
    return true;
  }

  function seek(offset, play) {
    const go = () => {
      audio.currentTime = Math.max(0, offset);
      if (play) audio.play().catch(() => {});
      moved();
    };
    if (audio.readyState >= 1) go();
    else {
      audio.addEventListener('loadedmetadata', go, { once: true });
      audio.preload = 'metadata';
      audio.load();
    }
  }

  async function loadWave(t) {
    let line = peaks.get(peaksUrl(t));
    if (!line) {
      try {
        const r = await fetch(peaksUrl(t));
        if (r.ok) { line = (await r.json()).peaks; peaks.set(peaksUrl(t), line); }
      } catch (e) { /* no waveform */ }
    }
    if (current && takeUrl(current.t) === takeUrl(t) && line) { wave.peaks = line; wave.hidden = false; moved(); }
  }

  function describe() {
    const t = current.t;
    now.replaceChildren(el('b', 'tl-time', clock(current.from < 0 ? current.from + DAY : current.from)),
      ' ', el('span', 'tl-len', lengthText(t.seconds)), ' ', el('span', 'tl-name', t.name), ' ', el('span', 'tl-at'));
    if (t.held) now.append(' ', el('span', 'tl-held', text('held')));
    if (t.note) now.append(el('div', 'tl-note', t.note));
  }

  function close() {
    current = null;
    audio.pause();
    audio.removeAttribute('src');
    audio.hidden = true;
    wave.hidden = true;
    now.replaceChildren();
  }

  // The playhead on the bar and the part played on the take's waveform.
  function moved() {
    if (!head) return;
    head.hidden = !current;
    if (!current) return;
    const at = current.from + (audio.currentTime || 0);
    head.style.left = (Math.min(DAY, Math.max(0, at)) / DAY * 100) + '%';
    const where = now.querySelector('.tl-at');   // the clock time of the point playing
    if (where) where.textContent = audio.currentTime ? '▶ ' + clock(at < 0 ? at + DAY : at % DAY) : '';
    if (!wave.hidden && wave.peaks) {
      const d = audio.duration || current.t.seconds || 1;
      drawPeaks(wave, wave.peaks, (audio.currentTime || 0) / d);
    }
  }

  // The "#a=1&b=2" of the page's address as an object, and back.
  function readHash() {
    const out = {};
    for (const [k, v] of new URLSearchParams(location.hash.replace(/^#/, ''))) out[k] = v;
    return out;
  }
  function writeHash(values) {
    const p = new URLSearchParams();
    for (const [k, v] of Object.entries(values)) if (v) p.set(k, v);
    const hash = '#' + p.toString();
    if (location.hash !== hash) history.replaceState(null, '', hash);
  }
  // The day in a take's name (PLENyyyymmddhhmmss…), for an address without one.
  function dayOfName(name) {
    const m = /^PLEN(\d{4})(\d{2})(\d{2})/.exec(name || '');
    return m ? m[1] + '-' + m[2] + '-' + m[3] : '';
  }

  return { setup, show, open, daysOf, readHash, writeHash, dayOfName, shown: () => day,
    current: () => (current ? current.t.name : '') };
})();
