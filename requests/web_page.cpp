// The page a singer's phone opens, and its script: a search box, the songs found, and a form
// with the singer's name. No framework and nothing from elsewhere: it must work on a venue's
// network with no way out. Text from the server is only ever set as text, never as markup.
#include "requests/request_service.h"

namespace velloran {

const char* const kRequestPage = R"PAGE(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>Song requests</title>
<style>
body { font-family: sans-serif; margin: 0 auto; max-width: 40em; padding: 0.5em; background: #fff; color: #111; }
h1 { font-size: 1.4em; margin: 0.3em 0; }
form { display: flex; flex-wrap: wrap; gap: 0.4em; align-items: center; margin: 0.5em 0; }
label { font-weight: bold; }
input { font-size: 1.1em; padding: 0.4em; flex: 1 1 10em; min-width: 0; }
button { font-size: 1.1em; padding: 0.4em 0.9em; }
ul { list-style: none; padding: 0; margin: 0; }
li button { width: 100%; text-align: left; margin: 0.15em 0; background: #f3f3f3; border: 1px solid #bbb; border-radius: 4px; }
li button[aria-pressed="true"] { background: #ffe9a8; border-color: #a67c00; }
.number { font-weight: bold; margin-right: 0.5em; }
.artist { display: block; font-size: 0.85em; color: #444; }
#status { min-height: 1.4em; margin: 0.4em 0; font-weight: bold; }
#status.error { color: #a00000; }
#chosen { flex-basis: 100%; margin: 0.3em 0; }
[hidden] { display: none !important; }
</style>
</head>
<body>
<main>
<h1>Request a song</h1>
<form id="code-form" hidden>
<label for="code">Venue code</label>
<input id="code" inputmode="numeric" autocomplete="off" maxlength="4" pattern="[0-9]{4}" required>
<button type="submit">OK</button>
</form>
<form id="search-form" role="search">
<label for="q">Song, artist or number</label>
<input id="q" type="search" maxlength="60" autocomplete="off" enterkeyhint="search">
<button type="submit">Search</button>
</form>
<p id="status" role="status" aria-live="polite"></p>
<ul id="results" aria-label="Songs found"></ul>
<form id="request-form" hidden>
<p id="chosen"></p>
<label for="name">Your name</label>
<input id="name" maxlength="30" autocomplete="nickname" required>
<button type="submit">Send request</button>
</form>
</main>
<script src="/app.js"></script>
</body>
</html>
)PAGE";

const char* const kRequestScript = R"SCRIPT("use strict";
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var store = window.localStorage || { getItem: function () { return null; }, setItem: function () {} };
  var chosen = null;
  var lastSearch = null;
  var timer = 0;

  function say(text, isError) {
    $("status").textContent = text;
    $("status").className = isError ? "error" : "";
  }

  function answerOf(response) {
    return response.json().then(function (body) { return { status: response.status, body: body }; },
      function () { return { status: response.status, body: { error: "The host's program gave an unreadable answer." } }; });
  }

  function needCode() {
    $("code-form").hidden = false;
    $("code").focus();
    say("Type the venue code the host shows.", true);
  }

  function show(songs, more) {
    var list = $("results");
    list.textContent = "";
    songs.forEach(function (song) {
      var item = document.createElement("li");
      var button = document.createElement("button");
      button.type = "button";
      button.setAttribute("aria-pressed", "false");
      var number = document.createElement("span");
      number.className = "number";
      number.textContent = song.number;
      var title = document.createElement("span");
      title.textContent = song.title;
      var artist = document.createElement("span");
      artist.className = "artist";
      artist.textContent = song.artist;
      button.append(number, title, artist);
      button.addEventListener("click", function () { choose(song, button); });
      item.appendChild(button);
      list.appendChild(item);
    });
    say(songs.length === 0 ? "No songs found." :
        songs.length + (more ? "+" : "") + " song" + (songs.length === 1 ? "" : "s") + " found. Choose one.", false);
  }

  function choose(song, button) {
    chosen = song;
    Array.prototype.forEach.call(document.querySelectorAll("#results button"), function (b) {
      b.setAttribute("aria-pressed", b === button ? "true" : "false");
    });
    $("chosen").textContent = "Request: " + song.number + " - " + song.title + " (" + song.artist + ")";
    $("request-form").hidden = false;
    $("name").value = store.getItem("name") || "";
    $("name").focus();
  }

  function search() {
    var text = $("q").value;
    if (text === lastSearch) return;
    lastSearch = text;
    say("Searching...", false);
    var url = "/search?q=" + encodeURIComponent(text) + "&code=" + encodeURIComponent(store.getItem("code") || "");
    fetch(url).then(answerOf).then(function (a) {
      if (text !== lastSearch) return;
      if (a.status === 200) return show(a.body.songs, a.body.more);
      lastSearch = null;
      if (a.body.needCode) return needCode();
      say(a.body.error, true);
    }, function () { lastSearch = null; say("The host's program cannot be reached. Are you on the venue's network?", true); });
  }

  $("search-form").addEventListener("submit", function (e) { e.preventDefault(); clearTimeout(timer); search(); });
  $("q").addEventListener("input", function () { clearTimeout(timer); timer = setTimeout(search, 400); });

  $("code-form").addEventListener("submit", function (e) {
    e.preventDefault();
    store.setItem("code", $("code").value);
    $("code-form").hidden = true;
    lastSearch = null;
    search();
  });

  $("request-form").addEventListener("submit", function (e) {
    e.preventDefault();
    if (!chosen) return;
    var name = $("name").value.trim();
    store.setItem("name", name);
    say("Sending...", false);
    fetch("/request", {
      method: "POST",
      headers: { "Content-Type": "application/json" },
      body: JSON.stringify({ row: chosen.row, name: name, code: store.getItem("code") || "" })
    }).then(answerOf).then(function (a) {
      if (a.status === 200) {
        $("request-form").hidden = true;
        chosen = null;
        return say(a.body.message, false);
      }
      if (a.body.needCode) return needCode();
      say(a.body.error, true);
    }, function () { say("The request did not reach the host. Try again.", true); });
  });

  say("Type part of a title or an artist, or a song number.", false);
})();
)SCRIPT";

}  // namespace velloran
