// The panel: draws each record the server publishes and sends every change of a control to
// the server, which answers with the value the board actually took and, if it differs, why.
'use strict';

const COLORS = { 1: '#ffd400', 2: '#00c8ff' };
const XY_COLOR = '#7dff7a';
const DIVISIONS_X = 10;
const DIVISIONS_Y = 8;
// The spectrum's screen: +20 dBV at the top, 20 dB a division down to -140 dBV, below the
// 8-bit converter's floor on every range.
const SPECTRUM_TOP_DBV = 20;
const SPECTRUM_DB_PER_DIV = 20;
const token = new URLSearchParams(location.search).get('token');
const headers = { 'X-VM316-Panel': '1' };
if (token) headers['X-VM316-Token'] = token;
// The page came with the cookie that carries the token from now on (downloads too): the
// address bar and the history keep no token.
if (token) history.replaceState(null, '', location.pathname + location.hash);

const canvas = document.getElementById('screen');
const context = canvas.getContext('2d');
let state = null;
let lastRecord = null;
let view = 'time';
let viewChosen = false;
const arrivals = [];

function si(value, unit, digits = 3) {
  if (value === null || value === undefined || !isFinite(value)) return '--';
  if (value === 0) return '0 ' + unit;
  const prefixes = [[1e6, 'M'], [1e3, 'k'], [1, ''], [1e-3, 'm'], [1e-6, 'µ'], [1e-9, 'n']];
  const magnitude = Math.abs(value);
  for (const [scale, prefix] of prefixes) {
    if (magnitude >= scale * 0.9999) return +(value / scale).toPrecision(digits) + ' ' + prefix + unit;
  }
  return +(value / 1e-9).toPrecision(digits) + ' n' + unit;
}

// ---- Settings ------------------------------------------------------------------------------

async function post(changes) {
  const query = new URLSearchParams(changes).toString();
  const response = await fetch('api/settings?' + query, { method: 'POST', headers });
  if (!response.ok) throw new Error(await response.text());
  const answer = await response.json();
  for (const result of answer.results) showNote(result.key, result);
  applyState(answer.state);
}

function showNote(key, result) {
  const note = document.querySelector(`[data-note="${key}"]`);
  if (!note) return;
  note.className = 'note';
  if (!result || (result.accepted && !result.adjusted && !result.note)) {
    note.textContent = '';
  } else if (!result.accepted) {
    note.classList.add('refused');
    note.textContent = `refused "${result.asked}": ${result.note}; in force: ${result.value || 'unchanged'}`;
  } else {
    note.classList.add('adjusted');
    note.textContent = `set to ${result.value}: ${result.note}`;
  }
}

function setControl(key, value) {
  const control = document.querySelector(`[data-key="${key}"]`);
  if (!control || control === document.activeElement) return;
  if (control.type === 'checkbox') control.checked = !!value;
  else control.value = value;
}

function fillRanges(ranges) {
  for (const select of document.querySelectorAll('select.range')) {
    if (select.options.length) continue;
    select.add(new Option('auto', 'auto'));
    for (const range of ranges) select.add(new Option(`±${range} V (${si(range / 4, 'V')}/div)`, String(range)));
  }
}

function fillTimePerDiv(settings) {
  const select = document.getElementById('tdiv');
  if (!select.options.length) {
    for (const exponent of [-6, -5, -4, -3, -2, -1, 0]) {
      for (const mantissa of [1, 2, 5]) {
        const seconds = mantissa * 10 ** exponent;
        select.add(new Option(si(seconds, 's'), String(seconds)));
      }
    }
  }
  // The select shows the time per division in force: a value off the 1-2-5 steps (a rate the
  // board rounded, a length of its own) gets an entry of its own, in its place in the order.
  const perDiv = settings.length / settings.rate / DIVISIONS_X;
  for (const option of [...select.options]) {
    if (option.dataset.inForce) option.remove();
  }
  let match = [...select.options].find((option) => Math.abs(option.value / perDiv - 1) < 1e-6);
  if (!match) {
    match = new Option(si(perDiv, 's', 4), String(perDiv));
    match.dataset.inForce = '1';
    const after = [...select.options].find((option) => Number(option.value) > perDiv);
    select.add(match, after || null);
  }
  if (select !== document.activeElement) select.value = match.value;
}

