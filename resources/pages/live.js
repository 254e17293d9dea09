// Refreshes the element with id "live" from its data-source about once a
// second, replacing its content only when the server's answer changed.
(function () {
  var box = document.getElementById("live");
  if (!box || !window.XMLHttpRequest) return;
  var source = box.getAttribute("data-source");
  var last = null;
  function later() { window.setTimeout(poll, 1000); }
  function poll() {
    var request = new XMLHttpRequest();
    request.onreadystatechange = function () {
      if (request.readyState !== 4) return;
      if (request.status === 200 && request.responseText !== last) {
        last = request.responseText;
        box.innerHTML = last;
      }
      later();
    };
    try {
      // The time keeps older engines from answering out of their cache.
      request.open("GET", source + "&t=" + new Date().getTime(), true);
      request.send(null);
    } catch (e) {
      later();
    }
  }
  later();
})();
