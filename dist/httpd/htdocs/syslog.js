// The syslog search: time, router, level and text over the store, with the
// counts chart.
"use strict";

(() => {
  const { t, el, translate } = quellin;
  translate();
  const level = document.getElementById("level");
  level.append(el("option", t("all"), { value: "" }));
  for (let i = 0; i < 8; ++i) level.append(el("option", String(i), { value: String(i) }));
  const seconds = (input) => (input.value ? String(Math.floor(new Date(input.value).getTime() / 1000)) : "");
  const search = (event) => {
    if (event) event.preventDefault();
    const query = new URLSearchParams();
    const since = seconds(document.getElementById("since"));
    query.set("since", since || String(Math.floor(Date.now() / 1000) - 86400));
    const until = seconds(document.getElementById("until"));
    if (until) query.set("until", until);
    for (const key of ["router", "level", "text"]) {
      const value = document.getElementById(key).value.trim();
      if (value) query.set(key, value);
    }
    document.getElementById("error").textContent = "";
    quellinSyslog.show("/api/syslog?" + query.toString(), document.getElementById("results"),
      document.getElementById("chart")).catch((e) => { document.getElementById("error").textContent = e.message; });
  };
  document.getElementById("search").addEventListener("submit", search);
  search();
})();
