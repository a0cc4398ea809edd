'use strict';

(function () {
  var params = new URLSearchParams(location.search);
  document.getElementById('here').textContent = location.origin + location.pathname;

  // The demo on another port passes its own address so this page can link
  // back to it. Only a https address on this same host is followed, so the
  // parameter cannot turn this page into a way off to somewhere else.
  var back = params.get('back');
  if (back) {
    try {
      var url = new URL(back);
      if (url.protocol === 'https:' && url.hostname === location.hostname) {
        document.getElementById('home').href = url.href;
        if (url.port !== location.port) {
          document.getElementById('why').textContent =
            'Same host as the demo, another port. The shell compares hosts, not ports, ' +
            'so it kept this page in the window instead of sending it to your browser.';
        }
      }
    } catch (e) {
      // not a URL: keep the link to this origin's own start page
    }
  }
})();
