// Keeps the element with id "live" up to date from its data-source,
// replacing its content only when the server's answer changed. Each request
// names the tag of what the page shows, and the server answers it once the
// part differs from that, so a page at rest asks about every 20 s. Requests
// never go out more often than once a second.
(function () {
  var box = document.getElementById("live");
  if (!box || !window.XMLHttpRequest) return;
  var source = box.getAttribute("data-source");
  var last = null;
  var tag = "";
  function now() { return new Date().getTime(); }
  function poll() {
    var started = now();
    var request = new XMLHttpRequest();
    function next() {
      var wait = 1000 - (now() - started);
      window.setTimeout(poll, wait > 0 ? wait : 0);
    }
    request.onreadystatechange = function () {
      if (request.readyState !== 4) return;
      if (request.status === 200) {
        tag = request.getResponseHeader("X-Live-Tag") || "";
        if (request.responseText !== last) {
          last = request.responseText;
          box.innerHTML = last;
        }
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