function applyState(next) {
  state = next;
  const s = state.settings;
  document.getElementById('backend').textContent = state.backend;
  document.getElementById('activity').textContent = state.error ? state.error : state.activity;
  document.getElementById('calibration').textContent = state.calibration;
  if (!s.channels) return;
  fillRanges(s.ranges);
  fillTimePerDiv(s);
  setControl('rate', s.rate_text);
  setControl('length', s.length);
  setControl('pre', +s.pre_percent.toFixed(2));
  s.channels.forEach((channel, index) => {
    const n = index + 1;
    setControl(`ch${n}.on`, channel.on);
    setControl(`ch${n}.range`, channel.auto ? 'auto' : String(channel.range));
    setControl(`ch${n}.coupling`, channel.coupling);
    setControl(`ch${n}.dc`, +channel.dc.toFixed(4));
  });
  setControl('trigger.source', s.trigger.source);
  setControl('trigger.slope', s.trigger.slope);
  setControl('trigger.level', s.trigger.level === null ? '' : +s.trigger.level.toFixed(4));
  setControl('trigger.hysteresis', s.trigger.hysteresis === null ? '' : +s.trigger.hysteresis.toFixed(4));
  setControl('trigger.timeout', s.trigger.timeout === null ? 'none' : s.trigger.timeout);
  setControl('generator', s.generator === 0 ? 'off' : s.generator);
  for (const button of document.querySelectorAll('[data-run]')) {
    button.classList.toggle('active', button.dataset.run === s.mode);
  }
  for (const [key, note] of Object.entries(state.notes)) showNote(key, note);
  // A panel that opens on a board in XY shows the XY view.
  if (!viewChosen && s.xy) selectView('xy', false);
  viewChosen = true;
}

function wireControls() {
  for (const control of document.querySelectorAll('[data-key]')) {
    control.addEventListener('change', () => {
      const value = control.type === 'checkbox' ? (control.checked ? '1' : '0') : control.value.trim();
      post({ [control.dataset.key]: value }).catch(report);
    });
  }
  for (const button of document.querySelectorAll('[data-run]')) {
    button.addEventListener('click', () => post({ run: button.dataset.run }).catch(report));
  }
  document.getElementById('level50').addEventListener('click', () => post({ 'trigger.level': 'auto' }).catch(report));
  // Time per division sets the rate that spreads the record over the ten divisions.
  document.getElementById('tdiv').addEventListener('change', (event) => {
    const rate = state.settings.length / (DIVISIONS_X * Number(event.target.value));
    post({ rate: String(rate) }).catch(report);
  });
}

function report(error) {
  document.getElementById('activity').textContent = String(error.message || error);
}

// ---- Records -------------------------------------------------------------------------------

function decode(buffer) {
  const view = new DataView(buffer);
  const headerLength = view.getUint32(0, true);
  const header = JSON.parse(new TextDecoder().decode(new Uint8Array(buffer, 4, headerLength)));
  let offset = 4 + headerLength;
  header.samples = header.channels.map((channel) => {
    if (!channel.recorded) return null;
    const samples = new Uint16Array(buffer, offset, header.length);
    offset += 2 * header.length;
    return samples;
  });
  return header;
}

// Screen y of a voltage on a channel: the range's full scale fills the eight divisions, centred
// on the DC level.
function yOf(channel, volts) {
  const full = channel.range;
  return canvas.height / 2 - ((volts - channel.dc) / full) * (canvas.height / 2);
}

function drawGraticule() {
  const { width, height } = canvas;
  context.fillStyle = '#0b0e11';
  context.fillRect(0, 0, width, height);
  context.strokeStyle = '#2c333b';
  context.lineWidth = 1;
  context.beginPath();
  for (let i = 1; i < DIVISIONS_X; i++) {
    const x = Math.round((i * width) / DIVISIONS_X) + 0.5;
    context.moveTo(x, 0);
    context.lineTo(x, height);
  }
  for (let i = 1; i < DIVISIONS_Y; i++) {
    const y = Math.round((i * height) / DIVISIONS_Y) + 0.5;
    context.moveTo(0, y);
    context.lineTo(width, y);
  }
  context.stroke();
  context.strokeStyle = '#4a545f';
  context.beginPath();
  context.moveTo(width / 2 + 0.5, 0);
  context.lineTo(width / 2 + 0.5, height);
  context.moveTo(0, height / 2 + 0.5);
  context.lineTo(width, height / 2 + 0.5);
  context.stroke();
}

