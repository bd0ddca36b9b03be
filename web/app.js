// tavio32 serve: the page. Everything comes from the server that served it:
// the status, the events (/api/stream), outputs and recordings (/api/...).
'use strict';

(function () {
  const $ = (id) => document.getElementById(id);
  const COLOURS = ['#1f77b4', '#d62728', '#2ca02c', '#ff7f0e'];
  const KEEP_S = 125; // the longest window, and a little more
  const TOKEN_KEY = 'tavio32.control';
  const t = window.tavio32 = { samples: 0, draws: 0, firstChartMs: null, chart: null, errors: [] };
  const i18n = window.tavio32i18n, _ = i18n._, N_ = i18n.N_, fill = i18n.fill;

  const session = takeAddress();

  let status = null;    // the last /api/status or state event
  let control = false;  // this browser may change things
  let paused = false;
  let windowS = 30;
  let source = null;
  let connected = false;
  let lastId = 0;
  let rotating = false;
  let refused = ''; // the banner of a refused stream

  // --- channels: names, units, calibration (kept in this browser) --------
  const CAL_KEY = 'tavio32.channels';
  let cal = {};
  try { cal = JSON.parse(localStorage.getItem(CAL_KEY) || '{}') || {}; } catch (e) { cal = {}; }
  function calOf(c) {
    const d = cal[c] || {};
    return { name: d.name || _('channel {n}', { n: c }), unit: d.unit || '', a: num(d.a, 0), x: num(d.x, 0),
             b: num(d.b, 255), y: num(d.y, 255) };
  }
  function num(v, dflt) { const n = parseFloat(v); return Number.isFinite(n) ? n : dflt; }
  function calibrate(c, raw) {
    if (raw == null || raw < 0) return null;
    const k = calOf(c);
    return k.b === k.a ? raw : k.x + (raw - k.a) * (k.y - k.x) / (k.b - k.a);
  }
  function fmt(v) {
    if (v == null) return '–';
    const a = Math.abs(v);
    if (Number.isInteger(v)) return i18n.number(v, 0);
    return i18n.number(v, a >= 100 ? 0 : a >= 10 ? 1 : 2);
  }
  function label(c) { const k = calOf(c); return k.name + (k.unit ? ' [' + k.unit + ']' : ''); }

  // --- banner ------------------------------------------------------------
  // Its texts are English (the page's, marked N_, and the server's), shown
  // in the page's language.
  let bannerSticky = '', bannerShown = '';
  function banner(text, sticky) {
    if (sticky !== undefined) bannerSticky = sticky ? text : '';
    bannerShown = text || bannerSticky;
    $('banner-text').textContent = i18n.localize(bannerShown);
    $('banner').hidden = !bannerShown;
  }
  $('banner-close').onclick = () => { bannerSticky = ''; banner(''); };

  // --- the control token --------------------------------------------------
  // The control address carries a one-time login code, which the page
  // trades for the control token (POST /api/login). The token stays in this
  // tab (sessionStorage: this origin, port included; a reload keeps it) and
  // goes with each request as a header, never in a cookie; the cookie the
  // server sets holds the watch token only. Opening the watch address in a
  // tab that holds the token leaves the token there.
  function takeAddress() {
    const q = new URLSearchParams(location.search);
    // Out of the address bar at once, so that a projected page does not show it.
    if (location.search) history.replaceState(null, '', location.pathname);
    if (q.get('token')) sessionStorage.setItem(TOKEN_KEY, q.get('token'));
    if (!q.get('login')) return Promise.resolve();
    return fetch('/api/login', { method: 'POST', credentials: 'same-origin', cache: 'no-store',
                                 headers: { 'Content-Type': 'application/json' },
                                 body: JSON.stringify({ code: q.get('login') }) })
      .then(async (r) => {
        const j = await r.json().catch(() => null);
        if (r.ok && j && j.token) sessionStorage.setItem(TOKEN_KEY, j.token);
        else if (!controlToken()) banner((j && j.error) || N_('the login failed'), true);
      })
      .catch(() => {});
  }
  function controlToken() { return sessionStorage.getItem(TOKEN_KEY) || ''; }
  function withToken(headers) {
    const token = controlToken();
    if (token) headers.Authorization = 'Bearer ' + token;
    return headers;
  }

  // --- API -----------------------------------------------------------------
  async function api(path, body, method) {
    const r = await fetch(path, body === undefined && !method ? {
      credentials: 'same-origin', cache: 'no-store', headers: withToken({}) } : {
      method: method || 'POST', credentials: 'same-origin',
      headers: withToken({ 'Content-Type': 'application/json' }),
      body: body === undefined ? undefined : JSON.stringify(body) });
    let j = null;
    try { j = await r.json(); } catch (e) { j = null; }
    if (!r.ok && !(r.status === 202)) {
      const e = new Error((j && j.error) || fill(N_('the server answered {status}'), { status: r.status }));
      e.status = r.status;
      throw e;
    }
    return j;
  }

  // --- header ------------------------------------------------------------
  function where(s) {
    if (!s) return _('Connecting…');
    if (s.interface === 'simulation') return _('Simulation: no interface');
    return _('{title} on COM{port}', { title: s.title, port: s.port });
  }
  function showHeader() {
    const pill = $('state');
    if (!connected) {
      $('where').textContent = status ? where(status) : 'tavio32';
      pill.textContent = _('No connection to the server');
      pill.className = 'pill offline';
      return;
    }
    const s = status;
    $('where').textContent = where(s);
    let text = _('Live');
    if (s.state === 'error') {
      text = s.removed ? _('COM{port}: USB adapter removed', { port: s.port }) : _('COM{port} does not answer', { port: s.port });
    }
    const p = s.progress;
    const pct = p && p.total ? Math.round(100 * p.done / p.total) : 0;
    if (s.state === 'recording') text = _('Recording {percent} %', { percent: i18n.number(pct, 0) });
    if (s.state === 'reading') text = _('Reading back {percent} %', { percent: i18n.number(pct, 0) });
    pill.textContent = text;
    pill.className = 'pill ' + s.state;
    $('role').textContent = control ? _('Control') : _('Watching (read only)');
    document.title = 'tavio32: ' + where(s) + ' · ' + text;
  }

  // --- live chart ----------------------------------------------------------
  let channels = [];          // analog channels sampled
  let xs = [];                // seconds on the server's clock
  let raw = {};               // channel -> raw values
  let din = [];
  let plot = null;
  let dirty = false;

  function chartSize(el, h) {
    const w = Math.max(200, el.clientWidth);
    // The live chart fills the room style.css keeps for it before it exists.
    if (el.id === 'chart') return { width: w, height: Math.max(h, el.clientHeight) };
    return { width: w, height: Math.max(h, Math.min(480, Math.round(window.innerHeight * 0.45), Math.round(w * 0.7))) };
  }
  // The axes' numbers in the page's language, with as many decimals as their step needs.
  function axes(list) {
    return list.map((a) => Object.assign(a, {
      values: (u, splits, i, space, incr) => {
        const d = Math.min(6, (String(+(incr || 1).toPrecision(6)).split('.')[1] || '').length);
        return splits.map((v) => (v == null ? '' : i18n.number(v, d)));
      } }));
  }
  function seriesFor(list) {
    return [{ label: _('time [s]'), value: (u, v) => fmt(v) }].concat(list.map((c, i) => ({
      label: label(c), stroke: COLOURS[i % COLOURS.length], width: 2, points: { show: false },
      value: (u, v) => fmt(v) })));
  }
  // The chart is made with its first data (draw), so that it appears with
  // its axes in place instead of growing them; the value axis keeps its width.
  function makePlot() {
    $('chart').textContent = '';
    plot = t.chart = null;
    makeLegend();
  }
  function newPlot(data) {
    const el = $('chart');
    const opts = Object.assign(chartSize(el, 240), {
      scales: { x: { time: false } },
      series: seriesFor(channels),
      legend: { show: false },
      cursor: { drag: { x: false, y: false } },
      axes: axes([{ label: _('time [s]'), labelSize: 20 }, { label: _('value'), labelSize: 20, size: 72 }]),
    });
    plot = t.chart = new uPlot(opts, data, el);
  }
  function makeLegend() {
    const el = $('legend');
    el.textContent = '';
    channels.forEach((c, i) => {
      const item = document.createElement('span');
      item.className = 'item';
      item.innerHTML = '<span class="swatch"></span><span class="name"></span><span class="value">–</span>';
      item.querySelector('.swatch').style.background = COLOURS[i % COLOURS.length];
      item.querySelector('.name').textContent = label(c);
      item.dataset.channel = c;
      el.appendChild(item);
    });
  }
  function setChannels(list) {
    if (JSON.stringify(list) === JSON.stringify(channels)) return;
    channels = list.slice();
    xs = []; din = []; raw = {};
    channels.forEach((c) => { raw[c] = []; });
    makePlot();
    makeCalibration();
  }
  function onSample(s) {
    t.samples++;
    if (t.samples === 1) { rateCount = 1; rateSince = performance.now(); }
    // No samples for a while (a recording, a fault): a gap in the lines.
    const x = s.t_ms / 1000, every = status ? status.every_ms / 1000 : 0.02;
    if (xs.length && x - xs[xs.length - 1] > Math.max(0.2, 5 * every)) {
      xs.push((x + xs[xs.length - 1]) / 2);
      channels.forEach((c) => raw[c].push(null));
      din.push(null);
    }
    xs.push(x);
    channels.forEach((c) => raw[c].push(s.ain[c] !== undefined ? s.ain[c] : null));
    din.push(s.din);
    // Drop what no window shows any more (in batches: cheap).
    if (xs.length > 64 && xs[0] < xs[xs.length - 1] - KEEP_S) {
      let n = 0;
      const limit = xs[xs.length - 1] - KEEP_S;
      while (n < xs.length && xs[n] < limit) n++;
      xs.splice(0, n); din.splice(0, n);
      channels.forEach((c) => raw[c].splice(0, n));
    }
    showInputs(s);
    dirty = true;
  }
  function draw() {
    requestAnimationFrame(draw);
    if (!dirty || paused || !xs.length) return;
    dirty = false;
    const end = xs[xs.length - 1], start = end - windowS;
    let i = xs.length - 1;
    while (i > 0 && xs[i - 1] >= start) i--;
    const data = [xs.slice(i)].concat(channels.map((c) => raw[c].slice(i).map((v) => calibrate(c, v))));
    if (!plot) newPlot(data);
    plot.batch(() => {
      plot.setData(data, false);
      plot.setScale('x', { min: Math.max(start, xs[0] - 0.001), max: end });
    });
    t.draws++;
    if (t.firstChartMs == null) t.firstChartMs = performance.now();
  }
  requestAnimationFrame(draw);
  function showInputs(s) {
    const items = $('legend').children;
    for (const item of items) {
      const c = item.dataset.channel, v = calibrate(c, s.ain[c]);
      item.querySelector('.value').textContent = fmt(v) + (v != null && calOf(c).unit ? ' ' + calOf(c).unit : '');
    }
    const lamps = $('lamps').children;
    for (let b = 0; b < 8; b++) lamps[b].firstChild.classList.toggle('on', s.din >= 0 && ((s.din >> b) & 1) === 1);
  }
  let rateCount = 0, rateSince = performance.now();
  setInterval(() => {
    const now = performance.now();
    if (now - rateSince < 1500) return; // the first samples came just now
    const r = (t.samples - rateCount) * 1000 / (now - rateSince);
    rateCount = t.samples; rateSince = now;
    lastRate = r;
    showRate();
  }, 2000);
  let lastRate = null;
  function showRate() {
    $('rate').textContent = connected && lastRate != null ? _('{rate} samples/s', { rate: i18n.number(lastRate, 0) }) : '';
  }
  $('window').onchange = () => { windowS = +$('window').value; dirty = true; };
  $('pause').onclick = () => {
    paused = !paused;
    $('pause').textContent = paused ? _('Resume') : _('Pause');
    dirty = true;
  };
  window.addEventListener('resize', () => {
    if (plot) plot.setSize(chartSize($('chart'), 240));
    if (rplot) rplot.setSize(chartSize($('r-chart'), 200));
  });

  // --- digital and analog I/O ---------------------------------------------
  function bitsRow(el, make) {
    el.textContent = '';
    for (let b = 0; b < 8; b++) {
      const cell = document.createElement('label');
      cell.className = 'bit';
      cell.appendChild(make(b));
      const n = document.createElement('span');
      n.textContent = String(b + 1);
      cell.appendChild(n);
      el.appendChild(cell);
    }
  }
  bitsRow($('lamps'), () => { const l = document.createElement('span'); l.className = 'lamp'; return l; });
  bitsRow($('switches'), (b) => {
    const s = document.createElement('input');
    s.type = 'checkbox'; s.className = 'switch'; s.dataset.bit = b;
    s.setAttribute('aria-label', _('digital output {n}', { n: b + 1 }));
    s.onchange = sendDout;
    return s;
  });
  function switches() { return Array.from($('switches').querySelectorAll('input')); }
  async function sendDout() {
    const v = switches().reduce((acc, s) => acc | (s.checked ? 1 << +s.dataset.bit : 0), 0);
    try {
      const r = await api('/api/output', { dout: v });
      if (!r.ok) banner(r.error || N_('the interface did not take the command'));
    } catch (e) { banner(e.message); }
  }
  function slider(parent, text, id, value, send) {
    const row = document.createElement('label');
    row.className = 'slider';
    row.innerHTML = '<span></span><input type="range" min="0" max="255" step="1"><output></output>';
    row.firstChild.textContent = text;
    const input = row.querySelector('input'), out = row.querySelector('output');
    input.id = id; input.value = value == null ? 0 : value; out.textContent = input.value;
    let timer = null;
    input.oninput = () => {
      out.textContent = input.value;
      if (!timer) timer = setTimeout(() => { timer = null; send(+input.value); }, 100);
    };
    input.onchange = () => send(+input.value);
    parent.appendChild(row);
  }
  let outputsShape = '';
  function showOutputs(s) {
    const shape = s.outputs.analog + '/' + s.outputs.status;
    if (shape !== outputsShape) {
      outputsShape = shape;
      const a = $('aouts'), st = $('status-out');
      a.textContent = ''; st.textContent = '';
      if (s.outputs.analog) {
        const h = document.createElement('h2'); h.textContent = _('Analog outputs'); a.appendChild(h);
        for (let c = 1; c <= s.outputs.analog; c++) {
          slider(a, _('Output {n}', { n: c }), 'aout-' + c, s.aout[c], async (v) => {
            try { await api('/api/output', { aout: { channel: c, value: v } }); } catch (e) { banner(e.message); }
          });
        }
      }
      if (s.outputs.status) {
        const h = document.createElement('h2'); h.textContent = _('Status output'); st.appendChild(h);
        slider(st, _('Status'), 'status-value', s.status_output, async (v) => {
          try { await api('/api/output', { status: v }); } catch (e) { banner(e.message); }
        });
      }
    }
    if (s.dout != null) switches().forEach((sw) => { sw.checked = ((s.dout >> +sw.dataset.bit) & 1) === 1; });
    const busy = s.state !== 'live';
    document.querySelectorAll('#io input').forEach((i) => { i.disabled = !control || busy; });
  }

  // --- calibration table ----------------------------------------------------
  const CAL_LABELS = { name: N_('channel {n} name'), unit: N_('channel {n} unit'), a: N_('channel {n} raw a'),
                       x: N_('channel {n} is x'), b: N_('channel {n} raw b'), y: N_('channel {n} is y') };
  function makeCalibration() {
    const body = $('cal');
    body.textContent = '';
    channels.forEach((c) => {
      const k = calOf(c), tr = document.createElement('tr');
      const td0 = document.createElement('td'); td0.textContent = c; tr.appendChild(td0);
      [['name', 'text', k.name], ['unit', 'text', k.unit], ['a', 'number', k.a], ['x', 'number', k.x],
       ['b', 'number', k.b], ['y', 'number', k.y]].forEach(([key, type, value]) => {
        const td = document.createElement('td'), input = document.createElement('input');
        input.type = type; input.value = value; input.className = key;
        if (type === 'number') input.step = 'any';
        input.setAttribute('aria-label', _(CAL_LABELS[key], { n: c }));
        input.onchange = () => {
          cal[c] = Object.assign(cal[c] || {}, { [key]: input.value });
          localStorage.setItem(CAL_KEY, JSON.stringify(cal));
          makePlot(); dirty = true;
          if (recording) showRecording(recording);
        };
        td.appendChild(input); tr.appendChild(td);
      });
      body.appendChild(tr);
    });
  }

  function download(name, text) {
    const a = document.createElement('a');
    a.href = URL.createObjectURL(new Blob([text], { type: 'text/csv' }));
    a.download = name;
    document.body.appendChild(a);
    a.click();
    setTimeout(() => { URL.revokeObjectURL(a.href); a.remove(); }, 1000);
  }
  // The calibrated CSV files in the page's language: in English comma
  // separated with decimal points; else as that language's spreadsheets
  // read them (German: ';' between fields, decimal commas), the header row
  // translated, and a byte order mark, which tells them it is UTF-8 (°C).
  function csvFormat() {
    if (i18n.lang === 'en') return { sep: ',', start: '', time: (x) => x.toFixed(3), value: (v) => String(+v.toFixed(4)) };
    return { sep: ';', start: '\ufeff', time: (x) => i18n.number(x, 3), value: (v) => i18n.number(+v.toFixed(4) || 0) };
  }
  function csvCell(s, f) {
    return new RegExp('["\n' + f.sep + ']').test(s) ? '"' + s.replace(/"/g, '""') + '"' : s;
  }
  function csvValue(c, rawValue, f) { const v = calibrate(c, rawValue); return v == null ? '' : f.value(v); }
  $('live-csv').onclick = () => {
    const f = csvFormat();
    let out = f.start + [_('time_s')].concat(channels.map((c) => csvCell(label(c), f)), [_('digital')]).join(f.sep) + '\n';
    for (let i = 0; i < xs.length; i++) {
      if (din[i] == null) continue; // a gap
      out += [f.time(xs[i])].concat(channels.map((c) => csvValue(c, raw[c][i], f)), [din[i]]).join(f.sep) + '\n';
    }
    download('tavio32-live.csv', out);
  };

  // --- recording -------------------------------------------------------------
  let recording = null;
  let rplot = null;
  (function channelBoxes() {
    const el = $('r-channels');
    for (let c = 1; c <= 4; c++) {
      const l = document.createElement('label'), box = document.createElement('input');
      box.type = 'checkbox'; box.value = c; box.checked = c <= 2; box.onchange = duration;
      l.appendChild(box); l.appendChild(document.createTextNode(' ' + c));
      el.appendChild(l);
    }
  })();
  function plan() {
    const p = {
      measurements: +$('r-measurements').value, interval_ms: +$('r-interval').value, blocks: +$('r-blocks').value,
      channels: Array.from($('r-channels').querySelectorAll('input:checked')).map((b) => +b.value), trigger: null };
    const mode = +$('r-trigger').value;
    if (mode) p.trigger = { mode: mode, value: +$('r-trigger-value').value };
    return p;
  }
  function duration() {
    const p = plan(), ms = p.measurements * p.interval_ms * p.blocks;
    const values = p.measurements * p.channels.length * p.blocks;
    const takes = ms >= 60000 ? _('{n} min', { n: i18n.number(ms / 60000, 1) }) : _('{n} s', { n: i18n.number(ms / 1000, 1) });
    const args = { time: takes, values: i18n.number(values, 0), capacity: status && i18n.number(status.capacity, 0),
                   title: status && status.title };
    let ok = p.channels.length > 0 && values > 0;
    const over = status && status.capacity && values > status.capacity;
    let text = !(status && status.capacity) ? _('Takes {time}, then the readout; {values} values', args)
      : over ? _('Takes {time}, then the readout; {values} values of {capacity} the {title} holds: too many', args)
        : _('Takes {time}, then the readout; {values} values of {capacity} the {title} holds', args);
    if (over) ok = false;
    if (status && !status.can_record) { text = _('Block recordings need a Sios or a Zelle.'); ok = false; }
    $('r-duration').textContent = text;
    const busy = !status || status.state !== 'live';
    $('r-start').disabled = !control || !ok || busy;
    $('record-form').querySelectorAll('input, select').forEach((i) => { i.disabled = !control; });
    $('r-trigger').disabled = !control || (status && status.interface !== 'sios');
  }
  ['r-measurements', 'r-interval', 'r-blocks', 'r-trigger', 'r-trigger-value'].forEach((id) => { $(id).oninput = duration; });
  $('record-form').onsubmit = async (e) => {
    e.preventDefault();
    try {
      await api('/api/record', plan());
      $('r-progress').hidden = false;
      $('p-recording').value = 0; $('p-reading').value = 0;
      $('p-recording-text').textContent = ''; $('p-reading-text').textContent = '';
      progressShown = {};
    } catch (err) { banner(err.message); }
  };
  let progressShown = {};
  function onProgress(p) {
    progressShown[p.phase] = p;
    $('r-progress').hidden = false;
    const bar = $(p.phase === 'recording' ? 'p-recording' : 'p-reading');
    bar.max = Math.max(1, p.total); bar.value = p.done;
    progressText(p);
    if (p.phase === 'reading') { $('p-recording').value = $('p-recording').max; }
    if (status) { status.progress = p; showHeader(); }
  }
  function progressText(p) {
    $(p.phase === 'recording' ? 'p-recording-text' : 'p-reading-text').textContent =
      p.phase === 'recording' ? _('{done} of {total} s', { done: i18n.number(p.done / 1000, 1), total: i18n.number(p.total / 1000, 1) })
        : _('{done} of {total} bytes', { done: i18n.number(p.done, 0), total: i18n.number(p.total, 0) });
  }
  async function loadRecording() {
    try {
      recording = await api('/api/recording');
      showRecording(recording);
    } catch (e) { /* none yet */ }
  }
  function showRecording(r) {
    $('r-result').hidden = false;
    const args = { name: r.name, count: i18n.number(r.measurements, 0), channels: r.channels.join(', '),
                   interval: i18n.number(r.interval_ms, 0), blocks: i18n.number(r.blocks, 0) };
    const summary = r.channels.length > 1 ? _('{name}: {count} measurements of channels {channels} every {interval} ms', args)
      : _('{name}: {count} measurements of channel {channels} every {interval} ms', args);
    $('r-summary').textContent = r.blocks > 1 ? _('{summary} in {blocks} blocks', Object.assign(args, { summary })) : summary;
    const el = $('r-chart');
    el.textContent = '';
    // Blocks follow each other on the time axis, as in the .svg file.
    const x = r.times_ms.map((_, i) => i * r.interval_ms / 1000);
    const data = [x].concat(r.channels.map((c) => r.values[c].map((v) => calibrate(c, v))));
    const opts = Object.assign(chartSize(el, 200), {
      scales: { x: { time: false } }, series: seriesFor(r.channels),
      axes: axes([{ label: _('time [s]') }, { label: _('value') }]) });
    rplot = new uPlot(opts, data, el);
  }
  $('d-calibrated').onclick = () => {
    const r = recording;
    if (!r) return;
    const several = r.blocks > 1;
    const f = csvFormat();
    let out = f.start + (several ? [_('block')] : []).concat([_('time_ms')], r.channels.map((c) => csvCell(label(c), f)))
      .join(f.sep) + '\n';
    for (let i = 0; i < r.times_ms.length; i++) {
      out += (several ? [r.block[i]] : []).concat([r.times_ms[i]], r.channels.map((c) => csvValue(c, r.values[c][i], f)))
        .join(f.sep) + '\n';
    }
    download(r.name + '-calibrated.csv', out);
  };

  // --- interface selection -----------------------------------------------------
  $('select-form').onsubmit = async (e) => {
    e.preventDefault();
    const kind = $('s-kind').value;
    const body = kind === 'simulate' ? { simulate: true } : kind === 'detect' ? { detect: true }
      : { interface: kind, port: +$('s-port').value };
    try { applyStatus(await api('/api/select', body)); } catch (err) { banner(err.message); }
  };

  // --- the watch address for the class: a QR code on the control view -------
  // The code is drawn here, by qrcode-generator (qrcode.js, from the server
  // like everything else), which only the control view loads.
  let joinChoices = [], qrLibrary = null;
  function loopbackHost(h) { return /^127\./.test(h) || h === '::1' || h === 'localhost'; }
  function watchAddresses(s) {
    const l = s.listening, here = location.hostname.replace(/^\[|\]$/g, '');
    const list = l.addresses.filter((a) => !loopbackHost(a.address));
    // The address this page came through first, when a phone can use it too.
    if (!loopbackHost(here)) {
      const i = list.findIndex((a) => a.address === here);
      list.unshift(i >= 0 ? list.splice(i, 1)[0] : { address: here, interface: '' });
    }
    if (!list.length) list.push({ address: here, interface: '' });
    return list.map((a) => ({ name: a.interface, address: a.address,
      url: 'http://' + (a.address.includes(':') ? '[' + a.address + ']' : a.address) + ':' + l.port +
           '/?watch=' + s.watch_token }));
  }
  function showJoin(s) {
    if (!control || !s.listening || !s.watch_token) return;
    const choices = watchAddresses(s), pick = $('join-network');
    if (choices.map((c) => c.url).join(' ') === joinChoices.map((c) => c.url).join(' ')) return;
    joinChoices = choices;
    pick.textContent = '';
    choices.forEach((c, i) => {
      const o = document.createElement('option');
      o.value = i; o.textContent = (c.name ? c.name + ': ' : '') + c.address;
      pick.appendChild(o);
    });
    pick.hidden = choices.length < 2;
    drawJoin(choices[0]);
  }
  function loadQrLibrary() {
    if (!qrLibrary) qrLibrary = new Promise((ok, fail) => {
      const script = document.createElement('script');
      script.src = 'qrcode.js';
      script.onload = () => ok(window.qrcode);
      script.onerror = () => { qrLibrary = null; fail(new Error(N_('the QR code library did not load: reload the page'))); };
      document.head.appendChild(script);
    });
    return qrLibrary;
  }
  async function drawJoin(c) {
    $('join-address').textContent = loopbackHost(c.address) ?
      _('{address} (this machine only: for a class, start tavio32 serve with --listen 0.0.0.0:8032)', { address: c.url }) : c.url;
    let q;
    try {
      q = (await loadQrLibrary())(0, 'M');
      q.addData(c.url);
      q.make();
    } catch (e) { banner(e.message); return; }
    // One square per dark module, with the quiet zone of four around.
    const n = q.getModuleCount(), size = n + 8, NS = 'http://www.w3.org/2000/svg';
    let d = '';
    for (let r = 0; r < n; r++) {
      for (let k = 0; k < n; k++) if (q.isDark(r, k)) d += 'M' + (k + 4) + ' ' + (r + 4) + 'h1v1h-1z';
    }
    const svg = document.createElementNS(NS, 'svg'), path = document.createElementNS(NS, 'path');
    svg.setAttribute('viewBox', '0 0 ' + size + ' ' + size);
    svg.setAttribute('shape-rendering', 'crispEdges');
    path.setAttribute('d', d);
    svg.appendChild(path);
    $('join-code').replaceChildren(svg);
  }
  $('join-network').onchange = () => drawJoin(joinChoices[+$('join-network').value]);
  $('join-close').onclick = () => { $('join').hidden = true; $('join-open').hidden = false; };
  $('join-open').onclick = () => { $('join').hidden = false; $('join-open').hidden = true; };

  // --- state and connection ---------------------------------------------------
  // The numbered USB adapters as suggestions for the port.
  function showAdapters(list) {
    const d = $('s-ports');
    d.replaceChildren(...list.map((a) => {
      const o = document.createElement('option');
      o.value = a.port;
      o.label = _('COM{port}: {about} ({device})', { port: a.port, about: a.about || _('USB adapter'), device: a.device });
      return o;
    }));
  }

  function applyStatus(s) {
    if (s.control !== undefined) control = s.control;
    const before = status;
    status = s;
    document.body.classList.toggle('watch', !control);
    setChannels(s.channels);
    showHeader();
    showOutputs(s);
    showJoin(s);
    showAdapters(s.adapters || []);
    duration();
    showStop();
    if (s.state === 'error') banner(s.error, true);
    else if (before && before.state === 'error') banner('', false);
    if (s.state === 'live') $('r-progress').hidden = !(before && (before.state === 'reading'));
    if (s.recording && (!recording || recording.name !== s.recording.name)) loadRecording();
  }

  async function connect() {
    if (source) source.close();
    try {
      const s = await api('/api/status');
      connected = true;
      applyStatus(s);
    } catch (e) {
      connected = false;
      showHeader();
      // 401: a server that started afresh, with new tokens.
      if (e.status === 401 && controlToken()) sessionStorage.removeItem(TOKEN_KEY);
      banner(e.status === 401 ? N_('This address is no longer valid (the server was started again): ' +
             'open the new address that tavio32 serve printed.') : N_('No connection to the server: trying again…'), true);
      setTimeout(connect, 2000);
      return;
    }
    // EventSource sends no headers: the token goes in the stream's address,
    // which no history keeps.
    const token = controlToken();
    source = new EventSource('/api/stream' + (token ? '?token=' + encodeURIComponent(token) : ''));
    source.addEventListener('open', () => {
      if (!connected || bannerSticky.startsWith('No connection') || (refused && bannerSticky === refused)) {
        refused = '';
        banner('', false);
      }
      connected = true;
      showHeader();
    });
    source.addEventListener('sample', (e) => { lastId = e.lastEventId; onSample(JSON.parse(e.data)); });
    source.addEventListener('state', (e) => { applyStatus(JSON.parse(e.data)); });
    source.addEventListener('progress', (e) => onProgress(JSON.parse(e.data)));
    // The server ends each stream after a while; the browser reconnects at
    // once and goes on from the last event.
    source.addEventListener('rotate', () => { rotating = true; });
    source.addEventListener('recording', (e) => {
      const r = JSON.parse(e.data);
      if (r.ok) loadRecording(); else banner(r.error);
    });
    source.onerror = () => {
      if (rotating && source.readyState === EventSource.CONNECTING) { rotating = false; return; }
      rotating = false;
      connected = false;
      showHeader();
      banner(N_('No connection to the server: trying again…'), true);
      // The browser retries by itself after 1 s; a refused stream (or a
      // server that was away) closes it, and then the page starts over,
      // saying why the server refused it (too many watchers from one address).
      if (source.readyState === EventSource.CLOSED) {
        whyRefused(source.url).then((why) => { if (why) banner(refused = why, true); });
        setTimeout(connect, 2000);
      }
    };
  }
  // An EventSource does not show a refusal's text: fetch does (a stream
  // that opens this time is closed at once).
  async function whyRefused(url) {
    const stop = new AbortController();
    try {
      const r = await fetch(url, { credentials: 'same-origin', cache: 'no-store', signal: stop.signal });
      return r.ok ? '' : ((await r.json()).error || '');
    } catch (e) {
      return '';
    } finally {
      stop.abort();
    }
  }
  // --- stopping a recording --------------------------------------------------
  function showStop() {
    const running = status && (status.state === 'recording' || status.state === 'reading');
    $('r-stop').hidden = !control || !running;
  }
  $('r-stop').onclick = async () => {
    try { await api('/api/recording', undefined, 'DELETE'); } catch (err) { banner(err.message); }
  };

  // --- the page's language: chosen here, applied without a reload ----------
  $('lang').onchange = () => i18n.use($('lang').value);
  i18n.onChange(() => {
    if (status) { showHeader(); outputsShape = ''; showOutputs(status); joinChoices = []; showJoin(status);
                  showAdapters(status.adapters || []); duration(); }
    switches().forEach((sw) => sw.setAttribute('aria-label', _('digital output {n}', { n: +sw.dataset.bit + 1 })));
    $('pause').textContent = paused ? _('Resume') : _('Pause');
    showRate();
    makePlot(); makeCalibration(); dirty = true;
    Object.values(progressShown).forEach(progressText);
    if (recording) showRecording(recording);
    banner(bannerShown);
  });

  window.addEventListener('error', (e) => t.errors.push(String(e.message)));
  window.addEventListener('unhandledrejection', (e) => t.errors.push(String(e.reason)));
  session.then(connect);
})();
