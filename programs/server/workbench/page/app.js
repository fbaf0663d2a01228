"use strict";
// The workbench page. Every text from the server goes in as textContent, never as markup:
// lines come from games and clients, not from us.
const WORDS = {
  ko: {
    game: "게임", live: "실시간", history: "기록", search: "검색", dict: "사전", status: "상태",
    share: "공유", liveEmpty: "아직 번역한 줄이 없습니다. 게임에서 문장이 나오면 여기에 보입니다.",
    unavailable: "기록을 쓸 수 없습니다(이 서버에는 기록 기능이 없습니다).", more: "더 보기",
    allGames: "모든 게임", searchGo: "찾기", addName: "이름 추가", nameFrom: "원문 이름",
    nameTo: "한국어 이름", sample: "예문({}에 이름이 들어갑니다)", preview: "미리 보기:",
    save: "저장", problems: "사전의 문제", entries: "쓰이는 항목", engineFolder: "엔진 폴더",
    record: "엔진 폴더로 기록", workers: "작업 프로세스", quarantined: "격리된 줄",
    events: "서버 기록", export: "내보내기", exportXunity: "XUnity 번역 파일(.txt)",
    exportTsv: "표(.tsv)", import: "가져오기", importGo: "가져오기", edit: "고치기",
    cancel: "취소", saving: "저장하는 중…", saved: "저장했습니다. 이제 모든 클라이언트가 이 번역을 받습니다.",
    savedLater: "저장했습니다. 몇 초 안에 적용됩니다.", newLines: "새 줄 {0}개 ↓", common: "(공통)",
    noProblems: "문제가 없습니다.", engineReady: "엔진: 준비됨", engineNot: "엔진: 준비되지 않음",
    pid: "PID", state: "상태", lines: "줄", restarts: "재시작", lastFault: "마지막 문제",
    none: "없음", served: "번역한 줄", imported: "{0}개를 가져왔습니다.", kind: "종류", from: "원래 말",
    to: "바꿀 말", file: "파일", defaultSample: "{}는 {}를 불렀다. {}와 함께 {}으로 갔다.",
    outcome_refused: "번역 안 됨", outcome_quarantined: "격리됨", outcome_hung: "엔진 멈춤",
    outcome_timed_out: "시간 초과", outcome_corrected: "고침", shown: "{0}개 중 {1}개",
    tryPattern: "패턴 시험(저장하지 않습니다)", patternSample: "예문", tryGo: "시험",
    patternNoMatch: "맞는 곳이 없어 그대로입니다.",
    patternSteps: "이 줄에서는 건너뜁니다: 찾는 데 단계가 너무 많이 걸립니다.",
    patternTooLong: "이 줄에서는 건너뜁니다: 바꾼 문장이 너무 깁니다.",
  },
  en: {
    game: "Game", live: "Live", history: "History", search: "Search", dict: "Dictionary",
    status: "Status", share: "Share", liveEmpty: "No line translated yet. Lines show here as the game shows them.",
    unavailable: "The history is unavailable (this server keeps none).", more: "More",
    allGames: "All games", searchGo: "Search", addName: "Add a name", nameFrom: "Name in the source",
    nameTo: "Korean name", sample: "Sample line ({} is the name)", preview: "Preview:",
    save: "Save", problems: "Dictionary problems", entries: "Entries in use", engineFolder: "Engine folder",
    record: "Record as the engine folder", workers: "Workers", quarantined: "Quarantined lines",
    events: "Server events", export: "Export", exportXunity: "XUnity translation file (.txt)",
    exportTsv: "Table (.tsv)", import: "Import", importGo: "Import", edit: "Correct",
    cancel: "Cancel", saving: "Saving…", saved: "Saved. Every client now gets this translation.",
    savedLater: "Saved. It applies within a few seconds.", newLines: "{0} new lines ↓", common: "(common)",
    noProblems: "No problems.", engineReady: "Engine: ready", engineNot: "Engine: not ready",
    pid: "PID", state: "State", lines: "Lines", restarts: "Restarts", lastFault: "Last fault",
    none: "none", served: "Lines served", imported: "{0} imported.", kind: "Kind", from: "From",
    to: "To", file: "File", defaultSample: "{}는 {}를 불렀다. {}와 함께 {}으로 갔다.",
    outcome_refused: "not translated", outcome_quarantined: "quarantined", outcome_hung: "engine hung",
    outcome_timed_out: "timed out", outcome_corrected: "corrected", shown: "{1} of {0}",
    tryPattern: "Try a pattern (nothing is saved)", patternSample: "Sample line", tryGo: "Try",
    patternNoMatch: "No match: the line stays as it is.",
    patternSteps: "Left out for this line: its search takes too many steps.",
    patternTooLong: "Left out for this line: the result would be too long.",
  },
};
const LANG = document.documentElement.lang === "en" ? "en" : "ko";
const TOKEN = document.querySelector('meta[name="mirelo-token"]').content;
function t(key, ...args) {
  return (WORDS[LANG][key] || key).replace(/\{(\d)\}/g, (_, i) => String(args[+i]));
}
function el(tag, cls, text) {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
}
const $ = (id) => document.getElementById(id);

