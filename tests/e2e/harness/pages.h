#pragma once

#include <string>
#include <vector>

namespace corvidale::e2e {

// One thing the user does on a steps page: click a link (href, optionally
// with a target), or click something whose handler calls window.open(url).
struct Step {
    std::string href;
    std::string target;
    std::string windowOpen;

    static Step link(std::string href, std::string target = {}) { return {std::move(href), std::move(target), {}}; }
    static Step open(std::string url) { return {{}, {}, std::move(url)}; }
};

// A page that fills the whole web view with one link, so that a click
// anywhere in the view is a real user click on it. It arms the steps one by
// one: "armed N" is reported when step N waits for its click, "clicked N …"
// when it got it, "pagehide <path>" if the page is ever left.
std::string stepsPage(const std::vector<Step>& steps, const std::string& title = "Steps");

// Text as a JavaScript string literal.
std::string jsString(const std::string& text);

}  // namespace corvidale::e2e
