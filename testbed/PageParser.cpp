#include "testbed/PageParser.h"

#include <cctype>
#include <cstdlib>
#include <map>

namespace {

std::string Lower(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void AppendUtf8(std::string& out, unsigned long code)
{
    if (code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        code = 0xFFFD;
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | code >> 6);
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | code >> 12);
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | code >> 18);
        out += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

struct Tag {
    std::string name;  // lower case; "/object" for an end tag
    std::map<std::string, std::string> attributes;  // lower-case names, decoded values
};

// Reads the tag that starts at html[at] == '<'; at moves past its '>'.
Tag ReadTag(const std::string& html, size_t& at)
{
    Tag tag;
    size_t i = at + 1;
    auto skipSpace = [&] {
        while (i < html.size() && std::isspace(static_cast<unsigned char>(html[i])))
            ++i;
    };
    const size_t nameStart = i;
    while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) && html[i] != '>' &&
           !(html[i] == '/' && i > nameStart))
        ++i;
    tag.name = Lower(html.substr(nameStart, i - nameStart));
    for (;;) {
        skipSpace();
        if (i >= html.size() || html[i] == '>')
            break;
        if (html[i] == '/') {
            ++i;
            continue;
        }
        const size_t attributeStart = i;
        while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) && html[i] != '=' &&
               html[i] != '>' && html[i] != '/')
            ++i;
        std::string name = Lower(html.substr(attributeStart, i - attributeStart));
        skipSpace();
        std::string value;
        if (i < html.size() && html[i] == '=') {
            ++i;
            skipSpace();
            if (i < html.size() && (html[i] == '"' || html[i] == '\'')) {
                const char quote = html[i++];
                const size_t end = html.find(quote, i);
                value = html.substr(i, end == std::string::npos ? std::string::npos : end - i);
                i = end == std::string::npos ? html.size() : end + 1;
            } else {
                const size_t valueStart = i;
                while (i < html.size() && !std::isspace(static_cast<unsigned char>(html[i])) && html[i] != '>')
                    ++i;
                value = html.substr(valueStart, i - valueStart);
            }
        }
        if (!name.empty() && !tag.attributes.count(name))
            tag.attributes[name] = DecodeEntities(value);
    }
    at = i < html.size() ? i + 1 : html.size();
    return tag;
}

}  // namespace

std::string DecodeEntities(const std::string& text)
{
    static const std::map<std::string, unsigned long> kNamed = {{"amp", '&'},  {"lt", '<'},    {"gt", '>'},
                                                                {"quot", '"'}, {"apos", '\''}, {"nbsp", 0xA0}};
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t end = text[i] == '&' ? text.find(';', i) : std::string::npos;
        if (end == std::string::npos || end - i > 12) {
            out += text[i];
            continue;
        }
        const std::string name = text.substr(i + 1, end - i - 1);
        unsigned long code = 0;
        bool known = false;
        char* rest = nullptr;
        if (name.size() > 2 && name[0] == '#' && (name[1] == 'x' || name[1] == 'X')) {
            code = std::strtoul(name.c_str() + 2, &rest, 16);
            known = !*rest;
        } else if (name.size() > 1 && name[0] == '#') {
            code = std::strtoul(name.c_str() + 1, &rest, 10);
            known = !*rest;
        } else if (kNamed.count(name)) {
            code = kNamed.at(name);
            known = true;
        }
        if (!known) {
            out += text[i];
            continue;
        }
        AppendUtf8(out, code);
        i = end;
    }
    return out;
}

PageObject ParsePage(const std::string& html)
{
    PageObject page;
    bool inObject = false, inTitle = false;
    size_t titleStart = 0;
    for (size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at)) {
        if (html.compare(at, 4, "<!--") == 0) {
            const size_t end = html.find("-->", at + 4);
            at = end == std::string::npos ? html.size() : end + 3;
            continue;
        }
        const size_t tagStart = at;
        Tag tag = ReadTag(html, at);
        if (tag.name == "title" && page.title.empty()) {
            inTitle = true;
            titleStart = at;
        } else if (tag.name == "/title" && inTitle) {
            page.title = DecodeEntities(html.substr(titleStart, tagStart - titleStart));
            inTitle = false;
        } else if (tag.name == "object" && !page.found) {
            const std::string classId = tag.attributes["classid"];
            if (Lower(classId.substr(0, 6)) == "clsid:") {
                page.found = inObject = true;
                page.classId = "{" + classId.substr(6) + "}";
                page.codebase = tag.attributes["codebase"];
            }
        } else if (tag.name == "param" && inObject && tag.attributes.count("name")) {
            page.params.emplace_back(tag.attributes["name"], tag.attributes["value"]);
        } else if (tag.name == "/object" && inObject) {
            inObject = false;
        }
    }
    return page;
}