async function getJson(url, signal) {
  const r = await fetch(url, { cache: "no-store", signal });
  const body = await r.json().catch(() => ({}));
  return { status: r.status, body };
}
// Changes carry the run's token in a header: a page of another site cannot send it.
async function change(url, body, type = "application/json") {
  const r = await fetch(url, {
    method: "POST", headers: { "Content-Type": type, "X-Mirelo-Token": TOKEN },
    body: type === "application/json" ? JSON.stringify(body) : body,
  });
  return { status: r.status, body: await r.json().catch(() => ({})) };
}

let game = null;  // null until the server names the most recent game
let lastId = 0;
let liveRun = 0;

function clock(d) {
  return [d.getHours(), d.getMinutes(), d.getSeconds()].map((n) => String(n).padStart(2, "0")).join(":");
}

function lineItem(line) {
  const li = el("li");
  li.dataset.id = line.id;
  li.dataset.source = line.source;
  li.append(el("div", "src", line.source), el("div", "tr", line.translation));
  const meta = el("div", "meta");
  const when = line.time ? clock(new Date(line.time)) : "";
  meta.append(el("div", "", [when, line.client].filter(Boolean).join(" · ")));
  if (line.outcome && line.outcome !== "translated") {
    meta.append(el("div", "", t("outcome_" + line.outcome)));
    li.classList.add(line.outcome === "corrected" ? "corrected" : "failed");
  }
  const edit = el("button", "edit", t("edit"));
  edit.disabled = !!line.cut;  // kept cut: too long for a correction anyway
  edit.addEventListener("click", () => startEdit(li, line));
  meta.append(edit);
  li.append(meta);
  return li;
}

function startEdit(li, line) {
  if (li.querySelector("textarea")) return;
  const tr = li.querySelector(".tr");
  const box = el("textarea", "edit");
  box.value = tr.textContent;
  const save = el("button", "save", t("save"));
  const cancel = el("button", "", t("cancel"));
  const note = el("span", "result");
  const form = el("div", "editing");
  form.append(box, save, cancel, note);
  tr.hidden = true;
  tr.after(form);
  form.scrollIntoView({ block: "nearest" });
  box.focus();
  cancel.addEventListener("click", () => { form.remove(); tr.hidden = false; });
  save.addEventListener("click", async () => {
    save.disabled = true;
    note.textContent = t("saving");
    note.classList.remove("bad");
    const r = await change("/api/correct",
      { game: line.game || "", source: line.source, translation: box.value });
    save.disabled = false;
    if (r.status !== 200) {
      note.textContent = r.body.error || String(r.status);
      note.classList.add("bad");
      return;
    }
    tr.textContent = box.value;
    form.remove();
    tr.hidden = false;
    li.classList.remove("failed");
    li.classList.add("corrected");
    // Every line of the same source on the page shows the correction too.
    for (const other of document.querySelectorAll("li[data-source]"))
      if (other !== li && other.dataset.source === line.source)
        other.querySelector(".tr").textContent = box.value;
    li.querySelector(".meta").append(el("div", "result", r.body.in_use ? t("saved") : t("savedLater")));
  });
}

