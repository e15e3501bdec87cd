// SPDX-License-Identifier: GPL-3.0-or-later
#include "http/PageLanguage.h"

#include <cctype>
#include <cstdlib>

namespace {

std::string Trimmed(const std::string& text) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
    while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
    return text.substr(first, last - first);
}

// The weight of one range's parameters ("q=0.8"): 1 without one, -1 when
// it is not a number from 0 to 1.
double Weight(const std::string& parameters) {
    const std::string p = Trimmed(parameters);
    if (p.empty()) return 1.0;
    if (p.size() < 3 || (p[0] != 'q' && p[0] != 'Q') || p[1] != '=') return -1.0;
    const char* start = p.c_str() + 2;
    char* end = nullptr;
    const double q = std::strtod(start, &end);
    if (end == start || *end != '\0' || !(q >= 0.0 && q <= 1.0)) return -1.0;
    return q;
}

}  // namespace

std::string PageLanguage(const std::string& acceptLanguage) {
    std::string best;
    double bestWeight = 0.0;
    size_t from = 0;
    while (from <= acceptLanguage.size()) {
        size_t comma = acceptLanguage.find(',', from);
        if (comma == std::string::npos) comma = acceptLanguage.size();
        const std::string item = acceptLanguage.substr(from, comma - from);
        from = comma + 1;
        const size_t semicolon = item.find(';');
        const std::string range = Trimmed(item.substr(0, semicolon));
        const double weight = semicolon == std::string::npos ? 1.0 : Weight(item.substr(semicolon + 1));
        if (range.empty() || weight <= bestWeight) continue;
        best = range;
        bestWeight = weight;
    }
    const bool english = best.size() >= 2 && std::tolower(static_cast<unsigned char>(best[0])) == 'e' &&
                         std::tolower(static_cast<unsigned char>(best[1])) == 'n' &&
                         (best.size() == 2 || best[2] == '-');
    return english ? "en" : "zh-CN";
}

std::string PageInLanguage(const std::string& page, const std::string& language) {
    static const std::string kAttribute = "<html lang=\"zh-CN\">";
    const size_t at = page.find(kAttribute);
    if (at == std::string::npos || language == "zh-CN") return page;
    std::string result = page;
    result.replace(at, kAttribute.size(), "<html lang=\"" + language + "\">");
    return result;
}
