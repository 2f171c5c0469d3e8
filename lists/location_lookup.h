#pragma once

#include "platform/page_download.h"
#include "table/main_host.h"

#include <string>
#include <string_view>

namespace vorsa {

// The "获取地理位置" pass: every record whose location is blank gets the location the
// IP-lookup site gives for its address, else the offline one (offlineLocation), else "未知";
// the grid is redrawn at the end.
void getcity(MainHost& host);

// The location the IP-lookup site (hosts key "iplookup") gives for ip, or "" when the
// download fails or the page holds none. The answer is kept in a job folder of the run folder
// under a name made safe from the address, and removed before this returns. Throws when the
// downloaded answer cannot be read.
std::string ipcity(const std::string& ip);

// The lookup URL: base + "/ips.asp?ip=" + ip + "&action=2", the address percent-encoded
// except for letters, digits and "-._~:", so that its text cannot change the request.
std::string ipcityUrl(const std::string& base, std::string_view ip);

// The location text of an answer page (GBK bytes): after the first "：" of the marker line,
// up to the line's first "</li>"; "" when the page does not have that layout.
std::string locationFromPage(std::string_view page);

// Limits of one lookup download: short, so that a site that does not answer holds the window
// for seconds, not minutes. Tests may set their own.
DownloadLimits lookupLimits();
void setLookupLimits(const DownloadLimits& limits);

}  // namespace vorsa