// Live: the page keeps one request open; the server answers it when a line of the game comes.
const liveList = $("live-lines");
const liveTab = $("live");
let unseen = 0;
function atBottom() { return liveTab.scrollHeight - liveTab.scrollTop - liveTab.clientHeight < 40; }
function addLive(lines) {
  const follow = atBottom();
  for (const line of lines) liveList.append(lineItem(line));
  while (liveList.children.length > 1000) liveList.firstElementChild.remove();
  $("live-empty").hidden = liveList.children.length > 0;
  if (follow) {
    liveTab.scrollTop = liveTab.scrollHeight;
  } else if (lines.length) {
    unseen += lines.length;
    $("to-bottom").textContent = t("newLines", unseen);
    $("to-bottom").hidden = false;
  }
}
liveTab.addEventListener("scroll", () => {
  if (atBottom()) { unseen = 0; $("to-bottom").hidden = true; }
});
$("to-bottom").addEventListener("click", () => { liveTab.scrollTop = liveTab.scrollHeight; });

function showGames(games) {
  const select = $("game");
  const names = new Set([...select.options].map((o) => o.value));
  for (const g of games) {
    if (names.has(g)) continue;
    const o = el("option", "", g || t("common"));
    o.value = g;
    select.append(o);
    names.add(g);
  }
  if (game !== null) select.value = game;
}

let liveAbort = null;
async function live() {
  const run = ++liveRun;
  // The request of the game shown before is not left waiting on the server.
  if (liveAbort) liveAbort.abort();
  const abort = liveAbort = new AbortController();
  liveList.replaceChildren();
  const first = await getJson("/api/live" + (game === null ? "" : "?game=" + encodeURIComponent(game)));
  if (run !== liveRun) return;
  game = first.body.game ?? "";
  lastId = first.body.last || 0;
  showGames(first.body.games || []);
  // Games kept in the history from earlier runs can be read, searched and shared too.
  const kept = await getJson("/api/games");
  if (run !== liveRun) return;
  if (kept.status === 200) showGames((kept.body.games || []).map((g) => g.game));
  addLive(first.body.lines || []);
  while (run === liveRun) {
    try {
      const r = await getJson(`/api/live?after=${lastId}&game=${encodeURIComponent(game)}`, abort.signal);
      if (run !== liveRun) return;
      if (r.status !== 200) throw new Error(String(r.status));
      lastId = Math.max(lastId, r.body.last || 0);
      showGames(r.body.games || []);
      addLive(r.body.lines || []);
    } catch (e) {
      await new Promise((done) => setTimeout(done, 1000));
    }
  }
}

// History and search: the history's own routes; a server without them answers 404.
function unavailable(tab, yes) {
  $(tab).querySelector(".unavailable").hidden = !yes;
}
let historyBefore = "";
async function history(more) {
  const list = $("history-lines");
  if (!more) { list.replaceChildren(); historyBefore = ""; }
  const q = `?game=${encodeURIComponent(game ?? "")}&limit=100` + (historyBefore ? `&before=${historyBefore}` : "");
  const r = await getJson("/api/history" + q);
  unavailable("history", r.status === 404);
  // A history that cannot be read says so: an empty list would claim there are no lines.
  if (r.status !== 200) {
    if (r.status !== 404) list.append(el("li", "note", r.body.error || String(r.status)));
    return;
  }
  const lines = r.body.lines || [];
  for (const line of lines) list.append(lineItem(line));
  if (lines.length) historyBefore = lines[lines.length - 1].id;
  $("history-more").hidden = lines.length < 100;
}
$("history-more").addEventListener("click", () => history(true));

