#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace corvidale::platform {

// Response codes as the desktop platform numbers them.
constexpr int kAlertFirstButtonReturn = 1000;
constexpr int kModalResponseOK = 1;
constexpr int kModalResponseCancel = 0;
constexpr int kModalResponseAbort = -1001;  // ended without a button (window closed)

struct TextField {
    double width = 260;
    double height = 22;
    std::string text;
};

struct Checkbox {
    std::string title;
    bool on = false;
};

struct AlertContent {
    std::string messageText;
    // The title of the alert's own window where the platform gives it one (a
    // sheet has none); nullopt: the message text.
    std::optional<std::string> windowTitle;
    std::optional<std::string> informativeText;
    // Plain text shown read-only and scrollable under the informative text,
    // under the heading "What's new" (a release's notes).
    std::optional<std::string> notes;
    std::vector<std::string> buttons;  // response of button i is kAlertFirstButtonReturn + i
    std::optional<TextField> textField;
    std::optional<Checkbox> checkbox;
};

struct AlertResult {
    int response = kModalResponseAbort;
    std::string text;   // the text field's text, when there is one
    bool checked = false;  // the checkbox's state, when there is one
};

struct OpenPanelParameters {
    bool allowsDirectories = false;
    bool allowsMultipleSelection = false;
};

enum class Presentation { SheetOnWindow, ApplicationModal };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Returns as soon as the alert is showing; `done` runs once when it ends.
    virtual void showAlert(const AlertContent& content, Presentation presentation,
                           std::function<void(AlertResult)> done) = 0;
    // Files are always choosable. `done` gets kModalResponseOK and the chosen
    // paths in the panel's order, or another response and no paths.
    virtual void showOpenPanel(const OpenPanelParameters& parameters,
                               std::function<void(int response, std::vector<std::string> paths)> done) = 0;
};

}  // namespace corvidale::platform
