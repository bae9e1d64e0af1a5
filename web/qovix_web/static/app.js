// The browser view: each view drawn from the JSON API. Everything the
// repository holds is user data, so it only ever becomes text (textContent,
// attribute values), never markup.
"use strict";

const view = document.getElementById("view");
const PAGE = 100;

// Who is signed in, how they sign in here, and what they may do: the page
// shows its edit controls to writers alone (qovixd refuses anyone else's
// changes all the same).
let me = { user: null, signIn: null, access: "none" };
const canWrite = () => me.access === "write";

// An element made with its attributes and children (strings become text).
function make(tag, attributes = {}, ...children) {
  const made = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value !== undefined && value !== null) made.setAttribute(name, value);
  }
  for (const child of children) {
    if (child !== null && child !== undefined) {
      made.append(typeof child === "string" ? document.createTextNode(child) : child);
    }
  }
  return made;
}

// Asks the API; a change sends `body` as JSON, or `bytes` (a file) as they are.
async function api(path, change) {
  const asked = { headers: { Accept: "application/json" } };
  if (change) {
    // A change says it comes from this page's script: no other site can.
    asked.method = change.method;
    asked.headers["X-Qovix-Request"] = "1";
    const raw = change.bytes !== undefined;
    asked.headers["Content-Type"] = raw ? "application/octet-stream" : "application/json";
    asked.body = raw ? change.bytes : JSON.stringify(change.body);
  }
  const answer = await fetch(path, asked);
  if (answer.status === 401 && me.signIn && path !== "/api/session") {
    showSignIn();  // the session ended
    throw new Error("sign in first");
  }
  if (!answer.ok) {
    let why = answer.statusText;
    try { why = (await answer.json()).detail || why; } catch (ignored) { /* not JSON */ }
    throw new Error(why);
  }
  return answer.json();
}

// A link to an element's page, showing its class and name.
function link(element) {
  if (!element) return make("span", { class: "none" }, "none");
  const shown = element.name === null || element.name === "" ? `#${element.number}` : element.name;
  return make("a", { href: `/element/${element.number}`, "data-number": element.number },
    make("span", { class: "kind" }, element.class), make("span", { class: "name" }, shown));
}

function linkList(members, count) {
  const list = make("ul", { class: "links" });
  for (const member of members) list.append(make("li", {}, link(member)));
  if (count > members.length) list.append(make("li", { class: "none" }, `… ${count - members.length} more`));
  return list;
}

function errorView(error) {
  return { title: "QOVIX", parts: [make("p", { class: "error", role: "alert" },
    String(error.message || error))] };
}

// Navigation within the page: addresses stay real, so they can be sent on.
function go(path, replace = false) {
  if (replace) history.replaceState({}, "", path); else history.pushState({}, "", path);
  route();
}

document.addEventListener("click", (event) => {
  const anchor = event.target.closest("a[href]");
  if (!anchor || event.ctrlKey || event.metaKey || event.shiftKey || event.button !== 0) return;
  const href = anchor.getAttribute("href") || anchor.getAttribute("xlink:href");
  if (href && (href.startsWith("/element/") || href === "/")) {
    event.preventDefault();
    go(href);
  }
});

window.addEventListener("popstate", () => route());

document.getElementById("search").addEventListener("submit", (event) => {
  event.preventDefault();
  const name = document.getElementById("search-name").value;
  const kind = document.getElementById("search-class").value;
  go(`/search?${new URLSearchParams({ name, class: kind })}`);
});

// The model tree ----------------------------------------------------------

function treeItem(element) {
  const item = make("li", { role: "treeitem", tabindex: "-1", "data-name": element.name || "" });
  const children = make("ul", { role: "group", hidden: "" });
  let loaded = 0;
  let toggle = null;
  if (element.contains === undefined || element.contains > 0) {
    item.setAttribute("aria-expanded", "false");
    toggle = make("button", { class: "toggle", "aria-expanded": "false", tabindex: "-1",
      "aria-label": `Open ${element.name || element.class}` }, "▸");
    toggle.addEventListener("click", async () => {
      const open = toggle.getAttribute("aria-expanded") === "true";
      toggle.setAttribute("aria-expanded", String(!open));
      item.setAttribute("aria-expanded", String(!open));
      toggle.textContent = open ? "▸" : "▾";
      children.hidden = open;
      if (!open && loaded === 0) loaded = await loadChildren(element.number, children, 0);
    });
  }
  const shown = link(element);
  shown.tabIndex = -1;  // the item takes the focus, as the tree pattern has it
  item.append(toggle || make("span", { class: "leaf" }), shown, children);
  return item;
}

