'use strict';
// The live page: the weight as the program's read-out shows it, the port's state, the last 20
// report lines and a five-minute trend. It starts from the state the server wrote into the page
// (the journal's last five minutes and report lines), then follows /api/v1/events; the browser's
// EventSource reconnects by itself and resumes with Last-Event-ID.
(function () {
  const TREND_MS = 5 * 60 * 1000;
  const MAX_REPORTS = 20;
  // How a trend point joins the one before: a line, the same run of identical readings (always
  // joined), or a break (after a gap, a lost port).
  const LINE = 0, RUN = 1, BREAK = 2;
  // A pause longer than this many usual intervals (at least BREAK_MIN_MS) breaks the line too.
  const BREAK_FACTOR = 10, BREAK_MIN_MS = 2000;
  const initial = JSON.parse(document.getElementById('dane').textContent);
  const el = (id) => document.getElementById(id);
  // The read-out: a reading's text; empty after a report line and after a lost port, as the
  // program's own read-out.
  let readout = initial.readout;
  let weight = initial.weight;
  let trend = initial.trend.map((p) => ({ t: p[0], v: p[1], j: p[2] }));
  let breakNext = false;
  let streamOpen = true;  // the page itself just came from the program

  // Numbers as Polish writes them: a decimal comma, whatever the scale sent.
  const polish = (text) => text.replace(/\./g, ',');

  function showWeight() {
    el('waga').textContent = readout ? polish(readout) : '—';
    el('jednostka').textContent = readout ? weight.unit || '' : '';
    el('czas').textContent = readout && weight.time
      ? 'odczyt z ' + new Date(weight.time).toLocaleString('pl-PL')
      : 'brak odczytu';
    const stale = !!readout && !!weight.time &&
      Date.now() - Date.parse(weight.time) > (initial.stale_after_ms || 5000);
    el('waga').parentElement.classList.toggle('nieaktualny', stale);
    const state = el('stan');
    if (!streamOpen) {
      state.textContent = 'brak połączenia z programem';
      state.className = 'stan brak';
    } else if (!weight.connected) {
      state.textContent = (weight.port || 'port') + ': brak połączenia z wagą';
      state.className = 'stan brak';
    } else {
      state.textContent = weight.port + ': połączono' + (stale ? ' (odczyt nieaktualny)' : '');
      state.className = stale ? 'stan nieaktualny' : 'stan ok';
    }
  }

  function addReport(text) {
    const list = el('raport');
    const item = document.createElement('li');
    item.textContent = text;
    item.title = text;
    list.appendChild(item);
    while (list.children.length > MAX_REPORTS) list.removeChild(list.firstChild);
  }

  // The longest pause that still joins two points: BREAK_FACTOR times the median interval.
  function longestJoin(points) {
    const gaps = [];
    for (let i = 1; i < points.length; i++) {
      if (points[i].j !== RUN) gaps.push(points[i].t - points[i - 1].t);
    }
    if (gaps.length === 0) return Infinity;
    gaps.sort((a, b) => a - b);
    return Math.max(BREAK_MIN_MS, BREAK_FACTOR * gaps[Math.floor(gaps.length / 2)]);
  }

  function drawTrend() {
    const canvas = el('wykres');
    // Drawn at the size the page gives the canvas, in device pixels, so text stays sharp.
    const box = canvas.getBoundingClientRect();
    const ratio = window.devicePixelRatio || 1;
    const w = Math.max(200, Math.round(box.width)), h = Math.max(120, Math.round(box.height));
    canvas.width = w * ratio;
    canvas.height = h * ratio;
    const ctx = canvas.getContext('2d');
    ctx.scale(ratio, ratio);
    const left = 60, bottom = 24;
    const now = Date.now();
    const kept = trend.filter((p) => p.t >= now - TREND_MS);
    // The first point kept after older ones joined a point no longer shown.
    if (kept.length > 0 && kept.length < trend.length && kept[0].j === RUN) kept[0].j = LINE;
    trend = kept;
    ctx.clearRect(0, 0, w, h);
    ctx.strokeStyle = '#c8d0d8';
    ctx.strokeRect(left, 4, w - left - 4, h - bottom - 4);
    ctx.fillStyle = '#3a4a5c';
    ctx.font = '12px sans-serif';
    ctx.fillText('−5 min', left, h - 6);
    ctx.fillText('teraz', w - 38, h - 6);
    if (trend.length === 0) {
      ctx.fillText('brak odczytów liczbowych', left + 12, 24);
      return;
    }
    let lo = Math.min(...trend.map((p) => p.v)), hi = Math.max(...trend.map((p) => p.v));
    if (hi === lo) { hi += 1; lo -= 1; }
    // A margin above the highest and below the lowest value: no line on the frame's edge.
    const pad = (hi - lo) * 0.08, top = hi + pad, base = lo - pad;
    const x = (t) => left + (w - left - 4) * (t - (now - TREND_MS)) / TREND_MS;
    const y = (v) => 4 + (h - bottom - 8) * (top - v) / (top - base);
    const label = (v) => polish(String(+v.toFixed(3)));
    ctx.fillText(label(hi), 4, y(hi) + 4);
    ctx.fillText(label(lo), 4, y(lo) + 4);
    ctx.strokeStyle = '#1f6fb2';
    ctx.lineWidth = 2;
    const longest = longestJoin(trend);
    ctx.beginPath();
    trend.forEach((p, i) => {
      const joined = i > 0 && p.j !== BREAK && (p.j === RUN || p.t - trend[i - 1].t <= longest);
      if (joined) {
        ctx.lineTo(x(p.t), y(p.v));
      } else {
        ctx.moveTo(x(p.t), y(p.v));
        ctx.lineTo(x(p.t) + 0.5, y(p.v));  // a lone point still shows
      }
    });
    ctx.stroke();
  }

  initial.reports.forEach((r) => addReport(r.text));
  showWeight();
  drawTrend();

  const source = new EventSource('/api/v1/events');
  source.onopen = () => { streamOpen = true; showWeight(); };
  source.onerror = () => { streamOpen = false; showWeight(); };
  source.addEventListener('reading', (e) => {
    const d = JSON.parse(e.data);
    // A new stream starts with the last reading: the page has it already.
    if (d.seq === weight.seq && d.time === weight.time) return;
    readout = d.text.replace(/ /g, '');
    weight = { reading: readout, value: d.value, unit: d.unit, time: d.time,
      port: d.port, connected: true, seq: d.seq };
    if (d.value !== null) {
      const last = trend[trend.length - 1];
      const join = breakNext ? BREAK : last && last.seq === d.seq ? RUN : LINE;
      trend.push({ t: Date.parse(d.time), v: d.value, j: join, seq: d.seq });
      breakNext = false;
    }
    showWeight();
  });
  source.addEventListener('report', (e) => {
    addReport(JSON.parse(e.data).text);
    readout = '';
    showWeight();
  });
  source.addEventListener('status', (e) => {
    const d = JSON.parse(e.data);
    weight.connected = d.connected;
    weight.port = d.port;
    if (!d.connected) {
      readout = '';
      breakNext = true;
    }
    showWeight();
  });
  // A resumed stream that could not get every row it missed: the trend breaks there.
  source.addEventListener('gap', () => { breakNext = true; });
  setInterval(() => { drawTrend(); showWeight(); }, 1000);
})();
