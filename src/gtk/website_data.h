#pragma once

#include <webkit/webkit.h>

#include <string>

namespace corvidale::gtk {

// Shares of the volume that site storage may take: each site (the
// application's own and every frame's), and all of them together.
inline constexpr double kOriginStorageRatio = 0.02;
inline constexpr double kTotalStorageRatio = 0.05;

// Readies the engine's data folder (cookies, site storage) and cache folder,
// both named `name`, before the engine starts: the folders of builds that
// used the old name move in, anything in their place that is not a folder
// (a dangling link, a file) is set aside, and both are made, or tightened,
// to be the user's alone, with nothing inside readable by others; no link
// is followed to change anything. A folder, or anything in it, that belongs
// to another user, or that cannot be made private, is said on standard
// error, and the run then keeps its website data in memory only.
void prepareWebsiteFolders(const std::string& name);

// The network session every web view of the shell uses: cookies kept on
// disk in a store that opens, site storage within the quotas above; kept in
// memory only when the folders were refused.
WebKitNetworkSession* persistentNetworkSession();

// Sets the cookie store at `path` aside when the engine could not open it
// (not a regular file, not a database); answers whether it did.
bool setAsideUnusableCookieStore(const std::string& path);

}  // namespace corvidale::gtk