// The tree as WAI-ARIA's tree pattern moves in it: one item takes the
// focus (the others are reached by keys), arrows move and open, Home and
// End go to the ends, and typing a name's first letters goes to it.
const treeKeys = { typed: "", at: 0 };

function visibleItems(tree) {
  return [...tree.querySelectorAll('[role="treeitem"]')].filter((item) => item.offsetParent !== null);
}

function focusItem(tree, item) {
  if (!item) return;
  for (const each of tree.querySelectorAll('[role="treeitem"][tabindex="0"]')) each.tabIndex = -1;
  item.tabIndex = 0;
  item.focus();
}

function treeKey(event) {
  const tree = event.currentTarget;
  const item = event.target.closest('[role="treeitem"]');
  if (!item || event.altKey || event.ctrlKey || event.metaKey) return;
  const items = visibleItems(tree);
  const at = items.indexOf(item);
  const toggle = item.querySelector(":scope > button.toggle");
  const open = item.getAttribute("aria-expanded") === "true";
  const parent = item.parentElement.closest('[role="treeitem"]');
  let handled = true;
  switch (event.key) {
    case "ArrowDown": focusItem(tree, items[at + 1]); break;
    case "ArrowUp": focusItem(tree, items[at - 1]); break;
    case "Home": focusItem(tree, items[0]); break;
    case "End": focusItem(tree, items[items.length - 1]); break;
    case "ArrowRight":
      if (toggle && !open) toggle.click();
      else if (open) focusItem(tree, item.querySelector(':scope > ul > [role="treeitem"]'));
      break;
    case "ArrowLeft":
      if (toggle && open) toggle.click();
      else focusItem(tree, parent);
      break;
    case "Enter":
      if (event.target === item) item.querySelector(":scope > a").click();
      else handled = false;
      break;
    default:
      handled = event.key.length === 1 && event.key !== " " && typeAhead(tree, items, at, event.key);
  }
  if (handled) event.preventDefault();
}

// The next visible item after the focused one whose name begins with what
// was typed in the last half second.
function typeAhead(tree, items, at, key) {
  const now = Date.now();
  treeKeys.typed = (now - treeKeys.at < 500 ? treeKeys.typed : "") + key.toLowerCase();
  treeKeys.at = now;
  const start = treeKeys.typed.length > 1 ? at : at + 1;
  for (let i = 0; i < items.length; i++) {
    const each = items[(start + i) % items.length];
    if (each.dataset.name.toLowerCase().startsWith(treeKeys.typed)) {
      focusItem(tree, each);
      return true;
    }
  }
  return false;
}

async function loadChildren(number, into, offset) {
  const page = await api(`/api/elements/${number}/contents?offset=${offset}&limit=${PAGE}`);
  for (const member of page.members) into.append(treeItem(member));
  const shown = offset + page.members.length;
  if (shown < page.count) {
    const more = make("button", { class: "quiet more" }, `Show more (${page.count - shown} left)`);
    more.addEventListener("click", async () => {
      more.remove();
      await loadChildren(number, into, shown);
    });
    into.append(make("li", {}, more));
  }
  return shown;
}

// The page starts from the repository's last commit: it follows the
// changes after it, then draws the tree and the view, so that no change
// made while it draws goes unseen.
async function start() {
  const tree = document.getElementById("tree");
  tree.addEventListener("keydown", treeKey);
  try {
    me = await api("/api/session");
  } catch (error) {
    view.replaceChildren(...errorView(error).parts);
    return;
  }
  showWho();
  if (me.signIn && !me.user) {
    showSignIn();
    return;
  }
  try {
    const repository = await api("/api/repository");
    followChanges(repository.lastCommit);
    tree.replaceChildren(...repository.roots.map(treeItem));
    const first = tree.querySelector('[role="treeitem"]');
    if (first) first.tabIndex = 0;
  } catch (error) {
    tree.replaceChildren(make("li", { class: "error" }, String(error.message)));
  }
  await route();
}

// Signing in --------------------------------------------------------------

// The header names who is signed in, and whether they only read.
function showWho() {
  const who = document.getElementById("who");
  // Nobody signed in yet, or nothing to say of the web view's own access.
  if (!me.user && (me.signIn || me.access === "write")) return who.replaceChildren();
  const parts = [make("span", { class: "user" }, me.user || "this machine")];
  if (me.access !== "write") parts.push(make("span", { class: "badge" }, me.access === "read" ? "read only" : "no access"));
  if (me.signIn === "password" && me.user) {
    const out = make("button", { type: "button", class: "quiet", "data-action": "sign-out" }, "Sign out");
    out.addEventListener("click", async () => {
      await api("/api/session", { method: "DELETE", body: {} });
      location.assign("/");
    });
    parts.push(out);
  }
  who.replaceChildren(...parts);
}