// Long records are drawn as the low and high of each pixel column, so 32 760 samples cost no
// more than a screen's width of lines.
function drawTrace(record, index) {
  const channel = record.channels[index];
  const samples = record.samples[index];
  if (!samples) return;
  const n = samples.length;
  const factor = channel.range / 32768;
  const volts = (code) => (code - 32768) * factor + channel.dc;
  const { width } = canvas;
  context.strokeStyle = COLORS[index + 1];
  context.lineWidth = 2;
  context.beginPath();
  if (n <= width * 2) {
    for (let i = 0; i < n; i++) {
      const x = n > 1 ? (i * width) / (n - 1) : 0;
      const y = yOf(channel, volts(samples[i]));
      if (i === 0) context.moveTo(x, y);
      else context.lineTo(x, y);
    }
  } else {
    for (let column = 0; column < width; column++) {
      const start = Math.floor((column * n) / width);
      const end = Math.max(start + 1, Math.floor(((column + 1) * n) / width));
      let low = 65535;
      let high = 0;
      for (let i = start; i < end; i++) {
        low = Math.min(low, samples[i]);
        high = Math.max(high, samples[i]);
      }
      context.moveTo(column + 0.5, yOf(channel, volts(high)));
      context.lineTo(column + 0.5, yOf(channel, volts(low)) + 1);
    }
  }
  context.stroke();
}

function drawTriggerMarks(record) {
  const { width, height } = canvas;
  const x = record.length > 1 ? (record.pre * width) / (record.length - 1) : 0;
  context.fillStyle = '#ff8a3d';
  context.beginPath();
  context.moveTo(x - 8, 0);
  context.lineTo(x + 8, 0);
  context.lineTo(x, 12);
  context.fill();
  if (record.trigger_channel && record.trigger_level !== null) {
    const channel = record.channels[record.trigger_channel - 1];
    const y = Math.min(height - 1, Math.max(0, yOf(channel, record.trigger_level)));
    context.fillStyle = COLORS[record.trigger_channel];
    context.beginPath();
    context.moveTo(width, y - 8);
    context.lineTo(width, y + 8);
    context.lineTo(width - 14, y);
    context.fill();
  }
}

// The marks, scales and tables every view shows.
function showCommon(record) {
  const mark = document.getElementById('mark');
  mark.textContent = record.mark;
  mark.className = 'mark ' + (record.mark === 'Auto' ? 'auto' : 'trigd');
  const rearm = document.getElementById('rearm');
  rearm.textContent = record.rearm || '';
  rearm.hidden = !record.rearm;
  record.channels.forEach((channel, index) => {
    const n = index + 1;
    document.getElementById(`over${n}`).hidden = !(channel.recorded && channel.over_range);
    for (const name of ['min', 'max', 'pp', 'mean', 'rms', 'freq']) {
      document.getElementById(`m${n}-${name}`).textContent = channel.recorded ? channel.text[name] : '';
    }
    channel.pulse.forEach(([, text], i) => {
      document.getElementById(`p${n}-${i}`).textContent = channel.recorded ? text : '';
    });
  });
  document.getElementById('seq').textContent = `#${record.sequence}`;
}

function showTimeScales(record) {
  record.channels.forEach((channel, index) => {
    const n = index + 1;
    document.getElementById(`scale${n}`).textContent = channel.recorded
      ? `CH${n} ${si(channel.range / 4, 'V')}/div${channel.coupling === 'ac' ? ' ac' : ''}${channel.dc ? ' @ ' + si(channel.dc, 'V') : ''}`
      : `CH${n} off`;
  });
  document.getElementById('scalet').textContent = `${si(record.duration / DIVISIONS_X, 's')}/div, ${record.rate_text}, ${record.length} samples`;
  document.getElementById('scaletrig').textContent = `trigger ${record.trigger}`;
}

function show(record) {
  showCommon(record);
  if (view === 'spectrum') {
    requestSpectrum();
  } else if (view === 'xy') {
    drawXy(record);
  } else {
    showTimeScales(record);
    drawGraticule();
    drawTrace(record, 0);
    drawTrace(record, 1);
    drawTriggerMarks(record);
  }
}

// ---- Spectrum ------------------------------------------------------------------------------

let spectrumBusy = false;
let spectrumShown = null; // the sequence and window of the spectrum on the screen

