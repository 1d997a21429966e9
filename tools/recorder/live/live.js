// The live view: follows the recorder's feed (server-sent events, about ten
// a second) and shows it; adds markers.
'use strict';
(function () {
  const key = document.body.dataset.key;
  const query = '?key=' + encodeURIComponent(key);
  const windowSeconds = 10;
  const $ = (id) => document.getElementById(id);

  // Chart rows: [time, finger pressure, systolic, mean, diastolic]; the
  // beat values only on the row where a beat's values arrive.
  const rows = [];
  const markers = [];  // {time, label}
  let lastTime = 0;
  let ended = false;
  let hcuNote = '';  // the module's last message on the HCU, e.g. that it is not zeroed
  let hcuPressure = null;

  const fixed = (value, decimals) => (value == null ? '\u2013' : value.toFixed(decimals));
  const clock = (seconds) => {
    if (seconds == null) return '\u2013';
    const whole = Math.max(0, Math.round(seconds));
    return Math.floor(whole / 60) + ':' + String(whole % 60).padStart(2, '0');
  };
  const setText = (id, text) => {
    const element = $(id);
    if (element.textContent !== text) element.textContent = text;
  };

  const chart = new Dygraph($('chart'), [[0, null, null, null, null]], {
    labels: ['Time (s)', 'Finger pressure', 'Systolic', 'Mean', 'Diastolic'],
    colors: ['#1f4e9c', '#c62828', '#6a1b9a', '#2e7d32'],
    series: {
      Systolic: { strokeWidth: 0, drawPoints: true, pointSize: 4 },
      Mean: { strokeWidth: 0, drawPoints: true, pointSize: 3 },
      Diastolic: { strokeWidth: 0, drawPoints: true, pointSize: 4 },
    },
    ylabel: 'mmHg',
    xlabel: 'seconds',
    labelsDiv: $('legend'),
    labelsSeparateLines: true,
    legend: 'always',
    dateWindow: [0, windowSeconds],
    interactionModel: {},
    underlayCallback: (context, area, graph) => {
      context.save();
      context.strokeStyle = '#3949ab';
      context.fillStyle = '#3949ab';
      context.font = '12px sans-serif';
      markers.forEach((marker, index) => {
        const x = graph.toDomXCoord(marker.time);
        if (x < area.x || x > area.x + area.w) return;
        context.beginPath();
        context.moveTo(x, area.y);
        context.lineTo(x, area.y + area.h);
        context.stroke();
        // Markers close together keep their labels apart.
        context.fillText(marker.label, x + 3, area.y + 14 + 15 * (index % 4));
      });
      context.restore();
    },
  });
  // For whoever inspects the page (the browser test among them).
  window.corvaneChart = chart;

  function showBeat(time, beat) {
    $('beat').dataset.time = time.toFixed(3);
    setText('systolic', fixed(beat[0], 0));
    setText('mean', fixed(beat[1], 0));
    setText('diastolic', fixed(beat[2], 0));
    setText('hr', fixed(beat[3], 0));
  }

  function addRows(received) {
    if (received.length === 0) return;
    for (const row of received) {
      const beat = row.length > 2 ? row.slice(2) : null;
      rows.push([row[0], row[1], beat ? beat[0] : null, beat ? beat[1] : null, beat ? beat[2] : null]);
      if (beat) showBeat(row[0], beat);
      lastTime = row[0];
    }
    let old = 0;
    while (old < rows.length && rows[old][0] < lastTime - windowSeconds) ++old;
    if (old > 0) rows.splice(0, old);
    const from = Math.max(0, lastTime - windowSeconds);
    chart.updateOptions({ file: rows, dateWindow: [from, from + windowSeconds] });
  }

  function addBanner(kind, text) {
    const banner = document.createElement('div');
    banner.className = 'banner banner-' + kind;
    banner.dataset.kind = kind;
    banner.textContent = text;
    $('banners').appendChild(banner);
  }

  function showEvent(event) {
    const at = '[' + fixed(event.time, 1) + ' s] ';
    if (event.kind === 'marker') {
      markers.push({ time: event.time, label: event.text });
      addBanner('marker', at + event.text + ' (' + event.source + ')');
      chart.updateOptions({});
    } else if (event.kind === 'abort') {
      addBanner('abort', at + 'The device aborted the recording: ' + event.text);
    } else {
      addBanner(event.kind, at + event.text);
      if (/\bHCU\b/.test(event.text)) {
        hcuNote = event.text;
        showHcu();
      }
    }
  }

  function showDevice(device) {
    if (!device) return;
    setText('generation', device.generation || '\u2013');
    setText('port', device.port || '\u2013');
    setText('serial', device.serial || '\u2013');
    setText('firmware', device.firmware || '\u2013');
  }

  function showStatus(status) {
    setText('elapsed', fixed(status.elapsed, 1) + ' s');
    setText('remaining', status.remaining == null ? 'until stopped' : clock(status.remaining));
    setText('cuff', status.cuff);
    setText('switch', status.switchIn == null ? 'no switching' : clock(status.switchIn));
    hcuPressure = status.hcuPressure;
    showHcu();
    setText('lost', String(status.lostFrames));
    setText('gaps', String(status.gaps));
    setText('rows', String(status.rows));
  }

  function showHcu() {
    setText('hcu', fixed(hcuPressure, 1) + ' mmHg' + (hcuNote ? ' (' + hcuNote + ')' : ''));
  }

  function showProgress(progress) {
    const open = progress != null && !progress.closed;
    $('progress').hidden = !open;
    if (!open) return;
    setText('progress-title', progress.title);
    $('progress-bar').value = progress.percent;
    setText('progress-percent', progress.percent + '%');
    setText('progress-text', progress.text);
  }

  function setState(text, kind) {
    const state = $('state');
    setText('state', text);
    state.className = 'state ' + kind;
  }

  const source = new EventSource('events' + query);
  source.onmessage = (message) => {
    const update = JSON.parse(message.data);
    showDevice(update.device);
    showProgress(update.progress);
    if (update.status) showStatus(update.status);
    addRows(update.rows);
    update.events.forEach(showEvent);
    if (update.end) {
      ended = true;
      source.close();
      setState('Recording ended: ' + update.end.outcome, 'ended');
      setText('outcome', update.end.outcome);
      setText('summary', update.end.summary);
      $('ended').hidden = false;
      $('marker-button').disabled = true;
    } else if (lastTime > 0) {
      setState('Recording', 'recording');
    } else if (update.progress && !update.progress.closed) {
      setState(update.progress.title, 'waiting');
    } else {
      setState('Waiting for the recording to start', 'waiting');
    }
  };
  source.onerror = () => {
    if (ended) return;
    setState(source.readyState === EventSource.CLOSED ? 'The recorder refused the view'
                                                      : 'Connection to the recorder lost', 'lost');
  };

  $('marker-form').addEventListener('submit', async (event) => {
    event.preventDefault();
    const text = $('marker-text').value;
    try {
      const reply = await fetch('marker' + query, {
        method: 'POST',
        headers: { 'Content-Type': 'text/plain;charset=UTF-8' },
        body: text,
      });
      if (reply.ok) {
        const marker = await reply.json();
        setText('marker-result', 'Marker ' + marker.number + ' added');
        $('marker-text').value = '';
      } else {
        setText('marker-result', 'Not added: ' + (await reply.text()).trim());
      }
    } catch (error) {
      setText('marker-result', 'Not added: the recorder cannot be reached');
    }
  });
})();