function showSignIn() {
  document.getElementById("tree").replaceChildren();
  document.title = "Sign in · QOVIX";
  if (me.signIn !== "password") {
    view.replaceChildren(make("h1", {}, "Not signed in"), make("p", { class: "error", role: "alert" },
      "The proxy in front of this web view did not say who you are."));
    return;
  }
  const name = make("input", { type: "text", name: "user", id: "signin-user", autocomplete: "username",
    required: "", maxlength: "64" });
  const password = make("input", { type: "password", name: "password", id: "signin-password",
    autocomplete: "current-password", required: "" });
  const said = make("p", { class: "error", role: "alert" });
  const form = make("form", { class: "card signin" }, make("h1", {}, "Sign in"),
    make("label", { for: "signin-user" }, "Name"), name,
    make("label", { for: "signin-password" }, "Password"), password,
    make("button", { type: "submit" }, "Sign in"), said);
  form.addEventListener("submit", async (event) => {
    event.preventDefault();
    try {
      await api("/api/session", { method: "POST", body: { user: name.value, password: password.value } });
      location.reload();
    } catch (error) {
      said.textContent = String(error.message);
      password.value = "";
      password.focus();
    }
  });
  view.replaceChildren(form);
  name.focus();
}

// Views -------------------------------------------------------------------

const VISIBILITIES = ["public", "protected", "private"];

// A value the page can change in place: visibility and abstractness.
function editableValue(element, feature) {
  const change = async (body, control) => {
    control.disabled = true;
    try {
      await api(`/api/elements/${element.number}`, { method: "PATCH", body });
      await route(true);
    } catch (error) {
      control.disabled = false;
      control.after(make("span", { class: "error", role: "alert" }, ` ${error.message}`));
    }
  };
  if (feature.name === "visibility" && VISIBILITIES.includes(feature.value)) {
    const select = make("select", { "aria-label": "Visibility", name: "visibility" },
      ...VISIBILITIES.map((v) => make("option", v === feature.value ? { value: v, selected: "" }
        : { value: v }, v)));
    select.addEventListener("change", () => change({ visibility: select.value }, select));
    return select;
  }
  if (feature.name === "multiplicity" && feature.kind === "object") {
    const field = make("input", { type: "text", name: "multiplicity", value: feature.text,
      "aria-label": "Multiplicity", placeholder: "1, 0..*, 1..3,5", size: "10" });
    const form = make("form", { class: "inline" }, field, make("button", { type: "submit", class: "quiet" }, "Set"));
    form.addEventListener("submit", (event) => {
      event.preventDefault();
      change({ multiplicity: field.value }, field);
    });
    return form;
  }
  if (feature.name === "isAbstract" && typeof feature.value === "boolean") {
    const box = make("input", feature.value ? { type: "checkbox", checked: "", name: "isAbstract",
      "aria-label": "Abstract" } : { type: "checkbox", name: "isAbstract", "aria-label": "Abstract" });
    box.addEventListener("change", () => change({ isAbstract: box.checked }, box));
    return box;
  }
  return null;
}

function featureValue(feature) {
  if (feature.kind === "value") {
    return feature.value === null || feature.value === ""
      ? make("span", { class: "none" }, "unset")
      : document.createTextNode(String(feature.value));
  }
  if (feature.name === "multiplicity" && feature.kind === "object") {
    return feature.text ? document.createTextNode(feature.text) : make("span", { class: "none" }, "unset");
  }
  if (feature.kind === "object") return link(feature.object);
  if (feature.count === 0) return make("span", { class: "none" }, "empty");
  return linkList(feature.members, feature.count);
}

