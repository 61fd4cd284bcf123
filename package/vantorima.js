/* vantorima.js: the login page's play button, with both doors.
 *
 *   <script src="vantorima.js"></script>
 *   <script>
 *   Vantorima.attach({ button: "play", status: "status", offer: "offer", quiet: "quiet",
 *                      slot: "slot", control: "control" });
 *   </script>
 *
 * One press, two doors. Where ActiveX runs (Internet Explorer, Edge in IE
 * mode) the control's markup goes into the slot and the control starts the
 * client. Elsewhere the service signs a one-time link for the signed-in player
 * (POST link: JSON {"link", "watch"}) and the page opens it; the launcher takes
 * it and tells the service what it did with the link's nonce. No event a page
 * can see tells "opened" from "cancelled" from "nothing there" (the browser's
 * "open this program?" prompt takes the focus whatever the player answers), so
 * the page asks the service (link/state?nonce=...&watch=...) and, until it
 * knows, says what to do. Still pending after 10 s: the page offers the
 * launcher and arms a retry for that link: a player who ran the launcher and
 * comes back gets a new link without another press. A service that keeps no
 * state: the page says what to do, offers the launcher quietly from the start,
 * and never claims that the client started.
 *
 * Every text a player reads is in Vantorima.texts, which a page may replace
 * (whole or key by key) before or after attach. The status element carries
 * the page's last state as data-vantorima-state: an outcome word of the
 * service, or a step of the page's own (see the texts' keys).
 *
 * ES5 and XMLHttpRequest only: this runs in Internet Explorer 11 too.
 */
