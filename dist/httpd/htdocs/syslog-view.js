// The syslog store's answer shown: the messages as a table and the counts
// per time bucket as a bar chart drawn on a canvas, levels stacked.
"use strict";

const quellinSyslog = (() => {
  const { t, el, getJson, localTime } = quellin;
  const colours = ["#700", "#a00", "#d00", "#e60", "#db0", "#4a4", "#48c", "#999"];

  const chart = (canvas, counts) => {
    const g = canvas.getContext("2d");
    g.clearRect(0, 0, canvas.width, canvas.height);
    const totals = counts.map((c) => c.levels.reduce((a, b) => a + b, 0));
    const most = Math.max(1, ...totals);
    const width = canvas.width / Math.max(1, counts.length);
    const height = canvas.height - 16;
    counts.forEach((c, i) => {
      let y = height;
      c.levels.forEach((n, level) => {
        const h = (n / most) * (height - 4);
        g.fillStyle = colours[level];
        g.fillRect(i * width + 1, y - h, Math.max(1, width - 2), h);
        y -= h;
      });
    });
    g.fillStyle = "#222";
    g.font = "11px sans-serif";
    g.fillText(t("counts") + " max " + most, 4, canvas.height - 3);
    canvas.dataset.buckets = String(counts.length);
    canvas.dataset.total = String(totals.reduce((a, b) => a + b, 0));
  };

  const show = async (url, table, canvas) => {
    const answer = await getJson(url);
    const head = el("tr");
    for (const word of ["time", "router", "level", "text"]) head.append(el("th", t(word)));
    table.replaceChildren(head);
    if (answer.messages.length === 0) {
      const tr = el("tr");
      tr.append(el("td", t("none"), { colspan: "4" }));
      table.append(tr);
    }
    for (const m of answer.messages) {
      const tr = el("tr");
      tr.append(el("td", localTime(m.time)), el("td", m.source), el("td", m.level), el("td", m.text));
      table.append(tr);
    }
    chart(canvas, answer.counts);
  };

  return { show };
})();
