// Parsing, formatting and editing of an INI file's lines.
#include "common/ini_document.h"

#include <climits>

namespace tavik::ini {
namespace {

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

std::string unquote(std::string_view v) {
    if (v.size() >= 2 && ((v.front() == '"' && v.back() == '"') || (v.front() == '\'' && v.back() == '\'')))
        v = v.substr(1, v.size() - 2);
    return std::string(v);
}

bool validName(std::string_view s) {
    return !trim(s).empty() && s.find_first_of("\r\n") == std::string_view::npos;
}

}  // namespace

Document parse(std::string_view text) {
    Document doc;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string raw(text.substr(start, end - start));
        if (!raw.empty() && raw.back() == '\r') {
            raw.pop_back();
            doc.crlf = true;
        }
        Line line;
        line.raw = raw;
        std::string_view t = trim(raw);
        if (!t.empty() && t.front() == '[') {
            auto close = t.find(']');
            if (close != std::string_view::npos) {
                line.kind = Line::Section;
                line.name = std::string(trim(t.substr(1, close - 1)));
            }
        } else if (!t.empty() && t.front() != ';' && t.front() != '#') {
            auto eq = t.find('=');
            if (eq != std::string_view::npos) {
                line.kind = Line::Key;
                line.name = std::string(trim(t.substr(0, eq)));
                line.value = std::string(trim(t.substr(eq + 1)));
            }
        }
        doc.lines.push_back(std::move(line));
        start = end + 1;
    }
    return doc;
}

std::string format(const Document& doc) {
    std::string text;
    const char* eol = doc.crlf ? "\r\n" : "\n";
    for (const Line& l : doc.lines) {
        text += l.raw;
        text += eol;
    }
    return text;
}

long findKey(const Document& doc, std::string_view section, std::string_view key, long* sectionEnd) {
    bool inSection = false;
    long found = -1, end = -1;
    for (long i = 0; i < static_cast<long>(doc.lines.size()); ++i) {
        const Line& l = doc.lines[static_cast<size_t>(i)];
        if (l.kind == Line::Section) {
            inSection = equalNoCase(l.name, section);
            if (inSection && end < 0) end = i + 1;
            continue;
        }
        if (inSection) {
            if (l.kind == Line::Key) {
                end = i + 1;
                if (found < 0 && equalNoCase(l.name, key)) found = i;
            }
        }
    }
    if (sectionEnd) *sectionEnd = end;
    return found;
}

int32_t getInt(const Document& doc, std::string_view section, std::string_view key, int32_t defaultValue) {
    long i = findKey(doc, section, key, nullptr);
    if (i < 0) return defaultValue;
    std::string v = unquote(doc.lines[static_cast<size_t>(i)].value);
    const char* p = v.c_str();
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    long long value = 0;
    while (*p >= '0' && *p <= '9') {
        value = value * 10 + (*p++ - '0');
        if (value > static_cast<long long>(INT32_MAX) + 1) value = static_cast<long long>(INT32_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    return static_cast<int32_t>(value);
}

std::string getString(const Document& doc, std::string_view section, std::string_view key,
                      std::string_view defaultValue) {
    long i = findKey(doc, section, key, nullptr);
    if (i < 0) return std::string(defaultValue);
    return unquote(doc.lines[static_cast<size_t>(i)].value);
}

std::vector<std::pair<std::string, std::string>> getSection(const Document& doc, std::string_view section) {
    std::vector<std::pair<std::string, std::string>> out;
    bool inSection = false;
    for (const Line& l : doc.lines) {
        if (l.kind == Line::Section) inSection = equalNoCase(l.name, section);
        else if (inSection && l.kind == Line::Key) out.emplace_back(l.name, unquote(l.value));
    }
    return out;
}

std::vector<std::string> sectionNames(const Document& doc) {
    std::vector<std::string> out;
    for (const Line& l : doc.lines)
        if (l.kind == Line::Section) out.push_back(l.name);
    return out;
}

bool setString(Document& doc, std::string_view section, std::string_view key, std::string_view value) {
    if (!validName(section) || !validName(key) || key.find('=') != std::string_view::npos ||
        value.find_first_of("\r\n") != std::string_view::npos)
        return false;
    long sectionEnd = -1;
    long i = findKey(doc, section, key, &sectionEnd);
    Line line;
    line.kind = Line::Key;
    line.name = std::string(trim(key));
    line.value = std::string(value);
    line.raw = line.name + "=" + line.value;
    if (i >= 0) {
        doc.lines[static_cast<size_t>(i)] = line;
    } else if (sectionEnd >= 0) {
        doc.lines.insert(doc.lines.begin() + sectionEnd, line);
    } else {
        Line head;
        head.kind = Line::Section;
        head.name = std::string(trim(section));
        head.raw = "[" + head.name + "]";
        doc.lines.push_back(head);
        doc.lines.push_back(line);
    }
    return true;
}

bool deleteKey(Document& doc, std::string_view section, std::string_view key) {
    long i = findKey(doc, section, key, nullptr);
    if (i < 0) return false;
    doc.lines.erase(doc.lines.begin() + i);
    return true;
}

}  // namespace tavik::ini
