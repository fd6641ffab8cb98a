// A small JSON writer for the status report.
#pragma once

#include <cstdint>
#include <string>

namespace nt {

class JsonWriter {
public:
    JsonWriter& beginObject() { return open('{'); }
    JsonWriter& endObject() { return close('}'); }
    JsonWriter& beginArray() { return open('['); }
    JsonWriter& endArray() { return close(']'); }
    JsonWriter& key(const std::string& name) {
        separate();
        quote(name);
        out_ += ':';
        afterKey_ = true;
        return *this;
    }
    JsonWriter& value(const std::string& text) {
        separate();
        quote(text);
        return *this;
    }
    JsonWriter& value(const char* text) { return value(std::string(text)); }
    JsonWriter& value(uint64_t number) {
        separate();
        out_ += std::to_string(number);
        return *this;
    }
    JsonWriter& value(bool flag) {
        separate();
        out_ += flag ? "true" : "false";
        return *this;
    }
    JsonWriter& null() {
        separate();
        out_ += "null";
        return *this;
    }
    const std::string& str() const { return out_; }

private:
    JsonWriter& open(char c) {
        separate();
        out_ += c;
        first_ = true;
        return *this;
    }
    JsonWriter& close(char c) {
        out_ += c;
        first_ = false;
        return *this;
    }
    void separate() {
        if (afterKey_) {
            afterKey_ = false;
            return;
        }
        if (!first_ && !out_.empty()) out_ += ',';
        first_ = false;
    }
    void quote(const std::string& text) {
        out_ += '"';
        for (char c : text) {
            switch (c) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '\n': out_ += "\\n"; break;
            case '\t': out_ += "\\t"; break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) {
                    char escape[8];
                    std::snprintf(escape, sizeof escape, "\\u%04x", c);
                    out_ += escape;
                } else {
                    out_ += c;
                }
            }
        }
        out_ += '"';
    }

    std::string out_;
    bool first_ = true;
    bool afterKey_ = false;
};

}  // namespace nt