async function showElement(number) {
  const element = await api(`/api/elements/${number}`);
  const title = `${element.name || "#" + element.number} · ${element.class} · QOVIX`;
  const heading = make("h1", {}, make("span", { class: "kind" }, element.class),
    make("span", { class: "name" }, element.name || `#${element.number}`));
  const path = element.path || (element.owner ? [element.owner] : []);
  const owner = make("nav", { class: "owner breadcrumb", "aria-label": "Where it is" },
    ...path.flatMap((each, i) => [i > 0 ? " › " : null, link(each)]),
    `${path.length ? " · " : ""}object ${element.number}`);
  // The properties a modeller reads, with the common ones edited in place;
  // every feature of the metamodel behind a toggle.
  const byName = Object.fromEntries(element.features.map((f) => [f.name, f]));
  const propertyRows = make("tbody");
  for (const property of element.properties || []) {
    const feature = byName[property.feature];
    const editor = canWrite() && feature && property.kind !== "members" ? editableValue(element, feature) : null;
    const shown = editor || (property.kind === "texts"
      ? make("ul", { class: "links" }, ...property.texts.map((text) => make("li", {}, text)))
      : property.kind === "members" ? linkList(property.members, property.count)
      : featureValue(feature || property));
    propertyRows.append(make("tr", { "data-property": property.label },
      make("th", { scope: "row" }, property.label), make("td", {}, shown)));
  }
  const properties = make("section", { class: "card", "aria-labelledby": "properties-title" },
    make("h2", { id: "properties-title" }, "Properties"), make("table", { class: "features" }, propertyRows));
  const rows = make("tbody");
  const filled = element.features.filter((f) => f.kind !== "members" || f.count > 0);
  for (const feature of filled) {
    rows.append(make("tr", { "data-feature": feature.name }, make("th", { scope: "row" }, feature.name),
      make("td", {}, featureValue(feature))));
  }
  const features = make("details", { class: "card all-features" },
    make("summary", {}, "Show all features"), make("table", { class: "features" }, rows));
  const empty = element.features.length - filled.length;
  if (empty > 0) features.append(make("p", { class: "none" }, `${empty} empty collections not shown`));

  const answers = make("div");
  const queries = make("section", { class: "card queries" }, make("h2", {}, "Derived"),
    ...element.queries.map((query) => {
      const ask = make("button", { class: "quiet", type: "button" }, query);
      ask.addEventListener("click", async () => {
        try {
          const answer = await api(`/api/elements/${number}/queries/${query}`);
          const shown = answer.members ? linkList(answer.members, answer.count)
            : answer.object !== undefined ? link(answer.object)
            : document.createTextNode(String(answer.value));
          answers.replaceChildren(make("h3", {}, query), shown);
        } catch (error) {
          answers.replaceChildren(make("p", { class: "error" }, String(error.message)));
        }
      });
      return ask;
    }), answers);

  const actions = make("div", { class: "actions" });
  const kinds = MADE_IN[element.class];
  if (canWrite()) {
    if (element.features.some((f) => f.name === "name")) actions.append(...renameForm(element));
    if (kinds) actions.append(...createForm(element, kinds));
    // A classifier (what features are typed by) takes both.
    if (element.features.some((f) => f.name === "typedFeature")) {
      actions.append(...supertypeForm(element), ...associationForm(element));
    }
  }
  if (kinds === CONTAINERS) {
    actions.append(make("a", { class: "button quiet", href: `/api/elements/${number}/export?format=xmi`,
      download: "", "data-action": "export" }, "Export XMI"));
    if (canWrite()) actions.append(...importForm(element.number));
  }
  if (canWrite()) actions.append(...deleteControls(element));
  const parts = [heading, owner, actions, properties, features];
  if (element.class === "Package" || element.class === "Model" || element.class === "Subsystem") {
    parts.push(await diagramCard(number));
  }
  parts.push(queries, historyCard(number));
  return { title, parts };
}

// A form behind a button: the button opens it, Cancel puts it away, and a
// submit runs `submit`, which says what went wrong beside the buttons.
function formBehind(label, action, className, fields, submitLabel, submit) {
  const said = make("span", { class: "error", role: "alert" });
  const form = make("form", { class: className, hidden: "" }, ...fields,
    make("button", { type: "submit" }, submitLabel),
    make("button", { type: "button", class: "quiet", "data-action": "cancel" }, "Cancel"), said);
  const open = make("button", { type: "button", class: "quiet", "data-action": action }, label);
  open.addEventListener("click", () => {
    form.hidden = false;
    open.hidden = true;
    fields[0].focus();
  });
  form.querySelector("[data-action=cancel]").addEventListener("click", () => {
    form.hidden = true;
    open.hidden = false;
  });
  form.addEventListener("submit", async (event) => {
    event.preventDefault();
    try {
      await submit();
    } catch (error) {
      said.textContent = String(error.message);
    }
  });
  return [open, form];
}

// Renaming in place: the form shows the name, Save writes it.
function renameForm(element) {
  const field = make("input", { type: "text", name: "name", "aria-label": "New name",
    value: element.name || "" });
  return formBehind("Rename", "rename", "rename", [field], "Save", async () => {
    await api(`/api/elements/${element.number}`, { method: "PATCH", body: { name: field.value } });
    await route(true);
  });
}

