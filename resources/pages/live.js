// Keeps the element with id "live" up to date. In Wendrix's own window
// the part is handed over through window.wendrixLive whenever it changes,
// with its tag, and the page asks for nothing while hand-overs come. Else,
// or once none came for a few seconds, it asks its data-source: each
// request names the tag of what the page shows, and the server answers it
// once the part differs from that, so a page at rest asks about every
// 20 s; requests never go out more often than once a second. A new part
// changes only the texts and elements that differ, so that the browser
// lays out and paints no more than that.
(function () {
  var box = document.getElementById("live");
  if (!box || !window.XMLHttpRequest) return;
  var source = box.getAttribute("data-source");
  var last = null;
  var tag = "";
  var handedAt = null;
  var pending = null;
  var quietAfterHandOver = 5000;

  function sameAttributes(x, y) {
    var a = x.attributes, b = y.attributes, i;
    if (a.length !== b.length) return false;
    for (i = 0; i < b.length; i++)
      if (x.getAttribute(b[i].name) !== b[i].value) return false;
    return true;
  }

  // Makes the children of `into` those of `from`, keeping the nodes that
  // match; false, with `into` possibly half done, when their number differs.
  function patch(into, from) {
    var a = into.childNodes, b = from.childNodes, i;
    if (a.length !== b.length) return false;
    for (i = 0; i < b.length; i++) {
      var x = a[i], y = b[i];
      var same = x.nodeType === y.nodeType && x.nodeName === y.nodeName;
      if (same && x.nodeType === 3) {
        if (x.nodeValue !== y.nodeValue) x.nodeValue = y.nodeValue;
      } else if (!same || (x.nodeType === 1 && !(sameAttributes(x, y) && patch(x, y)))) {
        into.replaceChild(y.cloneNode(true), x);
      }
    }
    return true;
  }

  function show(html) {
    if (html === last) return;
    last = html;
    var fresh = document.createElement("div");
    fresh.innerHTML = html;
    if (!patch(box, fresh)) box.innerHTML = html;
  }

  function now() { return new Date().getTime(); }

  window.wendrixLive = function (html, handedTag) {
    handedAt = now();
    if (handedTag) tag = handedTag;
    if (pending) {
      var request = pending;
      pending = null;
      request.abort();
    }
    show(html);
  };

  function poll() {
    var quiet = handedAt === null ? quietAfterHandOver : now() - handedAt;
    if (quiet < quietAfterHandOver) {
      window.setTimeout(poll, quietAfterHandOver - quiet);
      return;
    }
    var started = now();
    var request = new XMLHttpRequest();
    pending = request;
    function next() {
      var wait = 1000 - (now() - started);
      window.setTimeout(poll, wait > 0 ? wait : 0);
    }
    request.onreadystatechange = function () {
      if (request.readyState !== 4 || request !== pending) return;
      pending = null;
      if (request.status === 200) {
        tag = request.getResponseHeader("X-Live-Tag") || "";
        show(request.responseText);
      } else {
        tag = "";
      }
      next();
    };
    try {
      // The time keeps older engines from answering out of their cache.
      request.open("GET", source + "&since=" + encodeURIComponent(tag) + "&t=" + now(), true);
      request.send(null);
    } catch (e) {
      next();
    }
  }
  window.setTimeout(poll, 1000);
})();