var Vantorima = (function () {
  "use strict";

  // The outcome words of the link door, as the service's state gives them:
  // "nonfinal" ones are followed by another report, "final" ones end the link.
  // Any other word the page reads as a refusal. One word a line: a check
  // (tools/check-outcomes.py) holds this list against the launcher's and the
  // service package's.
  var outcomes = {
    "pending": "nonfinal",
    "installing": "nonfinal",
    "renewing": "nonfinal",
    "started": "final",
    "failed": "final",
    "failed:stopped": "final",
    "failed:download": "final",
    "failed:installer": "final",
    "failed:client": "final",
    "refused:expired": "final",
    "refused:used": "final",
    "refused:declined": "final",
    "refused:running": "final",
    "refused:version": "final",
    "refused:renewal": "final",
    "refused:codepage": "final",
    "refused:ledger": "final"
  };

  // What the player reads, by the page's state: the outcome words, and the
  // page's own steps.
  var texts = {
    // The page's steps.
    "asking": "正在启动客户端… (starting the client)",
    "control": "正在启动客户端… (starting the client)",
    "offer": "",  // the page's offer element speaks
    "press-again": "请再按一次“开始游戏”。(Press play once more.)",
    "no-state": "如果浏览器询问，请选择“打开”。(If the browser asks, choose Open.)",
    "signed-out": "登录已过期，请重新登录。(the sign-in has expired: sign in again)",
    "bad-link": "服务给出的链接无效，请刷新网页后再试。(the service gave no valid link: reload the page and try again)",
    "network": "网络错误，请稍后再试。(network error: try again)",
    "refused": "启动器没有接受这个链接，请刷新网页后再按一次“开始游戏”。(The launcher refused the link: reload the page and press play again.)",
    // The outcome words.
    "pending": "如果浏览器询问，请选择“打开”。(If the browser asks, choose Open.)",
    "installing": "正在安装客户端，请按安装窗口的提示操作。(The client is being installed: follow its window.)",
    "renewing": "VOK 围棋启动器正在更新自己，完成后会自动继续。(The launcher is updating itself; then it goes on by itself.)",
    "started": "客户端已启动。(The client has started.)",
    "failed": "客户端未能启动，请到主页重新下载并安装客户端。(The client could not start: download and install it again from the home page.)",
    "failed:stopped": "下载已停止。再按一次“开始游戏”会接着下载。(The download was stopped: press play again to go on with it.)",
    "failed:download": "客户端下载失败，请检查网络连接和磁盘空间，然后再按一次“开始游戏”。(The download failed: check the network and the free disk space, then press play again.)",
    "failed:installer": "客户端没有安装成功，请再按一次“开始游戏”；如果仍然不行，请到主页下载完整的安装程序。(The install did not succeed: press play again, or get the whole installer from the home page.)",
    "failed:client": "客户端无法运行，请到主页重新下载并安装客户端。(The client would not run: download and install it again from the home page.)",
    "refused:expired": "链接已过期。请检查电脑的日期和时间是否正确，然后再按一次“开始游戏”。(The link had expired: check the computer's date and time, then press play again.)",
    "refused:used": "这个链接已经用过了，请再按一次“开始游戏”。(This link was used already: press play again.)",
    "refused:declined": "你没有同意以这个帐号登录。如要登录，请再按一次“开始游戏”并选择“是”。(You did not sign in with this account: to play, press play again and answer Yes.)",
    "refused:running": "游戏已经打开了，请切换到 VOK 围棋的窗口。(The game is already open: switch to its window.)",
    "refused:version": "启动器太旧，请下载并运行新的 VOK 围棋启动器，然后再按一次“开始游戏”。(The launcher is too old: download and run the new launcher, then press play again.)",
    "refused:renewal": "启动器未能更新自己，请下载并运行新的 VOK 围棋启动器，然后再按一次“开始游戏”。(The launcher could not update itself: download and run the new launcher, then press play again.)",
    "refused:codepage": "帐号信息含有这台电脑无法处理的字符，请联系客服。(The account's details hold characters this computer cannot pass on: contact support.)",
    "refused:ledger": "启动器无法写入它的记录，请检查磁盘空间，然后再按一次“开始游戏”。(The launcher could not write its records: check the free disk space, then press play again.)"
  };

  var kPollMs = 500;
  var kOfferAfterMs = 10000;     // still pending: nothing took the link (yet)
  var kWatchForMs = 10 * 60000;  // after the offer: how long a report (or the player's return) may come
  var kSettleMs = 3000;          // a late answer to the prompt also gives the focus back: let its report come
  var kRestMs = 5000;            // without state: the button rests this long after a press
  var kLongestWait = 25;         // seconds a held state request may take, below the proxies' usual 30 s
  var kBackOffMs = 30000;        // the longest pause after failed requests
  var kLongestLink = 8192;       // far above what a signed link takes

  var api = { outcomes: outcomes, texts: texts, attach: attach };
  var builtIn = texts;

  function now() {
    return new Date().getTime();
  }

  function has(table, key) {
    return table !== null && typeof table === "object" && Object.prototype.hasOwnProperty.call(table, key);
  }

  // The page's own table first (it may have replaced it, or left keys out).
  function textOf(key) {
    var table = api.texts;
    if (has(table, key) && typeof table[key] === "string")
      return table[key];
    return has(builtIn, key) ? builtIn[key] : "";
  }

  function element(value, name, needed) {
    var found = typeof value === "string" ? document.getElementById(value) : value;
    if (!found && needed)
      throw new Error("Vantorima.attach: no element for " + name);
    return found || null;
  }

  function show(node, shown) {
    if (node)
      node.hidden = !shown;
  }

  // The word the service's state gives, or "refused" for one this page does not know.
  function wordOf(text) {
    return has(outcomes, text) ? text : "refused";
  }

  // The link, when it is one of this build's: "<scheme>:launch?" and printable ASCII alone.
  function checkedLink(link, scheme) {
    if (typeof link !== "string" || link.length > kLongestLink || !/^[\x21-\x7e]+$/.test(link))
      return null;
    var head = scheme + ":launch?";
    return link.substring(0, head.length).toLowerCase() === head ? link : null;
  }

  // What POST link answered: {link, watch}; a service that answers the link
  // alone, or no watch, keeps no state for the page.
  function parseIssued(text) {
    var issued = { link: text.replace(/\s+$/, ""), watch: "" };
    if (/^\s*\{/.test(text)) {
      try {
        var json = JSON.parse(text);
        issued.link = json && typeof json.link === "string" ? json.link : null;
        issued.watch = json && typeof json.watch === "string" && /^[A-Za-z0-9_\-]{1,256}$/.test(json.watch) ?
          json.watch : "";
      } catch (e) {
        issued.link = null;
      }
    }
    return issued;
  }

  function attach(options) {
    options = options || {};
    var play = element(options.button, "button", true);
    var status = element(options.status, "status", true);
    var offer = element(options.offer, "offer", false);
    var quiet = element(options.quiet, "quiet", false);
    var slot = element(options.slot, "slot", false);
    var control = options.control;
    var linkPath = options.link || "link";
    var statePath = options.state || "link/state";
    var scheme = String(options.scheme || "vantorima").toLowerCase();
    if (!/^[a-z][a-z0-9+.\-]*$/.test(scheme))
      throw new Error("Vantorima.attach: the scheme '" + scheme + "' is no URL scheme");

    function say(key) {
      status.setAttribute("data-vantorima-state", key);
      status.textContent = textOf(key);
    }

    // The control's markup: a string, or an element that holds it (a
    // <script type="text/html">, whose text a browser does not run).
    function controlMarkup() {
      var holder = typeof control === "string" && control.charAt(0) !== "<" ? document.getElementById(control) :
        control;
      if (typeof holder === "string")
        return holder;
      return holder ? holder.text || holder.innerHTML || "" : "";
    }

    function embedControl() {
      slot.innerHTML = controlMarkup();
      say("control");
    }

    // The watch over the latest link: one at a time, a new link ends the last
    // one's. byPress: the link followed a press (its offer arms the retry);
    // else it is the retry's own link, which asks for a press instead of
    // offering again (a browser may drop a second link that no click of the
    // player's preceded).
    var watch = null;

    function endWatch() {
      if (watch) {
        clearTimeout(watch.timer);
        clearTimeout(watch.offerTimer);
        watch.ended = true;
        if (watch.request) {
          try {
            watch.request.abort();  // a held request ties up the service for nothing
          } catch (e) {
          }
        }
        watch = null;
      }
    }

    // Asks the link's state: answer(code, word, wait seconds or 0). With
    // after, the service may hold the request until the state is no longer
    // that word, for up to wait seconds.
    function askState(w, after, wait, answer) {
      var request = new XMLHttpRequest();
      var query = "?nonce=" + encodeURIComponent(w.nonce) + "&watch=" + encodeURIComponent(w.watch);
      if (after)
        query += "&after=" + encodeURIComponent(after) + "&wait=" + wait;
      var done = false;
      function finish(code, text, offered) {
        if (done)
          return;
        done = true;
        if (w.request === request)
          w.request = null;
        if (!w.ended)
          answer(code, text, offered);
      }
      request.open("GET", statePath + query, true);
      request.timeout = (wait + 15) * 1000;
      request.onload = function () {
        var offered = 0;
        if (request.status === 200) {
          offered = parseInt(request.getResponseHeader("Vantorima-Wait") || "", 10);
          offered = offered > 0 ? Math.min(offered, kLongestWait) : 0;
        }
        finish(request.status, String(request.responseText || "").replace(/\s+$/, ""), offered);
      };
      request.onerror = request.ontimeout = function () {
        finish(0, "", 0);
      };
      if (after)
        w.request = request;
      request.send();
    }

    // The state's next question: at once as a long wait when the service
    // offers one, else after the poll's pause (longer after failures).
    function next(w, delay) {
      w.timer = setTimeout(function () {
        var waited = now() - w.opened;
        if (waited >= kOfferAfterMs + kWatchForMs) {
          // Long abandoned.
          disarmRetry();
          endWatch();
          return;
        }
        var after = w.wait > 0 ? w.word : "";
        askState(w, after, after ? w.wait : 0, function (code, text, offered) {
          heard(w, code, text, offered);
        });
      }, delay);
    }

    function heard(w, code, text, offered) {
      if (code === 200) {
        w.failures = 0;
        w.answered = true;
        w.wait = offered;
        var word = wordOf(text);
        if (word !== "pending")
          return outcome(w, word);
        maybeOffer(w);
        return next(w, offered > 0 ? 0 : kPollMs);
      }
      if ((code === 404 || code === 405) && !w.answered)
        return noState(w);  // a service without the state
      if (code === 404) {
        // Forgotten by the service: nothing more will come.
        disarmRetry();
        endWatch();
        return;
      }
      // The network or the service failed: ask again, less and less often.
      w.failures += 1;
      w.wait = 0;
      next(w, Math.min(kBackOffMs, kPollMs * Math.pow(2, w.failures)));
    }

    // Still pending a while after it was opened: the offer, or for the
    // retry's own link a request for a press.
    function maybeOffer(w) {
      if (w.late || !w.answered || w.word !== "pending" || now() - w.opened < kOfferAfterMs)
        return;
      w.late = true;
      play.disabled = false;
      if (w.byPress) {
        say("offer");
        show(offer, true);
        armRetry(w);
      } else {
        say("press-again");
      }
    }

    function outcome(w, word) {
      w.late = true;  // a report came: no offer for this link
      w.word = word;
      disarmRetry();
      show(offer, false);
      play.disabled = false;
      say(word);
      if (has(outcomes, word) && outcomes[word] === "nonfinal")
        next(w, w.wait > 0 ? 0 : kPollMs);  // the launcher goes on and reports again
      else
        endWatch();
    }

    // A service without the state: what to do, and the launcher quietly at
    // once; no retry, since nothing tells that the link was not taken.
    function noState(w) {
      endWatch();
      say("no-state");
      show(quiet, true);
      setTimeout(function () {
        if (!watch)
          play.disabled = false;
      }, Math.max(0, kRestMs - (now() - w.opened)));
    }

    // The retry: armed by the offer of a press's link, spent when the player
    // is back: the page has the focus and is shown again after it lost one or
    // the other following the offer (a window that uncovers the page without
    // giving it the focus is no player coming back). It then waits a little
    // and asks again: only a link still pending is retried.
    var retry = null;
    function leave() {
      if (retry)
        retry.away = true;
    }
    function comeBack() {
      if (retry && document.hidden)
        retry.away = true;
      if (!retry || !retry.away || document.hidden || !document.hasFocus())
        return;
      var w = retry.watch;
      disarmRetry();
      // (A hidden page's timers may run late: the time limit holds all the same.)
      if (now() - w.opened >= kOfferAfterMs + kWatchForMs)
        return;
      setTimeout(function () {
        if (w !== watch)
          return;
        // (Any other answer is the watch's own to act on.)
        askState(w, "", 0, function (code, text) {
          if (code === 200 && text === "pending" && w === watch)
            askForLink(false);
        });
      }, kSettleMs);
    }
    function armRetry(w) {
      retry = { watch: w, away: false };
      window.addEventListener("blur", leave);
      window.addEventListener("focus", comeBack);
      document.addEventListener("visibilitychange", comeBack);
    }
    function disarmRetry() {
      retry = null;
      window.removeEventListener("blur", leave);
      window.removeEventListener("focus", comeBack);
      document.removeEventListener("visibilitychange", comeBack);
    }

    function openLink(link, watchToken, byPress) {
      var nonce = /[?&]nonce=([0-9A-Fa-f]{1,128})(&|$)/.exec(link);
      var w = { nonce: nonce ? nonce[1] : "", watch: watchToken, byPress: byPress, opened: now(), answered: false,
                late: false, word: "pending", wait: 0, failures: 0, timer: null, offerTimer: null, request: null };
      watch = w;
      say("pending");
      location.href = link;
      if (!nonce || !watchToken)
        return noState(w);
      w.offerTimer = setTimeout(function () {
        if (!w.ended)
          maybeOffer(w);
      }, kOfferAfterMs);
      next(w, kPollMs);
    }

    function askForLink(byPress) {
      endWatch();
      disarmRetry();
      play.disabled = true;
      show(offer, false);
      show(quiet, false);
      say("asking");
      var request = new XMLHttpRequest();
      request.open("POST", linkPath, true);
      request.onload = function () {
        if (request.status !== 200) {
          play.disabled = false;
          say("signed-out");
          return;
        }
        var issued = parseIssued(String(request.responseText || ""));
        var link = checkedLink(issued.link, scheme);
        if (!link) {
          play.disabled = false;
          say("bad-link");
          return;
        }
        openLink(link, issued.watch, byPress);
      };
      request.onerror = function () {
        play.disabled = false;
        say("network");
      };
      request.send();
    }

    function press() {
      if (control && slot && "ActiveXObject" in window)
        embedControl();
      else
        askForLink(true);
    }

    play.addEventListener("click", press);
    return { press: press };
  }

  return api;
})();
