// The compositor's window tree: a small JSON reader (objects, arrays, strings with escapes,
// numbers, literals; bounded nesting) and the walk that picks out the windows.
#include "platform/desktop/wlroots/sway_tree.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <optional>
#include <utility>

namespace tavik::desktop::wayland {

namespace {

constexpr int kMaxDepth = 64;
// Values read from one reply at most (a real tree of hundreds of windows has tens of thousands);
// only the members the walk uses are kept, so a reply of millions of empty arrays costs neither
// a node each nor more than this many steps.
constexpr size_t kMaxValues = size_t{1} << 18;

bool keptMember(std::string_view key) {
    for (std::string_view k : {"id", "pid", "app_id", "window_properties", "class", "name", "focused", "rect",
                               "window_rect", "x", "y", "width", "height", "nodes", "floating_nodes"})
        if (key == k) return true;
    return false;
}

struct Json {
    enum class Type { Null, Bool, Number, String, Array, Object } type = Type::Null;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;        // Array, or an object's values
    std::vector<std::string> keys;  // Object: keys[i] names items[i]

    const Json* get(std::string_view key) const {
        if (type != Type::Object) return nullptr;
        for (size_t i = 0; i < keys.size() && i < items.size(); ++i)
            if (keys[i] == key) return &items[i];
        return nullptr;
    }
};

class Reader {
public:
    explicit Reader(std::string_view s) : s_(s) {}