// One request at a time: records that come meanwhile are skipped, and the newest is asked for
// once the answer is drawn.
async function requestSpectrum() {
  const windowName = document.getElementById('window').value;
  if (spectrumBusy || !lastRecord) return;
  if (spectrumShown && spectrumShown.sequence === lastRecord.sequence && spectrumShown.window === windowName) return;
  spectrumBusy = true;
  try {
    const response = await fetch('api/spectrum?window=' + encodeURIComponent(windowName), { headers, cache: 'no-store' });
    if (!response.ok) throw new Error(await response.text());
    const spectrum = await response.json();
    spectrumShown = { sequence: spectrum.sequence, window: spectrum.window };
    if (view === 'spectrum') drawSpectrum(spectrum);
  } catch (error) {
    document.getElementById('spectrum-text').textContent = String(error.message || error);
    spectrumShown = null;
  } finally {
    spectrumBusy = false;
  }
  if (view === 'spectrum' && lastRecord && spectrumShown && spectrumShown.sequence !== lastRecord.sequence) requestSpectrum();
}

function yOfDbv(dbv) {
  const bottom = SPECTRUM_TOP_DBV - DIVISIONS_Y * SPECTRUM_DB_PER_DIV;
  const clamped = Math.min(SPECTRUM_TOP_DBV, Math.max(bottom, dbv));
  return ((SPECTRUM_TOP_DBV - clamped) / (SPECTRUM_TOP_DBV - bottom)) * canvas.height;
}

// dBV over frequency from 0 Hz to half the sample rate; bins that share a pixel column show
// the highest of them, so that no line is lost between columns.
function drawSpectrum(spectrum) {
  drawGraticule();
  const { width } = canvas;
  spectrum.channels.forEach((channel, index) => {
    if (!channel.recorded || channel.dbv.length < 2) return;
    const levels = channel.dbv;
    const n = levels.length;
    context.strokeStyle = COLORS[index + 1];
    context.lineWidth = 2;
    context.beginPath();
    const columns = Math.min(width, n);
    for (let column = 0; column < columns; column++) {
      const start = Math.floor((column * n) / columns);
      const end = Math.max(start + 1, Math.floor(((column + 1) * n) / columns));
      let high = -Infinity;
      for (let k = start; k < end; k++) high = Math.max(high, levels[k]);
      const x = (start * width) / (n - 1);
      if (column === 0) context.moveTo(x, yOfDbv(high));
      else context.lineTo(x, yOfDbv(high));
    }
    context.stroke();
  });
  const nyquist = spectrum.rate / 2;
  spectrum.channels.forEach((channel, index) => {
    const n = index + 1;
    document.getElementById(`scale${n}`).textContent = channel.recorded ? `CH${n} ${SPECTRUM_DB_PER_DIV} dB/div, top ${SPECTRUM_TOP_DBV} dBV` : `CH${n} off`;
  });
  document.getElementById('scalet').textContent = `${si(nyquist / DIVISIONS_X, 'Hz')}/div, 0 to ${si(nyquist, 'Hz')}, ${si(spectrum.bin_hz, 'Hz', 4)} a bin`;
  document.getElementById('scaletrig').textContent = `window ${spectrum.window}`;
  document.getElementById('spectrum-text').textContent = spectrum.channels
    .filter((channel) => channel.recorded)
    .map((channel) => channel.text)
    .join('\n');
}

// ---- XY ------------------------------------------------------------------------------------

// Channel 1 across, channel 2 up, each over its own range (its full scale from the centre to
// the edge, centred on its DC level), in a square in the middle of the screen.
function xyGeometry() {
  const side = Math.min(canvas.width, canvas.height);
  return { side, left: (canvas.width - side) / 2, top: (canvas.height - side) / 2 };
}

function drawXyGraticule() {
  const { width, height } = canvas;
  const { side, left, top } = xyGeometry();
  context.fillStyle = '#0b0e11';
  context.fillRect(0, 0, width, height);
  context.strokeStyle = '#2c333b';
  context.lineWidth = 1;
  context.beginPath();
  for (let i = 0; i <= DIVISIONS_Y; i++) {
    const at = Math.round((i * side) / DIVISIONS_Y) + 0.5;
    context.moveTo(left + at, top);
    context.lineTo(left + at, top + side);
    context.moveTo(left, top + at);
    context.lineTo(left + side, top + at);
  }
  context.stroke();
  context.strokeStyle = '#4a545f';
  context.beginPath();
  context.moveTo(left + side / 2 + 0.5, top);
  context.lineTo(left + side / 2 + 0.5, top + side);
  context.moveTo(left, top + side / 2 + 0.5);
  context.lineTo(left + side, top + side / 2 + 0.5);
  context.stroke();
}