$("search-form").addEventListener("submit", async (e) => {
  e.preventDefault();
  const q = $("search-q").value.trim();
  if (!q) return;
  const scope = $("search-all").checked ? "" : `&game=${encodeURIComponent(game ?? "")}`;
  const r = await getJson(`/api/search?q=${encodeURIComponent(q)}${scope}&limit=200`);
  unavailable("search", r.status === 404);
  $("search-lines").replaceChildren(...(r.status === 200 ? (r.body.lines || []).map(lineItem)
    : r.status !== 404 ? [el("li", "note", r.body.error || String(r.status))] : []));
});

// Dictionary: what is in use for the game, its problems, and a name added with a preview.
async function dictionary() {
  const r = await getJson("/api/dictionary?game=" + encodeURIComponent(game ?? ""));
  if (r.status !== 200) return;
  const problems = $("dict-problems");
  problems.replaceChildren(...(r.body.problems || []).map((p) =>
    el("li", "", (p.scope ? p.scope + ": " : "") + p.text)));
  if (!problems.children.length) problems.append(el("li", "note", t("noProblems")));
  const folders = $("dict-folders");
  folders.replaceChildren();
  for (const f of r.body.folders || []) {
    folders.append(el("h3", "", (f.scope || t("common")) + " — " + f.folder));
    const counts = Object.entries(f.counts || {}).map(([k, n]) => `${k} ${n}`).join(", ");
    folders.append(el("p", "note", counts + (f.entries.length < f.total ? " · " + t("shown", f.total, f.entries.length) : "")));
    const table = el("table");
    const head = el("tr");
    for (const k of ["kind", "from", "to", "file"]) head.append(el("th", "", t(k)));
    table.append(head);
    for (const e of f.entries) {
      const row = el("tr", e.overridden ? "overridden" : "");
      row.append(el("td", "", e.kind), el("td", "", e.from), el("td", "", e.to), el("td", "", `${e.file}:${e.line}`));
      table.append(row);
    }
    folders.append(table);
  }
}
$("name-sample").value = t("defaultSample");
let previewTimer = 0;
function preview() {
  clearTimeout(previewTimer);
  previewTimer = setTimeout(async () => {
    const name = $("name-to").value.trim();
    if (!name) { $("name-preview").textContent = ""; return; }
    const r = await getJson(`/api/preview?name=${encodeURIComponent(name)}&sample=${encodeURIComponent($("name-sample").value)}`);
    $("name-preview").textContent = r.body.line || "";
  }, 150);
}
$("name-to").addEventListener("input", preview);
$("name-sample").addEventListener("input", preview);
$("name-form").addEventListener("submit", async (e) => {
  e.preventDefault();
  const r = await change("/api/name", { game: game ?? "", from: $("name-from").value.trim(), to: $("name-to").value.trim() });
  const out = $("name-result");
  out.classList.toggle("bad", r.status !== 200);
  out.textContent = r.status === 200 ? r.body.file : (r.body.error || String(r.status));
  if (r.status === 200) setTimeout(dictionary, 1200);
});

// A pattern tried on a sample line as the plug-in would run it; nothing is saved.
$("pattern-form").addEventListener("submit", async (e) => {
  e.preventDefault();
  const q = ["kind", "from", "to", "sample"]
    .map((k) => `${k}=${encodeURIComponent($("pattern-" + k).value)}`).join("&");
  const r = await getJson("/api/try-pattern?" + q);
  const problems = r.body.problems || [];
  const out = $("pattern-result");
  out.classList.toggle("bad", r.status !== 200 || problems.length > 0 || !!r.body.skipped);
  out.textContent = r.status !== 200 ? (r.body.error || String(r.status))
    : problems.length ? problems.join(" / ")
    : r.body.skipped ? t(r.body.skipped === "steps" ? "patternSteps" : "patternTooLong")
    : r.body.replaced.length ? r.body.line : t("patternNoMatch");
});

