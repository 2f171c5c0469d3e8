#pragma once

#include <string>

namespace vorsa {

class MainHost;

// The two IP-echo pages "网页验证" alternates between.
std::string externalEchoUrl();  // hosts key "echo", "/showip.asp"
std::string makerEchoUrl();     // hosts key "maker", "/yourip.php"
// The page the browser panel opens at start-up: hosts key "maker", "/proxy/showip.asp".
std::string startupEchoUrl();

// "网页验证": tag 1 opens the maker's page, anything else the external one; the other page's
// cached copies are deleted, so the next press fetches it anew. tag is btnvail's Tag.
void actvailExecute(MainHost& host, int& tag);

// Deletes every normal entry of the URL cache whose source URL contains target.
void delcache(const std::string& target);

}  // namespace vorsa
