#include "pages.h"

#include <cstdio>

#include "origin_server.h"

namespace corvidale::e2e {

std::string jsString(const std::string& text) {
    std::string literal = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            literal += '\\';
            literal += static_cast<char>(c);
        } else if (c < 0x20 || c == '<') {
            // "<" too, so that "</script>" in a value cannot end the script.
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            literal += escaped;
        } else {
            literal += static_cast<char>(c);
        }
    }
    return literal + "\"";
}

std::string stepsPage(const std::vector<Step>& steps, const std::string& title) {
    std::string list = "[";
    for (const auto& step : steps) {
        list += "{href:" + jsString(step.href) + ",target:" + jsString(step.target) +
                ",open:" + jsString(step.windowOpen) + "},";
    }
    list += "]";
    return std::string("<!doctype html><html><head><meta charset=\"utf-8\"><title>") + title + "</title>" +
           R"HTML(<style>
html, body { margin: 0; height: 100%; }
#go { position: fixed; inset: 0; display: flex; align-items: center; justify-content: center;
      font: 32px sans-serif; background: #2a6f4e; color: #fff; text-decoration: none; }
</style>)HTML" +
           kReportScript + R"HTML(</head><body><a id="go" href="#">waiting</a>
<script>
var steps = )HTML" + list +
           R"HTML(;
var index = -1;
var go = document.getElementById('go');
function arm(i) {
  index = i;
  go.href = steps[i].href || '#';
  go.target = steps[i].target;
  go.textContent = 'step ' + i;
  report('armed ' + i);
}
go.addEventListener('click', function (event) {
  var i = index;
  if (i < 0) { event.preventDefault(); return; }
  if (steps[i].open) {
    event.preventDefault();
    var opened = window.open(steps[i].open);
    report('clicked ' + i + ' window.open gave ' + (opened ? 'a window' : 'null'));
  } else {
    report('clicked ' + i);
  }
  index = -1;
  // After the link's own default action, which reads href as it is now.
  if (i + 1 < steps.length) setTimeout(function () { arm(i + 1); }, 0);
});
window.addEventListener('pagehide', function () {
  navigator.sendBeacon('/report', 'pagehide ' + location.pathname);
});
window.addEventListener('load', function () { if (steps.length) arm(0); });
</script></body></html>)HTML";
}

}  // namespace corvidale::e2e
