#pragma once

#include <string>
#include <string_view>
#include <vector>

// The system files adapter enumeration reads besides getifaddrs. Parsing
// takes the file text, so it can be tried on samples.

// Whole text of a file; empty when it cannot be read (a missing file is no
// error: the fields it would fill stay empty).
std::string ReadTextFile(const std::string &path);

// Distinct gateways, as dotted text in the order of the table, of the routes
// of `interfaceName` in /proc/net/route text.
std::vector<std::string> ParseRouteGateways(std::string_view routeText,
                                            std::string_view interfaceName);

// IPv4 name servers of resolv.conf text, as dotted text in file order.
std::vector<std::string> ParseNameServers(std::string_view resolvText);
