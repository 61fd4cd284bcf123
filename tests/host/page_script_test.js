// The page script (package/vantorima.js) on a stubbed page, clock and
// XMLHttpRequest: its roads through the link door as rows of steps, each
// outcome word of its table among them; and its source holds nothing newer
// than ES5 (it runs in Internet Explorer 11).
//   node page_script_test.js vantorima.js
"use strict";
const fs = require("fs");
const vm = require("vm");
const source = fs.readFileSync(process.argv[2], "utf8");
let failures = 0;
function check(ok, what) {
  if (!ok) {
    failures++;
    console.log("FAILED " + what);
  }
}

// ES5: the code without its comments and strings holds no newer syntax or API.
const code = source.replace(/\/\*[\s\S]*?\*\/|\/\/[^\n]*|"(?:[^"\\\n]|\\.)*"/g, '""');
for (const newer of [/=>/, /\blet\s/, /\bconst\s/, /`/, /\bclass\s/, /\basync\b/, /\bawait\b/, /\bPromise\b/,
                     /\bfetch\s*\(/, /\.\.\./, /\bclassList\b/, /\bfor\s*\([^)]*\bof\b/, /\bSymbol\b/, /\bMap\b/]) {
  check(!newer.test(code), "not ES5: " + newer);
}

// A page: elements by id, a clock that runs only when told, requests that wait for their answer.
function page(activeX) {
  const timers = [];
  const requests = [];
  let clock = 0, serial = 0;
  const opened = [];
  function node() {
    const attributes = {};
    const listeners = {};
    return { hidden: true, disabled: false, textContent: "", innerHTML: "",
             setAttribute: (k, v) => { attributes[k] = String(v); }, getAttribute: (k) => attributes[k],
             addEventListener: (e, f) => { listeners[e] = f; }, fire: (e) => listeners[e]() };
  }
  const nodes = { play: node(), status: node(), offer: node(), quiet: node(), slot: node(),
                  control: { text: "<object id=v></object>" } };
  function XMLHttpRequest() {
    this.headers = {};
  }
  XMLHttpRequest.prototype.open = function (method, url) { this.method = method; this.url = url; };
  XMLHttpRequest.prototype.send = function () { requests.push(this); };
  XMLHttpRequest.prototype.abort = function () { this.aborted = true; };
  XMLHttpRequest.prototype.getResponseHeader = function (name) { return this.headers[name] || null; };
  const window = { addEventListener() {}, removeEventListener() {} };
  if (activeX)
    window.ActiveXObject = function () {};
  const sandbox = {
    window, XMLHttpRequest, JSON, Math, Object, String, Error, Date: function () { this.getTime = () => clock; },
    parseInt, encodeURIComponent,
    document: { hidden: false, hasFocus: () => true, getElementById: (id) => nodes[id] || null,
                addEventListener() {}, removeEventListener() {} },
    location: { set href(link) { opened.push(link); } },
    setTimeout: (f, ms) => { timers.push({ at: clock + ms, f, id: ++serial }); return serial; },
    clearTimeout: (id) => { const i = timers.findIndex((t) => t.id === id); if (i >= 0) timers.splice(i, 1); },
  };
  vm.createContext(sandbox);
  vm.runInContext(source, sandbox);
  const V = vm.runInContext("Vantorima", sandbox);
  V.attach({ button: "play", status: "status", offer: "offer", quiet: "quiet", slot: "slot", control: "control" });
  function advance(ms) {
    const until = clock + ms;
    for (;;) {
      timers.sort((a, b) => a.at - b.at || a.id - b.id);
      if (!timers.length || timers[0].at > until)
        break;
      const t = timers.shift();
      clock = t.at;
      t.f();
    }
    clock = until;
  }
  function answer(status, body, headers) {
    const r = requests.shift();
    r.status = status; r.responseText = body; r.headers = headers || {};
    status ? r.onload() : r.onerror();
  }
  return { V, nodes, requests, opened, advance, answer };
}

const NONCE = "00112233445566778899aabbccddeeff";
const LINK = JSON.stringify({ link: "vantorima:launch?v=1&id=guest&exp=9&nonce=" + NONCE + "&sig=x", watch: "W-1_x" });
const WAIT = { "Vantorima-Wait": "30" };
// Steps: press; link/state STATUS BODY [HEADERS] (answers the oldest request, 0: a network error);
// time MS; is STATE (the status line's data and text); asks TEXT (the oldest request's URL holds it;
// null: none waits); shown ID; opened N (links given to the browser).
const rows = [
  ["no offer before 10 s, then the offer", ["press"], ["link", 200, LINK], ["is", "pending"], ["opened", 1],
   ["time", 500], ["asks", "link/state?nonce=" + NONCE + "&watch=W-1_x"], ["state", 200, "pending"],
   ["time", 9000], ["is", "pending"], ["state", 200, "pending"], ["time", 1000], ["is", "offer"], ["shown", "offer"]],
  ["an unknown word is a refusal", ["press"], ["link", 200, LINK], ["time", 500], ["state", 200, "refused:later"],
   ["is", "refused"], ["time", 5000], ["asks", null]],
  ["long waiting", ["press"], ["link", 200, LINK], ["time", 500], ["asks", "&watch=W-1_x"],
   ["state", 200, "pending", WAIT], ["asks", "&after=pending&wait=25"], ["state", 200, "installing", WAIT],
   ["is", "installing"], ["asks", "&after=installing&wait=25"], ["state", 200, "started", { "Vantorima-Wait": "9" }],
   ["is", "started"], ["asks", null]],
  ["the service stops offering the wait", ["press"], ["link", 200, LINK], ["time", 500], ["state", 200, "pending", WAIT],
   ["state", 200, "pending"], ["asks", null], ["time", 500], ["asks", "&watch=W-1_x"]],
  ["another scheme", ["press"], ["link", 200, JSON.stringify({ link: "javascript:vantorima:launch?x", watch: "w" })],
   ["is", "bad-link"], ["opened", 0]],
  ["a link with a space", ["press"], ["link", 200, JSON.stringify({ link: "vantorima:launch?a b", watch: "w" })],
   ["is", "bad-link"], ["opened", 0]],
  ["no JSON", ["press"], ["link", 200, "{link"], ["is", "bad-link"], ["opened", 0]],
  ["no watch: no state", ["press"], ["link", 200, JSON.stringify({ link: "vantorima:launch?nonce=" + NONCE })],
   ["is", "no-state"], ["shown", "quiet"], ["time", 5000], ["asks", null]],
  ["404 at once: no state", ["press"], ["link", 200, LINK], ["time", 500], ["state", 404, ""], ["is", "no-state"],
   ["shown", "quiet"]],
  ["404 later: the state is gone", ["press"], ["link", 200, LINK], ["time", 500], ["state", 200, "pending"],
   ["time", 500], ["state", 404, ""], ["is", "pending"], ["time", 60000], ["asks", null]],
  ["network errors back off", ["press"], ["link", 200, LINK], ["time", 500], ["state", 0, ""], ["time", 999],
   ["asks", null], ["time", 1], ["state", 502, ""], ["time", 1999], ["asks", null], ["time", 1], ["asks", "nonce="]],
  ["ten minutes, then no more", ["press"], ["link", 200, LINK], ["time", 500], ["state", 200, "pending", WAIT],
   ["loop", 25, [["state", 200, "pending", WAIT], ["time", 25000]]], ["is", "offer"], ["state", 200, "pending", WAIT],
   ["asks", null]],
  ["signed out", ["press"], ["link", 403, "no"], ["is", "signed-out"], ["opened", 0]],
  ["network", ["press"], ["link", 0, ""], ["is", "network"]],
];
for (const word of Object.keys(page().V.outcomes)) {
  if (word === "pending")
    continue;
  const final = page().V.outcomes[word] === "final";
  rows.push(["outcome " + word, ["press"], ["link", 200, LINK], ["time", 500], ["state", 200, word], ["is", word],
             ["time", 500], ["asks", final ? null : "&watch="]]);
}

function run(p, name, steps) {
  for (const [step, a, b, c] of steps) {
    const oldest = p.requests[0];
    if (step === "press") {
      p.nodes.play.fire("click");
    } else if (step === "link" || step === "state") {
      if (!oldest || oldest.method !== (step === "link" ? "POST" : "GET"))
        return check(false, name + ": no " + step + " request waits");
      p.answer(a, b, c);
      p.advance(0);  // (what the page does at once)
    } else if (step === "time") {
      p.advance(a);
    } else if (step === "loop") {
      for (let i = 0; i < a; i++)
        run(p, name, b);
    } else if (step === "is") {
      const state = p.nodes.status.getAttribute("data-vantorima-state");
      check(state === a && p.nodes.status.textContent === p.V.texts[a] && (a === "offer" || p.V.texts[a]),
            name + ": the page is " + state + " (" + p.nodes.status.textContent + "), expected " + a);
    } else if (step === "asks") {
      check(a === null ? !oldest : oldest && oldest.url.indexOf(a) >= 0,
            name + ": the request waiting is " + (oldest && oldest.url) + ", expected " + a);
    } else if (step === "shown") {
      check(!p.nodes[a].hidden, name + ": " + a + " is hidden");
    } else if (step === "opened") {
      check(p.opened.length === a, name + ": " + p.opened.length + " links opened, expected " + a);
    }
  }
}
for (const [name, ...steps] of rows)
  run(page(), name, steps);

// The control's door: its markup into the slot, no link.
const control = page(true);
control.nodes.play.fire("click");
check(control.nodes.slot.innerHTML === "<object id=v></object>" && !control.requests.length &&
      control.nodes.status.getAttribute("data-vantorima-state") === "control", "the control's door");

console.log(failures ? failures + " failed" : rows.length + 1 + " roads passed");
process.exit(failures ? 1 : 0);