// What the page makes in an element of each class.
const CONTAINERS = ["Package", "Class", "Interface", "DataType"];
const MADE_IN = {
  Model: CONTAINERS, Package: CONTAINERS, Subsystem: CONTAINERS,
  Class: ["Attribute", "Operation"], Interface: ["Operation"], DataType: ["Attribute", "Operation"],
};

function createForm(element, kinds) {
  const kind = make("select", { name: "class", "aria-label": "What to make" },
    ...kinds.map((k) => make("option", { value: k }, k)));
  const name = make("input", { type: "text", name: "name", "aria-label": "Its name", required: "" });
  return formBehind("New…", "create", "create", [kind, name], "Make", async () => {
    const made = await api(`/api/elements/${element.number}/elements`,
      { method: "POST", body: { class: kind.value, name: name.value } });
    go(`/element/${made.number}`);
  });
}

// The classifier a person names: "#12" by its number, or by its name when
// one alone is so named.
async function classifierNamed(text) {
  const number = text.trim().match(/^#(\d+)$/);
  if (number) return Number(number[1]);
  const name = text.trim();
  const found = await api(`/api/search?${new URLSearchParams({ name, class: "Classifier" })}`);
  // Those named so, in the same letter case where any is.
  const named = found.members.filter((m) => m.match === "exact");
  const same = named.filter((m) => m.name === name);
  const chosen = same.length > 0 ? same : named;
  if (chosen.length === 0) throw new Error(`no classifier is named “${text}”`);
  if (chosen.length > 1) throw new Error(`${chosen.length} classifiers are named “${text}”: give #NUMBER`);
  return chosen[0].number;
}

function supertypeForm(element) {
  const name = make("input", { type: "text", name: "supertype", "aria-label": "The supertype's name or #number",
    placeholder: "supertype", required: "" });
  return formBehind("Add supertype…", "generalize", "generalize", [name], "Add", async () => {
    const supertype = await classifierNamed(name.value);
    await api(`/api/elements/${element.number}/generalizations`, { method: "POST", body: { supertype } });
    await route(true);
  });
}

function associationForm(element) {
  const other = make("input", { type: "text", name: "other", "aria-label": "The other classifier's name or #number",
    placeholder: "other classifier", required: "" });
  const name = make("input", { type: "text", name: "association", "aria-label": "The association's name",
    placeholder: "association name" });
  const here = make("input", { type: "text", name: "here", "aria-label": `Multiplicity at ${element.name || "this end"}`,
    placeholder: "1", size: "6" });
  const there = make("input", { type: "text", name: "there", "aria-label": "Multiplicity at the other end",
    placeholder: "0..*", size: "6" });
  return formBehind("Associate…", "associate", "associate", [other, name, here, there], "Make", async () => {
    const number = await classifierNamed(other.value);
    const made = await api(`/api/elements/${element.number}/associations`, { method: "POST", body: {
      other: number, name: name.value,
      ends: [{ name: "", multiplicity: here.value }, { name: "", multiplicity: there.value }] } });
    go(`/element/${made.number}`);
  });
}

// Importing a document from this computer: the file travels as the
// request's body; the report says what was read and what was skipped.
function importForm(into) {
  const file = make("input", { type: "file", name: "document", "aria-label": "The document",
    accept: ".xmi,.xml,.uml,.zargo,.zuml,.mdzip,.zip", required: "" });
  const report = make("div", { class: "report" });
  const [open, form] = formBehind("Import…", "import", "import", [file], "Import", async () => {
    const chosen = file.files[0];
    const said = await api(`/api/import?${new URLSearchParams({ name: chosen.name, into })}`,
      { method: "POST", bytes: chosen });
    form.hidden = true;
    open.hidden = false;
    report.replaceChildren(make("p", {}, "Imported ", link(said.package), ":"),
      make("pre", {}, said.report));
  });
  return [open, form, report];
}

// Deleting: what goes with the element is shown first, as a dry run, and
// nothing goes until that is confirmed.
function deleteControls(element) {
  const panel = make("div", { class: "confirm", role: "alertdialog", hidden: "",
    "aria-labelledby": `delete-${element.number}` });
  const open = make("button", { type: "button", class: "quiet danger", "data-action": "delete" },
    "Delete…");
  open.addEventListener("click", async () => {
    try {
      const would = await api(`/api/elements/${element.number}/deletion`);
      const kinds = Object.entries(would.classes).map(([k, n]) => `${n} ${k}`).join(", ");
      const yes = make("button", { type: "button", class: "danger", "data-action": "confirm" },
        `Delete ${would.count} ${would.count === 1 ? "object" : "objects"}`);
      const no = make("button", { type: "button", class: "quiet", "data-action": "cancel" }, "Keep it");
      yes.addEventListener("click", async () => {
        try {
          await api(`/api/elements/${element.number}`, { method: "DELETE", body: {} });
          go(element.owner ? `/element/${element.owner.number}` : "/");
        } catch (error) {
          panel.append(make("p", { class: "error", role: "alert" }, String(error.message)));
        }
      });
      no.addEventListener("click", () => { panel.hidden = true; open.hidden = false; });
      panel.replaceChildren(make("p", { id: `delete-${element.number}` },
        `Deleting ${element.class} “${element.name || "#" + element.number}” deletes ` +
        `${would.count} ${would.count === 1 ? "object" : "objects"}: ${kinds}.`), yes, no);
      panel.hidden = false;
      open.hidden = true;
      no.focus();
    } catch (error) {
      panel.replaceChildren(make("p", { class: "error", role: "alert" }, String(error.message)));
      panel.hidden = false;
    }
  });
  return [open, panel];
}

// A value a change held, as a person reads it.
function changeValue(value) {
  if (value === null || value === undefined || value === "") return "unset";
  if (Array.isArray(value)) return `[${value.map(changeValue).join(", ")}]`;
  return typeof value === "number" && Number.isInteger(value) ? String(value) : JSON.stringify(value);
}

// One change of a commit: the slot, then before → after.
function changeRow(change) {
  const slot = change.slot.replace(/^(\*|QOVIX)/, "").replace(/^\./, "");
  const row = make("li", { class: "change" }, make("span", { class: "slot" }, slot), " ");
  if (change.kind === "created" || change.kind === "deleted") {
    row.append(make("span", { class: "kind" }, change.kind));
  } else if (change.kind === "added" || change.kind === "removed") {
    row.append(`${change.kind} #${change.kind === "added" ? change.after : change.before}`);
  } else {
    row.append(make("span", { class: "before" }, changeValue(change.before)), " → ",
      make("span", { class: "after" }, changeValue(change.after)));
  }
  return row;
}

function historyCard(number) {
  const list = make("ol", { class: "history" });
  const card = make("section", { class: "card" }, make("h2", {}, "History"));
  const show = make("button", { class: "quiet", type: "button", "data-action": "history" }, "Show the commits");
  // A page at a time, newest first; the button then asks for older ones.
  // A commit shows Undo while no newer one changed a slot it changed.
  let before = 0;
  const laterSlots = new Set();
  show.addEventListener("click", async () => {
    const answer = await api(`/api/elements/${number}/history?before=${before}`);
    list.append(...answer.commits.map((commit) => {
      const slots = commit.changes.map((c) => `${c.object}:${c.slot}`);
      const undoable = canWrite() && !slots.some((slot) => laterSlots.has(slot));
      for (const slot of slots) laterSlots.add(slot);
      const undo = undoable ? make("button", { type: "button", class: "quiet", "data-action": "undo",
        "data-commit": commit.seq }, "Undo") : null;
      const said = make("span", { class: "error", role: "alert" });
      undo?.addEventListener("click", async () => {
        try {
          const made = await api(`/api/commits/${commit.seq}/undo`, { method: "POST", body: {} });
          said.textContent = "";
          undo.replaceWith(make("span", { class: "none" }, `undone by commit ${made.commit}`));
        } catch (error) {
          said.textContent = ` ${error.message}`;
        }
      });
      const when = new Date(commit.time);
      const left = commit.changesLeft ? make("li", { class: "none" }, `and ${commit.changesLeft} more not shown`) : null;
      return make("li", { class: "commit", "data-commit": commit.seq },
        make("div", { class: "said" }, make("strong", {}, `Commit ${commit.seq}`), " · ",
          make("time", { datetime: commit.time, title: commit.time }, when.toLocaleString()),
          ` · ${commit.principal || "nobody"}`, " ", undo, said),
        make("ul", { class: "changes" }, ...commit.changes.map(changeRow), left));
    }));
    if (answer.next) {
      before = answer.next;
      show.textContent = "Show older commits";
    } else {
      show.remove();
    }
  });
  card.append(show, list);
  return card;
}

// The package's class diagram: Graphviz's SVG, taken in as a document and
// kept to its drawing (no script, no handler, links only to element pages),
// then panned by dragging and zoomed by the wheel or the keys + and -.
async function diagramCard(number) {
  const card = make("section", { class: "card" }, make("h2", {}, "Class diagram"));
  const answer = await fetch(`/api/elements/${number}/diagram.svg`);
  if (!answer.ok) {
    card.append(make("p", { class: "error" }, (await answer.json()).detail || answer.statusText));
    return card;
  }
  const parsed = new DOMParser().parseFromString(await answer.text(), "image/svg+xml");
  const svg = parsed.documentElement;
  if (svg.nodeName !== "svg") {
    card.append(make("p", { class: "error" }, "the diagram is no SVG"));
    return card;
  }
  for (const unsafe of svg.querySelectorAll("script, foreignObject")) unsafe.remove();
  for (const node of svg.querySelectorAll("*")) {
    for (const attribute of [...node.attributes]) {
      const value = attribute.value.trim();
      if (attribute.name.startsWith("on")) node.removeAttribute(attribute.name);
      if (/(^|:)href$/.test(attribute.name) && !/^\/element\/\d+$/.test(value)) {
        node.removeAttribute(attribute.name);
      }
    }
  }
  svg.removeAttribute("width");
  svg.removeAttribute("height");
  const frame = make("div", { class: "diagram", tabindex: "0",
    "aria-label": "Class diagram: drag to pan, + and - to zoom" });
  frame.append(document.importNode(svg, true));
  panAndZoom(frame, frame.querySelector("svg"));
  card.append(frame);
  return card;
}

function panAndZoom(frame, svg) {
  const box = svg.viewBox.baseVal;
  if (!box || box.width === 0) return;
  // It opens fitted to the frame's width, its top in view: a tall diagram
  // is panned down rather than shrunk to fit whole.
  svg.setAttribute("preserveAspectRatio", "xMidYMin meet");
  const drawn = { x: box.x, y: box.y, width: box.width };
  const fitted = new ResizeObserver(() => {
    if (frame.clientWidth === 0 || frame.clientHeight === 0) return;
    fitted.disconnect();
    box.x = drawn.x; box.y = drawn.y; box.width = drawn.width;
    box.height = drawn.width * frame.clientHeight / frame.clientWidth;
  });
  fitted.observe(frame);
  const zoom = (factor) => {
    const cx = box.x + box.width / 2, cy = box.y + box.height / 2;
    box.width *= factor; box.height *= factor;
    box.x = cx - box.width / 2; box.y = cy - box.height / 2;
  };
  frame.addEventListener("wheel", (event) => {
    event.preventDefault();
    zoom(event.deltaY > 0 ? 1.15 : 1 / 1.15);
  }, { passive: false });
  frame.addEventListener("keydown", (event) => {
    if (event.key === "+" || event.key === "=") zoom(1 / 1.25);
    if (event.key === "-") zoom(1.25);
  });
  let dragging = null;
  frame.addEventListener("pointerdown", (event) => {
    if (event.target.closest("a")) return;
    dragging = { x: event.clientX, y: event.clientY };
    frame.setPointerCapture(event.pointerId);
  });
  frame.addEventListener("pointermove", (event) => {
    if (!dragging) return;
    const scale = box.width / frame.clientWidth;
    box.x -= (event.clientX - dragging.x) * scale;
    box.y -= (event.clientY - dragging.y) * scale;
    dragging = { x: event.clientX, y: event.clientY };
  });
  frame.addEventListener("pointerup", () => { dragging = null; });
}

async function showSearch(parameters) {
  const name = parameters.get("name") || "";
  const kind = parameters.get("class") || "ModelElement";
  document.getElementById("search-name").value = name;
  document.getElementById("search-class").value = kind;
  const answer = await api(`/api/search?${new URLSearchParams({ name, class: kind })}`);
  // Each hit says where it is: its owners, outermost first.
  const hits = make("ul", { class: "links hits" }, ...answer.members.map((hit) =>
    make("li", { "data-match": hit.match }, link(hit),
      hit.path ? make("span", { class: "where" }, ` in ${hit.path}`) : null)));
  return { title: `Search: ${name} · QOVIX`, parts: [make("h1", {}, `Names holding “${name}”`),
    answer.count === 0 ? make("p", { class: "none" }, "No name holds it.")
      : make("section", { class: "card" }, hits)] };
}

async function showHome() {
  const repository = await api("/api/repository");
  return { title: "QOVIX repository", parts: [make("h1", {}, "The repository"),
    make("p", {}, `Last commit: ${repository.lastCommit}. Open a package in the tree, or search by name.`),
    make("div", { class: "actions" }, ...(canWrite() ? importForm(0) : [])),
    make("section", { class: "card" }, make("h2", {}, "Top-level packages"),
      linkList(repository.roots, repository.roots.length))] };
}

// Draws the view the address names; `refresh` draws it again in place
// (after a change), leaving the focus where it is. Of views drawn at once
// (a change arriving as the reader moves on), only the latest is shown.
let drawing = 0;
async function route(refresh = false) {
  const path = location.pathname;
  const mine = ++drawing;
  // The page says while it draws (and, below, which commit it has drawn):
  // a script that drives it waits for both before it acts.
  document.documentElement.dataset.drawing = "yes";
  let drawn;
  try {
    const element = path.match(/^\/element\/(\d+)$/);
    if (element) drawn = await showElement(element[1]);
    else if (path === "/search") drawn = await showSearch(new URLSearchParams(location.search));
    else drawn = await showHome();
  } catch (error) {
    drawn = errorView(error);
  }
  if (mine !== drawing) return;
  delete document.documentElement.dataset.drawing;
  document.title = drawn.title;
  view.replaceChildren(...drawn.parts);
  if (refresh !== true) view.focus({ preventScroll: true });
}

// Live changes: each commit's touched objects arrive as they are made; a
// view showing one of them is drawn again (not while a form is open), and
// the tree's links to them take their new names. A commit too large to
// list (an import of a large model) may have touched anything shown.
async function changed(event) {
  const touched = new Set(event.objects.map(String));
  const unlisted = event.objectsLeft > 0;
  await rootsChanged(event.packages || [], unlisted);
  const shownHere = [...view.querySelectorAll("[data-number]")].map((a) => a.dataset.number);
  const current = location.pathname.match(/^\/element\/(\d+)$/);
  if (current) shownHere.push(current[1]);
  // Not while the reader is at something: a form, a confirmation, a report.
  const editing = view.querySelector("form:not([hidden]), .confirm:not([hidden]), .report:not(:empty)");
  if (!editing && (unlisted || shownHere.some((number) => touched.has(number)))) await route(true);
  for (const anchor of document.querySelectorAll("#tree a[data-number]")) {
    // Of a commit not listed whole, the links a reader sees.
    if (unlisted ? anchor.closest("[hidden]") !== null : !touched.has(anchor.dataset.number)) continue;
    try {
      const element = await api(`/api/elements/${anchor.dataset.number}`);
      anchor.querySelector(".name").textContent = element.name || `#${element.number}`;
    } catch (gone) {
      anchor.closest("li").remove();
    }
  }
}

// Packages a commit made or changed (or a commit too large to list them):
// the tree's top level is read again, in one request that the repository's
// index of top-level packages answers. One standing alone joins it, and
// one that has found an owner, or is gone, leaves it.
async function rootsChanged(packages, unlisted) {
  if (packages.length === 0 && !unlisted) return;
  const tree = document.getElementById("tree");
  const { roots } = await api("/api/repository");
  const standing = new Set(roots.map((root) => String(root.number)));
  const shown = new Set();
  for (const item of [...tree.children]) {
    const number = item.querySelector(":scope > a")?.dataset.number;
    if (number === undefined) continue;
    if (standing.has(number)) shown.add(number);
    else item.remove();
  }
  for (const root of roots) if (!shown.has(String(root.number))) tree.append(treeItem(root));
}

// The changes after commit `since`: from the stream this browser's pages
// share (changes_worker.js), or a stream of the page's own where a browser
// has no shared workers. A page put away (the back-forward cache keeps it)
// lets its stream go, and takes up from where it was when it is back.
function followChanges(since) {
  let seen = since;
  document.documentElement.dataset.commit = String(since);
  // One commit at a time, in order: each looks at what the one before drew.
  let drawn = Promise.resolve();
  const take = (event) => {
    if (event.seq <= seen) return;  // drawn already: the shared stream may be behind this page
    seen = event.seq;
    drawn = drawn.then(() => changed(event)).catch(() => {}).then(() => {
      document.documentElement.dataset.commit = String(event.seq);
    });
  };
  let leave = () => {};
  const join = () => {
    if (typeof SharedWorker === "function") {
      const worker = new SharedWorker("/static/changes_worker.js");
      worker.port.addEventListener("message", (message) => take(message.data));
      worker.port.start();
      worker.port.postMessage({ since: seen });
      leave = () => worker.port.postMessage({ leave: true });
    } else {
      const own = new EventSource(`/api/changes/stream?since=${seen}`);
      own.addEventListener("message", (message) => take(JSON.parse(message.data)));
      leave = () => own.close();
    }
  };
  join();
  window.addEventListener("pagehide", () => leave());
  window.addEventListener("pageshow", (event) => { if (event.persisted) join(); });
}

start();
