// The fleet page: every registered device with its last inventory, backup
// and drift, sortable and filterable, with counts per verdict.
"use strict";

(async () => {
  const { t, el, getJson, localTime, translate, sortableTable } = quellin;
  translate();
  let devices;
  try {
    devices = await getJson("/api/devices");
  } catch (e) {
    document.getElementById("error").textContent = e.message;
    return;
  }
  const rows = devices.map((d) => ({ ...d, inventory: localTime(d.inventory_time), backup: localTime(d.backup_time) }));
  const counts = new Map();
  for (const d of rows) counts.set(d.verdict, (counts.get(d.verdict) || 0) + 1);
  const countBox = document.getElementById("counts");
  const verdictSelect = document.getElementById("filter-verdict");
  verdictSelect.append(el("option", t("all"), { value: "*" }));
  for (const [verdict, n] of counts) {
    countBox.append(el("span", t(verdict) + ": " + n, { "data-verdict": verdict }));
    verdictSelect.append(el("option", t(verdict), { value: verdict }));
  }
  const columns = [
    { key: "name", word: "name" }, { key: "address", word: "address" }, { key: "model", word: "model" },
    { key: "version", word: "version" }, { key: "verdict", word: "verdict" },
    { key: "inventory", word: "inventoryTime" }, { key: "backup", word: "backup" },
    { key: "drift", word: "drift" }, { key: "last_log_line", word: "lastLine" },
  ];
  const table = sortableTable(document.getElementById("fleet"), columns, rows, (d) => {
    const tr = el("tr", null, { class: "verdict-" + (d.verdict || "none") });
    const link = el("a", d.name, { href: "device.html?name=" + encodeURIComponent(d.name) });
    tr.append(el("td"));
    tr.firstChild.append(link);
    for (const text of [d.address, d.model, d.version, t(d.verdict), d.inventory,
      d.backup + (d.backup_commit ? " " + d.backup_commit.slice(0, 12) : ""),
      d.drift ? t(d.drift) : "", d.last_log_line]) tr.append(el("td", text));
    return tr;
  });
  const nameBox = document.getElementById("filter-name");
  const modelBox = document.getElementById("filter-model");
  const filter = () => {
    const name = nameBox.value.toLowerCase(), model = modelBox.value.toLowerCase(), verdict = verdictSelect.value;
    table.show(rows.filter((d) => d.name.toLowerCase().includes(name) && d.model.toLowerCase().includes(model) &&
      (verdict === "*" || d.verdict === verdict)));
  };
  for (const box of [nameBox, modelBox, verdictSelect]) box.addEventListener("input", filter);
})();