    // Reads one value; false on a fault (what was built so far stays in `out`).
    bool value(Json& out, int depth) {
        if (depth > kMaxDepth || ++values_ > kMaxValues) return false;
        skip();
        if (at_ >= s_.size()) return false;
        const char c = s_[at_];
        if (c == '{') return object(out, depth);
        if (c == '[') return array(out, depth);
        if (c == '"') {
            out.type = Json::Type::String;
            return string(out.text);
        }
        if (literal("true")) {
            out.type = Json::Type::Bool;
            out.boolean = true;
            return true;
        }
        if (literal("false")) {
            out.type = Json::Type::Bool;
            return true;
        }
        if (literal("null")) return true;
        return number(out);
    }

private:
    void skip() {
        while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\n' || s_[at_] == '\r' || s_[at_] == '\t')) ++at_;
    }
    bool literal(std::string_view word) {
        if (s_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        return true;
    }
    bool number(Json& out) {
        const size_t start = at_;
        while (at_ < s_.size() && (std::string_view("+-0123456789.eE").find(s_[at_]) != std::string_view::npos)) ++at_;
        if (at_ == start || at_ - start > 40) return false;
        const std::string digits(s_.substr(start, at_ - start));
        char* end = nullptr;
        const double v = std::strtod(digits.c_str(), &end);
        if (end != digits.c_str() + digits.size() || !std::isfinite(v)) return false;
        out.type = Json::Type::Number;
        out.number = v;
        return true;
    }
    static void putUtf8(std::string& out, uint32_t cp) {
        if (cp < 0x80) {
            out += char(cp);
        } else if (cp < 0x800) {
            out += char(0xC0 | (cp >> 6));
            out += char(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += char(0xE0 | (cp >> 12));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        } else {
            out += char(0xF0 | (cp >> 18));
            out += char(0x80 | ((cp >> 12) & 0x3F));
            out += char(0x80 | ((cp >> 6) & 0x3F));
            out += char(0x80 | (cp & 0x3F));
        }
    }
    bool hex4(uint32_t& v) {
        if (s_.size() - at_ < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = s_[at_++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= uint32_t(c - '0');
            else if (c >= 'a' && c <= 'f') v |= uint32_t(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F') v |= uint32_t(c - 'A' + 10);
            else return false;
        }
        return true;
    }
    bool string(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < s_.size()) {
            const char c = s_[at_++];
            if (c == '"') return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= s_.size()) return false;
            const char e = s_[at_++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'u': {
                uint32_t cp = 0;
                if (!hex4(cp)) return false;
                // A surrogate pair makes one code point; a lone half becomes U+FFFD.
                if (cp >= 0xD800 && cp < 0xDC00 && s_.substr(at_, 2) == "\\u") {
                    at_ += 2;
                    uint32_t low = 0;
                    if (!hex4(low)) return false;
                    cp = (low >= 0xDC00 && low < 0xE000) ? 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00) : 0xFFFD;
                } else if (cp >= 0xD800 && cp < 0xE000) {
                    cp = 0xFFFD;
                }
                putUtf8(out, cp);
                break;
            }
            default: return false;
            }
        }
        return false;
    }
    bool array(Json& out, int depth) {
        ++at_;
        out.type = Json::Type::Array;
        skip();
        if (at_ < s_.size() && s_[at_] == ']') {
            ++at_;
            return true;
        }
        while (true) {
            out.items.emplace_back();
            if (!value(out.items.back(), depth + 1)) return false;
            skip();
            if (at_ >= s_.size()) return false;
            if (s_[at_] == ',') {
                ++at_;
                continue;
            }
            if (s_[at_] == ']') {
                ++at_;
                return true;
            }
            return false;
        }
    }
    bool object(Json& out, int depth) {
        ++at_;
        out.type = Json::Type::Object;
        skip();
        if (at_ < s_.size() && s_[at_] == '}') {
            ++at_;
            return true;
        }
        while (true) {
            skip();
            if (at_ >= s_.size() || s_[at_] != '"') return false;
            std::string key;
            if (!string(key)) return false;
            skip();
            if (at_ >= s_.size() || s_[at_] != ':') return false;
            ++at_;
            if (keptMember(key)) {
                out.keys.push_back(std::move(key));
                out.items.emplace_back();
                if (!value(out.items.back(), depth + 1)) return false;
            } else {
                Json dropped;
                if (!value(dropped, depth + 1)) return false;
            }
            skip();
            if (at_ >= s_.size()) return false;
            if (s_[at_] == ',') {
                ++at_;
                continue;
            }
            if (s_[at_] == '}') {
                ++at_;
                return true;
            }
            return false;
        }
    }

    std::string_view s_;
    size_t at_ = 0;
    size_t values_ = 0;
};

int64_t integer(const Json* j) {
    if (!j || j->type != Json::Type::Number) return 0;
    return int64_t(std::clamp(j->number, -9.0e15, 9.0e15));
}
std::string text(const Json* j) { return j && j->type == Json::Type::String ? j->text : std::string{}; }

int32_t clamp32(int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); }

std::optional<Rect> rectOf(const Json* j) {
    if (!j || j->type != Json::Type::Object) return std::nullopt;
    return Rect{clamp32(integer(j->get("x"))), clamp32(integer(j->get("y"))), clamp32(integer(j->get("width"))),
                clamp32(integer(j->get("height")))};
}

void walk(const Json& node, std::vector<CompositorWindow>& out, int depth) {
    if (node.type != Json::Type::Object || depth > kMaxDepth) return;
    // A view: a node with content from a client (an app id, a process or an X11 window).
    const Json* appId = node.get("app_id");
    const Json* pid = node.get("pid");
    const Json* props = node.get("window_properties");
    const bool view = (appId && appId->type == Json::Type::String) || (pid && pid->type == Json::Type::Number) ||
                      (props && props->type == Json::Type::Object);
    if (view) {
        const auto outer = rectOf(node.get("rect"));
        if (outer) {
            CompositorWindow w;
            w.id = integer(node.get("id"));
            w.pid = clamp32(integer(pid));
            w.appId = text(appId);
            if (w.appId.empty() && props) w.appId = text(props->get("class"));
            w.title = text(node.get("name"));
            const Json* focused = node.get("focused");
            w.focused = focused && focused->type == Json::Type::Bool && focused->boolean;
            w.frame = *outer;
            w.content = *outer;
            if (const auto inner = rectOf(node.get("window_rect")); inner && inner->width > 0 && inner->height > 0) {
                w.content = Rect{clamp32(int64_t{outer->left} + inner->left), clamp32(int64_t{outer->top} + inner->top),
                                 inner->width, inner->height};
            }
            out.push_back(std::move(w));
        }
    }
    for (const char* key : {"nodes", "floating_nodes"}) {
        const Json* kids = node.get(key);
        if (!kids || kids->type != Json::Type::Array) continue;
        for (const Json& k : kids->items) walk(k, out, depth + 1);
    }
}

}  // namespace

std::vector<CompositorWindow> parseCompositorTree(std::string_view json) {
    Json root;
    Reader(json).value(root, 0);  // a fault keeps what was read before it
    std::vector<CompositorWindow> out;
    walk(root, out, 0);
    return out;
}

}  // namespace tavik::desktop::wayland