// Status: the server's /status, and for an engine not found the same advice as --diagnose.
async function status() {
  const [s, d] = await Promise.all([getJson("/status"), getJson("/api/status")]);
  const st = s.body;
  const engine = $("engine");
  engine.replaceChildren(
    el("p", st.engine_ready ? "" : "state-bad", st.engine_ready ? t("engineReady") : t("engineNot") + (st.plugin_problem ? ": " + st.plugin_problem : "")),
    el("p", "note", `${t("served")}: ${st.lines_served ?? 0}`));
  $("advice").hidden = !!st.engine_ready && d.body.ready;
  $("advice-report").textContent = d.body.report || "";
  const workers = $("workers");
  const head = el("tr");
  for (const k of ["pid", "state", "lines", "restarts", "lastFault"]) head.append(el("th", "", t(k)));
  workers.replaceChildren(head);
  for (const w of st.workers || []) {
    const row = el("tr");
    for (const v of [w.pid, w.state, w.lines, w.restarts, w.last_fault || ""]) row.append(el("td", "", String(v)));
    workers.append(row);
  }
  const q = $("quarantined");
  q.replaceChildren(...(d.body.quarantined || []).map((l) => {
    const item = el("li", "", l.line);
    item.append(el("span", "game-of", ` — ${t("game")}: ${l.game || t("common")}`));
    return item;
  }));
  if (!q.children.length) q.append(el("li", "note", t("none")));
  const events = (st.events || []).slice(-500).reverse();
  $("events").replaceChildren(...events.map((e) => el("li", "", `${e.time} [${e.kind}] ${e.text}`)));
}
$("engine-form").addEventListener("submit", async (e) => {
  e.preventDefault();
  const r = await change("/api/engine-folder", { folder: $("engine-folder").value.trim() });
  $("engine-result").textContent = r.body.report || r.body.error || String(r.status);
  $("engine-result").classList.toggle("bad", r.status !== 200);
  setTimeout(status, 1500);
});

// Share: the history's export and import.
async function share() {
  const g = encodeURIComponent(game ?? "");
  $("export-xunity").href = `/api/export?game=${g}&format=xunity`;
  $("export-tsv").href = `/api/export?game=${g}&format=tsv`;
  unavailable("share", (await getJson("/api/games")).status === 404);
}
$("import-form").addEventListener("submit", async (e) => {
  e.preventDefault();
  const file = $("import-file").files[0];
  if (!file) return;
  const type = file.name.endsWith(".json") ? "application/json"
    : file.name.endsWith(".tsv") ? "text/tab-separated-values" : "text/plain";
  const r = await fetch(`/api/import?game=${encodeURIComponent(game ?? "")}`, {
    method: "POST", headers: { "Content-Type": type, "X-Mirelo-Token": TOKEN }, body: await file.text() });
  const body = await r.json().catch(() => ({}));
  unavailable("share", r.status === 404);
  $("import-result").textContent = r.status === 200 ? t("imported", body.imported) : (body.error || String(r.status));
});

const loaders = { live, history: () => history(false), search: () => {}, dict: dictionary, status, share };
let current = "live";
function show(tab) {
  current = tab;
  for (const b of document.querySelectorAll("#tabs button")) b.classList.toggle("on", b.dataset.tab === tab);
  for (const s of document.querySelectorAll(".tab")) s.classList.toggle("on", s.id === tab);
  if (tab !== "live") loaders[tab]();
}
for (const b of document.querySelectorAll("#tabs button")) b.addEventListener("click", () => show(b.dataset.tab));
$("game").addEventListener("change", () => {
  game = $("game").value;
  live();
  if (current !== "live") loaders[current]();
});
for (const e of document.querySelectorAll("[data-t]")) e.textContent = t(e.dataset.t);
$("search-q").placeholder = t("search");
setInterval(() => { if (current === "status") status(); }, 2000);
live();
