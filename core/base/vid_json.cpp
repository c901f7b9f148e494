// Metadata JSON: one parser (nlohmann-json) with a nesting bound; see vid_json.h.
#include "vid_json.h"

#include <cstdio>
#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::json;

// A SAX handler that builds nothing: it counts depth and refuses past the bound, so that a
// hostile nesting costs neither stack nor memory.
struct DepthCheck : nlohmann::json_sax<json> {
    int depth = 0;
    bool too_deep = false;
    bool first = true;
    bool object_first = false;
    std::string error;

    bool open(bool object)
    {
        if (first)
            object_first = object;
        first = false;
        if (++depth > kVidJsonMaxDepth) {
            too_deep = true;
            return false;
        }
        return true;
    }
    bool value()
    {
        first = false;
        return true;
    }
    bool null() override { return value(); }
    bool boolean(bool) override { return value(); }
    bool number_integer(number_integer_t) override { return value(); }
    bool number_unsigned(number_unsigned_t) override { return value(); }
    bool number_float(number_float_t, const string_t&) override { return value(); }
    bool string(string_t&) override { return value(); }
    bool binary(binary_t&) override { return value(); }
    bool start_object(std::size_t) override { return open(true); }
    bool key(string_t&) override { return true; }
    bool end_object() override
    {
        depth--;
        return true;
    }
    bool start_array(std::size_t) override { return open(false); }
    bool end_array() override
    {
        depth--;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& e) override
    {
        error = e.what();
        return false;
    }
};

} // namespace

bool vid_json_object_check(const std::string& text, std::string& why)
{
    DepthCheck check;
    bool parsed = false;
    try {
        parsed = json::sax_parse(text, &check);
    } catch (const std::exception& e) {
        parsed = false;
        check.error = e.what();
    }
    if (check.too_deep) {
        why = "the metadata is nested deeper than " + std::to_string(kVidJsonMaxDepth) + " levels";
        return false;
    }
    if (!parsed) {
        // nlohmann's messages start with "[json.exception.parse_error.101] parse error at ...".
        std::string detail = check.error;
        const size_t bracket = detail.find("] ");
        if (bracket != std::string::npos)
            detail = detail.substr(bracket + 2);
        // The parser quotes the bytes it stopped at: kept to printable ASCII, so that the
        // reason is plain text wherever it goes.
        std::string plain;
        char hex[8];
        for (char ch : detail) {
            const unsigned char c = static_cast<unsigned char>(ch);
            if (c >= 0x20 && c < 0x7f) {
                plain += ch;
            } else {
                snprintf(hex, sizeof hex, "\\x%02x", c);
                plain += hex;
            }
        }
        detail = plain.size() > 200 ? plain.substr(0, 200) + "..." : plain;
        why = "the metadata is not valid JSON" + (detail.empty() ? "" : " (" + detail + ")");
        return false;
    }
    if (!check.object_first) {
        why = "the metadata must be a JSON object";
        return false;
    }
    return true;
}

std::string vid_json_compact(const std::string& text)
{
    std::string why;
    if (!vid_json_object_check(text, why))
        return "{}";
    try {
        return json::parse(text).dump(-1, ' ', false, json::error_handler_t::replace);
    } catch (const std::exception&) {
        return "{}";
    }
}

bool vid_json_with_key(std::string& object, const std::string& key, const std::string& value,
                       bool replace, std::string& why)
{
    if (!vid_json_object_check(object, why))
        return false;
    try {
        json j = json::parse(object);
        if (replace || !j.contains(key))
            j[key] = json::parse(value);
        object = j.dump(-1, ' ', false, json::error_handler_t::replace);
        return true;
    } catch (const std::exception& e) {
        why = std::string("the metadata cannot take \"") + key + "\": " + e.what();
        return false;
    }
}

bool vid_json_without_key(std::string& object, const std::string& key, std::string& why)
{
    if (!vid_json_object_check(object, why))
        return false;
    try {
        json j = json::parse(object);
        j.erase(key);
        object = j.dump(-1, ' ', false, json::error_handler_t::replace);
        return true;
    } catch (const std::exception& e) {
        why = e.what();
        return false;
    }
}
