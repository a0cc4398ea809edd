#include "notification_controller.h"

namespace corvidale {
namespace {

// Notification for the top frame, answered by the shell. The page may call
// the answering functions itself: it only fools its own copy of the state,
// since the shell checks every notification it is sent.
constexpr const char* kBridgeSource = R"JS((function () {
  if (window.top !== window) return;
  var handler = window.webkit && window.webkit.messageHandlers && window.webkit.messageHandlers.corvidaleNotification;
  if (!handler) return;
  var state = '@STATE@', counter = 0, shown = {}, waiting = [];
  var post = function (message) { handler.postMessage(JSON.stringify(message)); };
  var later = function (f) { setTimeout(f, 0); };
  function Notification(title, options) {
    if (!(this instanceof Notification)) throw new TypeError("Notification needs 'new'");
    options = options || {};
    var self = this, listeners = {}, id = Date.now() * 1024 + (++counter % 1024);
    this.title = String(title);
    this.body = options.body === undefined ? '' : String(options.body);
    this.tag = options.tag === undefined ? '' : String(options.tag);
    this.onclick = this.onclose = this.onshow = this.onerror = null;
    this.addEventListener = function (type, f) { (listeners[type] = listeners[type] || []).push(f); };
    this.removeEventListener = function (type, f) {
      listeners[type] = (listeners[type] || []).filter(function (g) { return g !== f; });
    };
    this._fire = function (type) {
      var event = {type: type, target: self};
      if (typeof self['on' + type] === 'function') self['on' + type](event);
      (listeners[type] || []).slice().forEach(function (f) { f.call(self, event); });
    };
    this.close = function () {
      if (!shown[id]) return;
      delete shown[id];
      post({type: 'close', id: id});
      later(function () { self._fire('close'); });
    };
    if (state !== 'granted') { later(function () { self._fire('error'); }); return; }
    for (var other in shown) {
      if (self.tag && shown[other].tag === self.tag) delete shown[other];
    }
    shown[id] = self;
    post({type: 'show', id: id, title: this.title, body: this.body, tag: this.tag});
    later(function () { self._fire('show'); });
  }
  Object.defineProperty(Notification, 'permission', {get: function () { return state; }});
  Notification.requestPermission = function (callback) {
    return new Promise(function (resolve) {
      waiting.push(function (answer) { if (typeof callback === 'function') callback(answer); resolve(answer); });
      post({type: 'request'});
    });
  };
  Object.defineProperty(window, '__corvidaleNotifications', {value: Object.freeze({
    answer: function (answer) {
      state = answer; var w = waiting; waiting = []; w.forEach(function (f) { f(answer); });
    },
    clicked: function (id) { var n = shown[id]; if (n) { delete shown[id]; n._fire('click'); } }
  })});
  window.Notification = Notification;
})();)JS";

}  // namespace

platform::UserScript notificationBridgeScript(bool granted) {
    std::string source = kBridgeSource;
    const std::string placeholder = "@STATE@";
    source.replace(source.find(placeholder), placeholder.size(), granted ? "granted" : "default");
    // At the start, so that the page's own scripts find it.
    return {source, false, true};
}

}  // namespace corvidale
