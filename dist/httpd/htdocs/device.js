// A device's page: its registration (never a password), its configuration
// history with coloured diffs, its drift, its operation log's tail and its
// syslog of the last day.
"use strict";

(async () => {
  const { t, el, getJson, localTime, translate, diffBlock } = quellin;
  translate();
  const name = new URLSearchParams(location.search).get("name") || "";
  document.getElementById("device-name").textContent = name;
  const base = "/api/devices/" + encodeURIComponent(name);
  const fail = (e) => { document.getElementById("error").textContent = e.message; };
  let device;
  try {
    device = await getJson(base);
  } catch (e) {
    return fail(e);
  }
  const registration = document.getElementById("registration");
  for (const [word, value] of [["name", device.name], ["address", device.address], ["configFile", device.config_file],
    ["model", device.model], ["version", device.version], ["verdict", t(device.verdict)],
    ["lastConfig", localTime(device.last_config)], ["lastFirmware", localTime(device.last_firmware)],
    ["lastLog", localTime(device.last_log)], ["backup", localTime(device.backup_time)]]) {
    const tr = el("tr");
    tr.append(el("th", t(word)), el("td", value));
    registration.append(tr);
  }
  const drift = document.getElementById("drift");
  drift.append(device.stored_drift ? diffBlock(device.stored_drift) : el("p", t("noDrift")));
  document.getElementById("log").textContent = device.log_tail.join("\n");

  const showDiff = async (from, to) => {
    try {
      const query = from ? "?from=" + encodeURIComponent(from) + (to ? "&to=" + encodeURIComponent(to) : "") : "";
      const diff = await getJson(base + "/diff" + query);
      document.getElementById("diff").replaceChildren(diffBlock(diff.diff));
    } catch (e) {
      fail(e);
    }
  };
  try {
    const versions = await getJson(base + "/history");
    const table = document.getElementById("history");
    const head = el("tr");
    for (const word of ["time", "commit", "added", "removed", "showDiff"]) head.append(el("th", t(word)));
    table.append(head);
    versions.forEach((v, i) => {
      const tr = el("tr");
      tr.append(el("td", localTime(v.time)), el("td", v.commit.slice(0, 12)), el("td", v.added), el("td", v.removed));
      const button = el("button", t("showDiff"), { class: "show-diff" });
      const before = versions[i + 1];
      button.addEventListener("click", () => (before ? showDiff(before.commit, v.commit) : showDiff("", "")));
      const cell = el("td");
      cell.append(button);
      tr.append(cell);
      table.append(tr);
    });
  } catch (e) {
    fail(e);
  }
  if (device.address) {
    const since = Math.floor(Date.now() / 1000) - 86400;
    quellinSyslog.show("/api/syslog?router=" + encodeURIComponent(device.address) + "&since=" + since + "&unit=hour",
      document.getElementById("syslog"), document.getElementById("chart")).catch(fail);
  }
})();
