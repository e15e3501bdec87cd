// SPDX-License-Identifier: GPL-3.0-or-later
// The page's language from the browser's Accept-Language: English when the
// language the browser prefers most is English, Chinese otherwise (also when
// it names none), as the window follows the messages locale.
#pragma once

#include <string>

// "en" or "zh-CN", the value of the page's lang attribute. The header is a
// list of language ranges with optional weights ("en-GB,en;q=0.9,zh;q=0.8");
// the range with the highest weight decides, the first of equal ones;
// ranges of weight 0 and malformed ones count for nothing.
std::string PageLanguage(const std::string& acceptLanguage);

// The page with its lang attribute set to `language`.
std::string PageInLanguage(const std::string& page, const std::string& language);
