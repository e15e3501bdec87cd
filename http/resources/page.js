// SPDX-License-Identifier: GPL-3.0-or-later
// What every page's script stands on, served in front of the timeline and
// the page's own script: an element by its id, the page's language, a new
// element, two-digit numbers and a take's waveform.
'use strict';

const $ = (id) => document.getElementById(id);
// The server sets <html lang> from the browser's Accept-Language; each page
// keeps its texts in Chinese and English.
const english = document.documentElement.lang === 'en';

function el(tag, cls, words) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (words !== undefined) e.textContent = words;
  return e;
}

function pad(n) { return String(n).padStart(2, '0'); }

// A take's peaks (0-100 each) as bars across `canvas`, those before
// `position` (0-1, the part played) lit.
function drawPeaks(canvas, peaks, position) {
  const w = canvas.clientWidth || 300, h = canvas.clientHeight || 36;
  const ratio = window.devicePixelRatio || 1;
  if (canvas.width !== Math.round(w * ratio)) { canvas.width = Math.round(w * ratio); canvas.height = Math.round(h * ratio); }
  const g = canvas.getContext('2d');
  g.setTransform(ratio, 0, 0, ratio, 0, 0);
  g.clearRect(0, 0, w, h);
  const step = w / peaks.length;
  for (let i = 0; i < peaks.length; i++) {
    const v = Math.max(1, peaks[i] / 100 * (h - 2));
    g.fillStyle = i / peaks.length < position ? '#00ccff' : '#4f6b84';
    g.fillRect(i * step, (h - v) / 2, Math.max(1, step - 0.5), v);
  }
}
