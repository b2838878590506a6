// The room's page: one card per recorder, drawn from what the room sends and
// driving the recorder with the link's own commands. Every name a recorder
// sends is set as text, never as markup.
'use strict';

const key = new URLSearchParams(location.search).get('key');
const phone = window.matchMedia('(max-width: 640px)');
const cards = new Map();  // recorder id -> card
let socket = null;

function el(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

function setText(e, text) {
  if (e.textContent !== text) e.textContent = text;
}

function send(message) {
  if (socket && socket.readyState === WebSocket.OPEN) socket.send(JSON.stringify(message));
}

// The window's meter: 60 dB below full scale to full scale; green, then
// yellow above 0.8 of the way, red above 0.97.
function fraction(peak) {
  const level = 20 * Math.log10(Math.max(peak, 1e-5));
  return Math.min(Math.max((level + 60) / 60, 0), 1);
}
function meterColour(f) {
  return f > 0.97 ? 'red' : f > 0.8 ? 'yellow' : 'green';
}
function meter() {
  const m = el('div', 'meter');
  m.fill = m.appendChild(el('div', 'fill'));
  for (const at of [0.5, 0.8, 0.97]) m.appendChild(el('div', 'tick')).style.left = at * 100 + '%';
  m.setPeak = peak => {
    const f = fraction(peak);
    m.fill.style.width = (f * 100).toFixed(1) + '%';
    m.fill.className = 'fill ' + meterColour(f);
    m.title = peak > 1e-5 ? (20 * Math.log10(peak)).toFixed(1) + ' dBFS' : '−∞ dBFS';
  };
  return m;
}

function clock(seconds) {
  const s = Math.max(0, Math.floor(seconds));
  const two = n => String(n).padStart(2, '0');
  return two(Math.floor(s / 3600)) + ':' + two(Math.floor(s / 60) % 60) + ':' + two(s % 60);
}

// As the window says it: rounded down.
function remainingText(seconds) {
  const whole = Math.floor(seconds / 60);
  if (!(whole >= 1)) return 'less than a minute';
  if (whole > 99 * 60) return 'more than 99 h left';
  if (whole < 60) return whole + ' min left';
  return Math.floor(whole / 60) + ' h ' + (whole % 60) + ' min left';
}

// A stop is one click on a desktop; on a phone's screen a second tap within
// 3 s confirms it, so a touch in passing never ends a take.
function guardedStop(button, stop, label) {
  let timer = 0;
  return () => {
    clearTimeout(timer);
    if (!phone.matches || button.dataset.confirm === '1') {
      delete button.dataset.confirm;
      button.stoppedAt = performance.now();
      stop();
      return;
    }
    button.dataset.confirm = '1';
    button.textContent = 'Tap again to stop';
    timer = setTimeout(() => {
      delete button.dataset.confirm;
      button.textContent = label();
    }, 3000);
  };
}

function picker(labelText, onPick) {
  const label = el('label', 'picker', labelText + ' ');
  const select = label.appendChild(el('select'));
  select.addEventListener('change', () => onPick(select.value));
  label.select = select;
  return label;
}

function fillPicker(select, devices, chosen) {
  const wanted = devices.map(d => d.uid + '\n' + d.name).join('\n\n');
  if (select.dataset.list !== wanted) {
    select.dataset.list = wanted;
    select.replaceChildren(...devices.map(d => {
      const o = el('option', '', d.name);
      o.value = d.uid;
      return o;
    }));
  }
  if (document.activeElement !== select && select.value !== chosen) select.value = chosen;
}

function channelRow(card, i) {
  const row = el('div', 'channel');
  const name = row.appendChild(el('input', 'name'));
  name.type = 'text';
  name.maxLength = 200;
  name.setAttribute('aria-label', 'Name of input ' + (i + 1));
  name.addEventListener('change', () =>
    card.command({type: 'set', i: i, name: name.value}));
  name.addEventListener('keydown', e => { if (e.key === 'Enter') name.blur(); });
  row.hw = row.appendChild(el('span', 'hw'));
  const toggle = (text, member) => {
    const label = row.appendChild(el('label', 'toggle'));
    const box = label.appendChild(el('input'));
    box.type = 'checkbox';
    label.appendChild(document.createTextNode(' ' + text));
    box.addEventListener('change', () => card.command({type: 'set', i: i, [member]: box.checked}));
    return box;
  };
  row.armed = toggle('Armed', 'armed');
  row.solo = toggle('Solo', 'solo');
  row.meter = row.appendChild(meter());
  row.update = (ch, recording) => {
    if (document.activeElement !== name && name.value !== ch.name) name.value = ch.name;
    setText(row.hw, ch.hw);
    row.armed.checked = ch.armed;
    row.armed.disabled = recording;  // a take's inputs are fixed when it starts
    row.solo.checked = ch.solo;
    row.classList.toggle('armed', ch.armed);
    row.meter.setPeak(ch.peak);
  };
  return row;
}

function makeCard(id) {
  const card = el('section', 'recorder');
  card.command = c => send({type: 'command', to: id, command: c});
  const head = card.appendChild(el('div', 'head'));
  card.label = head.appendChild(el('h2'));
  card.device = head.appendChild(el('span', 'device'));
  card.away = card.appendChild(el('p', 'away', 'recorder not connected'));
  const body = card.appendChild(el('div', 'body'));

  const transport = body.appendChild(el('div', 'transport'));
  card.record = transport.appendChild(el('button', 'record', 'RECORD'));
  card.record.type = 'button';
  const recordLabel = () => (card.state && card.state.recording ? 'STOP' : 'RECORD');
  const stop = guardedStop(card.record, () => card.command({type: 'record', on: false}), recordLabel);
  card.record.addEventListener('click', () => {
    // A second tap stops, even if the take ended meanwhile, and a click just
    // after a stop (a double click) starts nothing: never a take by mistake.
    if (card.record.dataset.confirm === '1' || (card.state && card.state.recording)) stop();
    else if (!(performance.now() - (card.record.stoppedAt || -1e9) < 1000))
      card.command({type: 'record', on: true});
  });
  card.elapsed = transport.appendChild(el('span', 'elapsed', '00:00:00'));
  card.left = transport.appendChild(el('span', 'left'));
  card.folder = transport.appendChild(el('span', 'folder'));
  card.status = body.appendChild(el('p', 'status'));

  const choices = body.appendChild(el('div', 'choices'));
  card.input = choices.appendChild(picker('Input', uid => card.command({type: 'device', input: uid})));
  card.output = choices.appendChild(picker('Headphones', uid => card.command({type: 'device', output: uid})));
  card.tone = choices.appendChild(el('button', '', 'Test tone'));
  card.tone.type = 'button';
  card.tone.addEventListener('click', () => card.command({type: 'tone'}));
  card.hearMix = choices.appendChild(el('button', '', 'Hear mix'));
  card.hearMix.type = 'button';
  card.hearMix.addEventListener('click', () => card.command({type: 'hearMix'}));

  card.channels = body.appendChild(el('div', 'channels'));
  card.rows = [];
  const foot = body.appendChild(el('div', 'foot'));
  foot.appendChild(el('span', 'foot-label', 'Mix'));
  card.mix = foot.appendChild(meter());
  card.monLabel = foot.appendChild(el('span', 'foot-label'));
  card.mon = foot.appendChild(meter());
  document.getElementById('recorders').appendChild(card);
  return card;
}

function show(m) {
  let card = cards.get(m.id);
  if (!card) cards.set(m.id, card = makeCard(m.id));
  setText(card.label, m.label);
  const s = m.connected ? m.status : null;
  card.state = s;
  card.classList.toggle('gone', !s);
  if (!s) {
    setText(card.device, '');
    return;
  }
  setText(card.device, s.device ? s.device + ' · ' + s.rate / 1000 + ' kHz' : 'no interface');
  if (card.record.dataset.confirm !== '1') setText(card.record, s.recording ? 'STOP' : 'RECORD');
  card.record.classList.toggle('recording', s.recording);
  card.record.disabled = !s.running && !s.recording;
  setText(card.elapsed, s.recording ? clock(s.elapsed) : '00:00:00');
  const left = s.timeLeft;
  setText(card.left, s.diskAnswering === false ? 'disk not answering'
                     : left === undefined || left < 0 ? '' : remainingText(left));
  card.left.className = 'left ' + (s.diskAnswering === false || (left >= 0 && left < 120) ? 'red'
                                   : left >= 0 && left < 600 ? 'yellow' : '');
  setText(card.folder, s.recording ? s.folder : '');
  setText(card.status, s.status);
  card.status.classList.toggle('failure', s.failure === true);

  fillPicker(card.input.select, s.devices.inputs, s.inputUID);
  fillPicker(card.output.select, s.devices.outputs, s.outputUID);
  card.input.select.disabled = card.output.select.disabled = s.recording;
  card.hearMix.disabled = !s.inputs.some(ch => ch.solo);

  while (card.rows.length > s.inputs.length) card.rows.pop().remove();
  while (card.rows.length < s.inputs.length)
    card.rows.push(card.channels.appendChild(channelRow(card, card.rows.length)));
  s.inputs.forEach((ch, n) => card.rows[n].update(ch, s.recording));
  card.mix.setPeak(s.mixPeak);
  setText(card.monLabel, s.monLabel);
  card.mon.setPeak(s.monPeak);
}

function connect() {
  const scheme = location.protocol === 'https:' ? 'wss://' : 'ws://';
  const url = scheme + location.host + '/socket' + (key ? '?key=' + encodeURIComponent(key) : '');
  socket = new WebSocket(url);
  const state = document.getElementById('room-state');
  socket.onopen = () => {
    // The room tells a new page of every recorder it knows; a room started
    // again may know others, by other numbers.
    for (const card of cards.values()) card.remove();
    cards.clear();
    setText(state, '');
  };
  socket.onmessage = e => {
    let m;
    try { m = JSON.parse(e.data); } catch (_) { return; }
    if (m && m.type === 'recorder') show(m);
    if (m && m.type === 'forget' && cards.has(m.id)) {
      cards.get(m.id).remove();
      cards.delete(m.id);
    }
  };
  socket.onclose = () => {
    socket = null;
    setText(state, 'The room is not answering; trying again…');
    setTimeout(connect, 2000);
  };
}

document.getElementById('record-all').addEventListener('click',
  () => send({type: 'recordAll', on: true}));
const stopAll = document.getElementById('stop-all');
stopAll.addEventListener('click', guardedStop(stopAll, () => send({type: 'recordAll', on: false}),
                                              () => 'Stop all'));
connect();
