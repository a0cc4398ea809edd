// Loaded by the engine into each web process of the shell: it reports which
// frame asks for what, since the engine's calls into the shell do not say.
// It watches and reports; it decides nothing and changes nothing the page
// does.
#include <webkit/webkit-web-process-extension.h>

#include <string>

#include "frame_messages.h"

namespace {

using namespace corvidale::frames;

WebKitWebProcessExtension* theExtension = nullptr;
WebKitScriptWorld* ownWorld = nullptr;

// One frame's window, for the functions installed in it.
struct Bound {
    guint64 pageId;
    WebKitFrame* frame;
};

void freeBound(gpointer data) {
    auto* bound = static_cast<Bound*>(data);
    g_object_unref(bound->frame);
    delete bound;
}

Bound* bind(WebKitWebPage* page, WebKitFrame* frame) {
    return new Bound{webkit_web_page_get_id(page), WEBKIT_FRAME(g_object_ref(frame))};
}

// The document's origin as the extension's own world reads it: page scripts
// can redefine `origin` in theirs, not here.
std::string originOf(WebKitFrame* frame) {
    g_autoptr(JSCContext) context = webkit_frame_get_js_context_for_script_world(frame, ownWorld);
    if (context == nullptr) return "null";
    g_autoptr(JSCValue) value = jsc_context_evaluate(context, "self.origin", -1);
    if (jsc_context_get_exception(context) != nullptr || value == nullptr || !jsc_value_is_string(value)) {
        jsc_context_clear_exception(context);
        return "null";
    }
    g_autofree char* text = jsc_value_to_string(value);
    return text != nullptr ? text : "null";
}

void tell(const Bound& bound, const char* name, GVariant* parameters) {
    WebKitWebPage* page = webkit_web_process_extension_get_page(theExtension, bound.pageId);
    if (page == nullptr) {
        if (parameters != nullptr) g_variant_unref(g_variant_ref_sink(parameters));
        return;
    }
    webkit_web_page_send_message_to_view(page, webkit_user_message_new(name, parameters), nullptr, nullptr, nullptr);
}

void onPress(GPtrArray*, gpointer data) {
    const auto& bound = *static_cast<Bound*>(data);
    tell(bound, kPressMessage,
         g_variant_new(kFrameFactsType, webkit_frame_get_id(bound.frame), webkit_frame_is_main_frame(bound.frame),
                       originOf(bound.frame).c_str()));
}

// bracket(name, apply, original, this, args): the call, told before and
// after. Both messages are sent from here, so no script can have one
// without the other.
JSCValue* onBracket(GPtrArray* arguments, gpointer data) {
    const auto& bound = *static_cast<Bound*>(data);
    if (arguments->len != 5) return nullptr;
    auto** argument = reinterpret_cast<JSCValue**>(arguments->pdata);
    JSCContext* context = jsc_value_get_context(argument[1]);
    g_autofree char* name = jsc_value_to_string(argument[0]);
    tell(bound, kEnterMessage,
         g_variant_new(kCallType, webkit_frame_get_id(bound.frame), webkit_frame_is_main_frame(bound.frame),
                       originOf(bound.frame).c_str(), name != nullptr ? name : ""));
    JSCValue* result = jsc_value_function_call(argument[1], JSC_TYPE_VALUE, argument[2], JSC_TYPE_VALUE, argument[3],
                                               JSC_TYPE_VALUE, argument[4], G_TYPE_NONE);
    tell(bound, kLeaveMessage, nullptr);
    if (JSCException* thrown = jsc_context_get_exception(context)) {
        g_object_ref(thrown);
        jsc_context_clear_exception(context);
        jsc_context_throw_exception(context, thrown);  // on to the caller, as if nothing stood between
        g_object_unref(thrown);
    }
    return result;
}

// Trusted presses only: a page can dispatch events of its own, never with
// isTrusted set. Modifier keys alone are no action.
constexpr const char* kPressListeners = R"JS((function (press) {
  var alone = ['Shift', 'Control', 'Alt', 'AltGraph', 'Meta', 'CapsLock', 'Fn', 'OS', 'Super', 'Hyper'];
  function listen(event) {
    if (event.isTrusted && !(event.type === 'keydown' && alone.indexOf(event.key) >= 0)) press();
  }
  addEventListener('pointerdown', listen, true);
  addEventListener('keydown', listen, true);
}))JS";

// Run in the page's own world before any of its scripts: the functions that
// can reach the shell go through bracket(). The page may replace them again
// or reach the engine's by other ways; what it asks for then is asked by a
// frame the shell cannot name, which is refused.
constexpr const char* kBrackets = R"JS((function (bracket) {
  var apply = Reflect.apply, describe = Object.getOwnPropertyDescriptor, define = Object.defineProperty;
  var eventType = describe(Event.prototype, 'type').get;
  function wrap(target, name, when) {
    var own = describe(target, name);
    if (!own || typeof own.value !== 'function') return;
    var original = own.value;
    own.value = {[name](...args) {
      return when && !when(args) ? apply(original, this, args) : bracket(name, apply, original, this, args);
    }}[name];
    define(target, name, own);
  }
  function isClick(args) {
    try { return apply(eventType, args[0], []) === 'click'; } catch (e) { return false; }
  }
  var names = ['alert', 'confirm', 'prompt', 'print', 'open'];
  for (var i = 0; i < names.length; i++) wrap(window, names[i]);
  wrap(HTMLElement.prototype, 'click');
  wrap(EventTarget.prototype, 'dispatchEvent', isClick);
}))JS";

void install(JSCContext* context, const char* source, JSCValue* native) {
    g_autoptr(JSCValue) installer = jsc_context_evaluate(context, source, -1);
    g_autoptr(JSCValue) done = installer != nullptr
                                   ? jsc_value_function_call(installer, JSC_TYPE_VALUE, native, G_TYPE_NONE)
                                   : nullptr;
    if (JSCException* thrown = jsc_context_get_exception(context)) {
        g_warning("corvidale frames: %s", jsc_exception_get_message(thrown));
        jsc_context_clear_exception(context);
    }
}

void onWindowCleared(WebKitScriptWorld* world, WebKitWebPage* page, WebKitFrame* frame, gpointer) {
    g_autoptr(JSCContext) context = webkit_frame_get_js_context_for_script_world(frame, world);
    if (context == nullptr) return;
    if (world == ownWorld) {
        g_autoptr(JSCValue) press = jsc_value_new_function_variadic(context, "press", G_CALLBACK(onPress),
                                                                    bind(page, frame), freeBound, G_TYPE_NONE);
        install(context, kPressListeners, press);
    } else {
        g_autoptr(JSCValue) bracket = jsc_value_new_function_variadic(context, "bracket", G_CALLBACK(onBracket),
                                                                      bind(page, frame), freeBound, JSC_TYPE_VALUE);
        install(context, kBrackets, bracket);
    }
}

}  // namespace

extern "C" G_MODULE_EXPORT void webkit_web_process_extension_initialize(WebKitWebProcessExtension* extension) {
    theExtension = extension;
    ownWorld = webkit_script_world_new_with_name(kScriptWorld);
    g_signal_connect(ownWorld, "window-object-cleared", G_CALLBACK(onWindowCleared), nullptr);
    g_signal_connect(webkit_script_world_get_default(), "window-object-cleared", G_CALLBACK(onWindowCleared), nullptr);
}