function drawXy(record) {
  drawXyGraticule();
  const [across, up] = record.channels;
  const [xs, ys] = record.samples;
  if (!xs || !ys) {
    context.fillStyle = '#8a96a3';
    context.font = '24px sans-serif';
    context.fillText('XY needs both channels on', 40, 60);
    return;
  }
  const { side, left, top } = xyGeometry();
  const half = side / 2;
  const offset = (code) => ((code - 32768) / 32768) * half;
  context.strokeStyle = XY_COLOR;
  context.lineWidth = 2;
  context.beginPath();
  for (let i = 0; i < xs.length; i++) {
    const x = left + half + offset(xs[i]);
    const y = top + half - offset(ys[i]);
    if (i === 0) context.moveTo(x, y);
    else context.lineTo(x, y);
  }
  context.stroke();
  document.getElementById('scale1').textContent = `CH1 ${si(across.range / 4, 'V')}/div across`;
  document.getElementById('scale2').textContent = `CH2 ${si(up.range / 4, 'V')}/div up`;
  document.getElementById('scalet').textContent = `${record.rate_text}, ${record.length} samples${record.xy ? ', board in XY' : ''}`;
  document.getElementById('scaletrig').textContent = `trigger ${record.trigger}`;
}

// ---- Views ---------------------------------------------------------------------------------

// XY is a mode of the board: the server records in it while the XY view is shown, and leaves
// it with the view.
function selectView(next, tellServer = true) {
  const previous = view;
  view = next;
  viewChosen = true;
  for (const button of document.querySelectorAll('[data-view]')) {
    button.classList.toggle('active', button.dataset.view === view);
  }
  document.getElementById('window-choice').hidden = view !== 'spectrum';
  document.getElementById('spectrum-text').hidden = view !== 'spectrum';
  spectrumShown = null;
  if (tellServer && previous !== view && (previous === 'xy' || view === 'xy')) {
    post({ xy: view === 'xy' ? 'on' : 'off' }).catch(report);
  }
  if (lastRecord) show(lastRecord);
  else if (view === 'xy') drawXyGraticule();
  else drawGraticule();
}

function wireViews() {
  for (const button of document.querySelectorAll('[data-view]')) {
    button.addEventListener('click', () => selectView(button.dataset.view));
  }
  document.getElementById('window').addEventListener('change', () => {
    spectrumShown = null;
    requestSpectrum();
  });
}

function countArrival() {
  const now = performance.now();
  arrivals.push(now);
  while (arrivals.length && arrivals[0] < now - 2000) arrivals.shift();
  const span = arrivals.length > 1 ? (arrivals[arrivals.length - 1] - arrivals[0]) / 1000 : 0;
  const rate = span > 0 ? (arrivals.length - 1) / span : 0;
  document.getElementById('rps').textContent = `${rate.toFixed(1)} records/s`;
  document.getElementById('rps').dataset.rate = rate.toFixed(2);
}

// Long polling: each answer brings the newest record after the one shown; drawing waits for
// the next animation frame, so a slow frame skips records instead of queueing them.
async function receive() {
  let sequence = 0;
  let pending = null;
  for (;;) {
    try {
      const response = await fetch('api/record?after=' + sequence, { headers, cache: 'no-store' });
      if (response.status === 204) continue;
      if (!response.ok) throw new Error(await response.text());
      const record = decode(await response.arrayBuffer());
      sequence = record.sequence;
      countArrival();
      lastRecord = record;
      if (!pending) {
        pending = requestAnimationFrame(() => {
          pending = null;
          show(lastRecord);
        });
      }
    } catch (error) {
      report(error);
      await new Promise((resolve) => setTimeout(resolve, 1000));
    }
  }
}

async function refreshState() {
  try {
    const response = await fetch('api/state', { headers, cache: 'no-store' });
    if (response.ok) applyState(await response.json());
  } catch (error) {
    report(error);
  }
}

wireControls();
wireViews();
drawGraticule();
refreshState();
setInterval(refreshState, 2000);
receive();
