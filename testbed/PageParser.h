// Finds the control's <object> element of an HTML page, as a browser would:
// its class id, its codebase and its <param> children, and the page's title.
//
// Tag and attribute names are matched ignoring case; values may be quoted
// with " or ' or not at all; character references (&amp; &#22260; &#x68cb;
// ...) are decoded. Text is UTF-8 in and out.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct PageObject {
    bool found = false;
    std::string classId;  // the GUID after "clsid:", in braces: "{...}"
    std::string codebase;
    std::vector<std::pair<std::string, std::string>> params;  // name, value in page order
    std::string title;
};

// The first <object> with a "clsid:" class id.
PageObject ParsePage(const std::string& html);

// Decodes character references; unknown ones stay as written.
std::string DecodeEntities(const std::string& text);
