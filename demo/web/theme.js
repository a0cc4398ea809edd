// Loaded in <head>, before the body exists, so the very first paint is already
// in the page's theme. The shell reads the `light` class on <html> when the
// document has been parsed; a flash of the wrong theme here would reach the
// window too.
(function () {
  'use strict';
  var theme = null;
  try {
    // A link to this demo on another port carries the theme along, because
    // stored settings belong to one origin and the port is part of it.
    theme = new URLSearchParams(location.search).get('theme');
    if (theme !== 'light' && theme !== 'dark') theme = localStorage.getItem('corvidale-demo-theme');
  } catch (e) {
    theme = null;  // storage can be switched off; dark is the default then
  }
  if (theme === 'light') document.documentElement.classList.add('light');
})();
