// A strict reader of one JSON value (RFC 8259), enough to check what the status command
// prints for scripts without trusting the code that wrote it.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct JsonValue {
    enum Kind { Null, Bool, Number, String, Array, Object };
    Kind kind = Null;
    bool boolean = false;
    double number = 0;
    std::string string;  // UTF-8
    std::vector<JsonValue> array;
    std::map<std::string, JsonValue> object;

    const JsonValue& operator[](const std::string& key) const {
        static const JsonValue missing{};
        const auto found = object.find(key);
        return found != object.end() ? found->second : missing;
    }
    bool Has(const std::string& key) const { return object.count(key) != 0; }
};

class JsonReader {
public:
    // The value text holds, or nothing when text is not exactly one JSON value (blanks
    // around it allowed).
    static std::optional<JsonValue> Read(const std::string& text) {
        JsonReader reader(text);
        JsonValue value;
        if (!reader.Value(value)) {
            return std::nullopt;
        }
        reader.Blanks();
        if (reader.at_ != text.size()) {
            return std::nullopt;
        }
        return value;
    }

private:
    explicit JsonReader(const std::string& text) : text_(text) {}

    void Blanks() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }
    bool Take(char c) {
        Blanks();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool Word(const char* word) {
        const std::string w(word);
        if (text_.compare(at_, w.size(), w) != 0) {
            return false;
        }
        at_ += w.size();
        return true;
    }

    bool Value(JsonValue& value) {
        Blanks();
        if (at_ >= text_.size()) {
            return false;
        }
        const char c = text_[at_];
        if (c == '{') {
            return ObjectValue(value);
        }
        if (c == '[') {
            return ArrayValue(value);
        }
        if (c == '"') {
            value.kind = JsonValue::String;
            return StringValue(value.string);
        }
        if (Word("null")) {
            value.kind = JsonValue::Null;
            return true;
        }
        if (Word("true")) {
            value.kind = JsonValue::Bool;
            value.boolean = true;
            return true;
        }
        if (Word("false")) {
            value.kind = JsonValue::Bool;
            value.boolean = false;
            return true;
        }
        return NumberValue(value);
    }

    bool ObjectValue(JsonValue& value) {
        value.kind = JsonValue::Object;
        ++at_;
        if (Take('}')) {
            return true;
        }
        do {
            Blanks();
            std::string key;
            if (at_ >= text_.size() || text_[at_] != '"' || !StringValue(key) || !Take(':')) {
                return false;
            }
            JsonValue member;
            if (!Value(member) || value.object.count(key) != 0) {
                return false;  // a repeated key is no answer a script can rely on
            }
            value.object.emplace(key, std::move(member));
        } while (Take(','));
        return Take('}');
    }

    bool ArrayValue(JsonValue& value) {
        value.kind = JsonValue::Array;
        ++at_;
        if (Take(']')) {
            return true;
        }
        do {
            JsonValue element;
            if (!Value(element)) {
                return false;
            }
            value.array.push_back(std::move(element));
        } while (Take(','));
        return Take(']');
    }

    bool NumberValue(JsonValue& value) {
        const std::size_t begin = at_;
        if (at_ < text_.size() && text_[at_] == '-') {
            ++at_;
        }
        const std::size_t digits = at_;
        while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
            ++at_;
        }
        if (at_ == digits || (text_[digits] == '0' && at_ - digits > 1)) {
            return false;
        }
        value.kind = JsonValue::Number;
        value.number = std::stod(text_.substr(begin, at_ - begin));
        return true;
    }

    static void PutUtf8(std::string& out, std::uint32_t c) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }

    bool Hex4(std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i, ++at_) {
            if (at_ >= text_.size()) {
                return false;
            }
            const char c = text_[at_];
            const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
            if (digit < 0) {
                return false;
            }
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
        return true;
    }

    bool StringValue(std::string& out) {
        ++at_;  // the opening quote
        while (at_ < text_.size()) {
            const auto c = static_cast<unsigned char>(text_[at_++]);
            if (c == '"') {
                return true;
            }
            if (c < 0x20) {
                return false;  // control characters must be escaped
            }
            if (c != '\\') {
                out += static_cast<char>(c);
                continue;
            }
            if (at_ >= text_.size()) {
                return false;
            }
            const char e = text_[at_++];
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
                std::uint32_t code = 0;
                if (!Hex4(code)) {
                    return false;
                }
                PutUtf8(out, code);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    const std::string& text_;
    std::size_t at_ = 0;
};
