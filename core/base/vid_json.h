// Checking and re-writing the JSON a clip block keeps as its metadata. Everything a writer is
// given and everything a reader finds goes through one parser with one bound on nesting, so
// that no reader (Python's json, Octave's jsondecode, a browser) is ever handed text it cannot
// take. Never throws; thread-safe.
#pragma once

#include <string>

// The deepest nesting of arrays and objects metadata may have.
constexpr int kVidJsonMaxDepth = 64;

// True when `text` is one JSON object, UTF-8, nested at most kVidJsonMaxDepth deep, with
// nothing but white space after it. Else false with `why` in plain words.
bool vid_json_object_check(const std::string& text, std::string& why);

// `text` (which passed vid_json_object_check) written again on one line, UTF-8 as is.
// "{}" when it cannot be parsed.
std::string vid_json_compact(const std::string& text);

// Sets `key` of the JSON object in `object` (which passed vid_json_object_check) to the JSON
// value `value` (replace: also when the key is there; else a key already there is kept), the
// object written again on one line. False with `why` when the object cannot be read.
bool vid_json_with_key(std::string& object, const std::string& key, const std::string& value,
                       bool replace, std::string& why);
// Removes `key` from the JSON object in `object`; the same rules.
bool vid_json_without_key(std::string& object, const std::string& key, std::string& why);
