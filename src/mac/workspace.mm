#include "workspace.h"

#import <AppKit/AppKit.h>

#include "ns_text.h"

namespace corvidale::mac {

bool MacWorkspace::openURL(const std::string& url) {
    NSURL* target = [NSURL URLWithString:toNSString(url)];
    if (target == nil) return false;
    return [[NSWorkspace sharedWorkspace] openURL:target];
}

void MacWorkspace::revealFiles(const std::vector<std::string>& paths) {
    NSMutableArray<NSURL*>* urls = [NSMutableArray arrayWithCapacity:paths.size()];
    for (const auto& path : paths) [urls addObject:fileURL(path)];
    [[NSWorkspace sharedWorkspace] activateFileViewerSelectingURLs:urls];
}

std::optional<std::string> MacWorkspace::downloadsDirectory() {
    NSArray<NSURL*>* folders = [[NSFileManager defaultManager] URLsForDirectory:NSDownloadsDirectory
                                                                      inDomains:NSUserDomainMask];
    NSURL* first = [folders firstObject];
    if (first == nil) return std::nullopt;
    return toStdString([first path]);
}

}  // namespace corvidale::mac
