// The sensor description of a clip; see vid_sensor.h.
#include "vid_sensor.h"

#include <cctype>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "vid_kind.h"

const char* const kVidSensorKeys[6] = {"cfa",         "bit_depth", "black_level",
                                       "white_level", "gains",     "color_matrix"};

namespace {

using Json = nlohmann::json;

const struct {
    VidCfa cfa;
    const char* name;
    char tile[5]; // (0,0) (1,0) (0,1) (1,1)
} kPatterns[] = {
    {VidCfa::rggb, "RGGB", "RGGB"},
    {VidCfa::bggr, "BGGR", "BGGR"},
    {VidCfa::grbg, "GRBG", "GRBG"},
    {VidCfa::gbrg, "GBRG", "GBRG"},
};

bool numbers(const Json& j, size_t count, double* out)
{
    if (!j.is_array() || j.size() != count)
        return false;
    for (size_t i = 0; i < count; i++) {
        if (!j[i].is_number() || !std::isfinite(j[i].get<double>()))
            return false;
        out[i] = j[i].get<double>();
    }
    return true;
}

bool refuse(std::string& why, const char* key, const std::string& text)
{
    why = std::string("metadata key \"") + key + "\": " + text;
    return false;
}

std::string number_text(double v)
{
    char text[32];
    snprintf(text, sizeof text, "%.6g", v);
    return text;
}

} // namespace

const char* vid_cfa_name(VidCfa cfa)
{
    for (const auto& p : kPatterns)
        if (p.cfa == cfa)
            return p.name;
    return "none";
}

bool vid_cfa_parse(const std::string& name, VidCfa& cfa)
{
    std::string upper;
    for (char c : name)
        upper.push_back(char(toupper((unsigned char)c)));
    if (upper == "NONE") {
        cfa = VidCfa::none;
        return true;
    }
    for (const auto& p : kPatterns)
        if (upper == p.name) {
            cfa = p.cfa;
            return true;
        }
    return false;
}

char vid_cfa_site(VidCfa cfa, int x, int y)
{
    for (const auto& p : kPatterns)
        if (p.cfa == cfa)
            return p.tile[(y & 1) * 2 + (x & 1)];
    return 0;
}

VidSensor vid_sensor_default(VidKind kind, int width)
{
    VidSensor s;
    const bool one_byte = kind == VidKind::bayer8 || kind == VidKind::mono8 || kind == VidKind::rgb;
    s.bit_depth = one_byte ? 8 : 16;
    s.white = double((1 << s.bit_depth) - 1);
    s.cfa = VidCfa::none;
    if (kind == VidKind::bayer8 || kind == VidKind::bayer16) {
        const char tile[4] = {vid_bayer_site(kind, width, 0, 0), vid_bayer_site(kind, width, 1, 0),
                              vid_bayer_site(kind, width, 0, 1), vid_bayer_site(kind, width, 1, 1)};
        for (const auto& p : kPatterns)
            if (std::string(p.tile, 4) == std::string(tile, 4))
                s.cfa = p.cfa;
    }
    return s;
}

bool vid_sensor_parse(const std::string& metadata, VidKind kind, int width, VidSensor& sensor,
                      std::string& why)
{
    sensor = vid_sensor_default(kind, width);
    const Json j = Json::parse(metadata, nullptr, false);
    if (j.is_discarded() || !j.is_object())
        return true;
    const bool mono = kind == VidKind::mono8 || kind == VidKind::mono16;
    const bool bayer = kind == VidKind::bayer8 || kind == VidKind::bayer16;
    const int widest = kind == VidKind::bayer8 || kind == VidKind::mono8 ? 8 : 16;
    for (const char* key : kVidSensorKeys)
        if (j.contains(key))
            sensor.described = true;
    if (!sensor.described)
        return true;
    if (!mono && !bayer) { // RGB frames are pictured as they are; their keys are notes
        sensor.described = false;
        return true;
    }
    if (j.contains("cfa")) {
        VidCfa cfa;
        if (!j["cfa"].is_string() || !vid_cfa_parse(j["cfa"].get<std::string>(), cfa))
            return refuse(why, "cfa", "not one of RGGB, BGGR, GRBG, GBRG, none");
        if (mono && cfa != VidCfa::none)
            return refuse(why, "cfa", "a mono clip has no colour-filter pattern");
        if (bayer && cfa == VidCfa::none)
            return refuse(why, "cfa",
                          "a Bayer clip needs a colour-filter pattern (or a mono kind)");
        sensor.cfa = cfa;
        sensor.cfa_given = true;
    }
    if (j.contains("bit_depth")) {
        const Json& b = j["bit_depth"];
        if (!b.is_number_integer() || b.get<int64_t>() < 1 || b.get<int64_t>() > widest)
            return refuse(why, "bit_depth",
                          "a whole number of 1 to " + std::to_string(widest) +
                              " for these samples");
        sensor.bit_depth = int(b.get<int64_t>());
    }
    sensor.white = double((1u << sensor.bit_depth) - 1);
    if (j.contains("black_level")) {
        const Json& b = j["black_level"];
        if (b.is_number() && std::isfinite(b.get<double>())) {
            for (double& v : sensor.black)
                v = b.get<double>();
        } else if (!numbers(b, 4, sensor.black)) {
            return refuse(why, "black_level", "one number, or four (one per site of the tile)");
        }
        for (double v : sensor.black)
            if (v < 0)
                return refuse(why, "black_level", "below 0");
    }
    if (j.contains("white_level")) {
        const Json& w = j["white_level"];
        if (!w.is_number() || !std::isfinite(w.get<double>()) || w.get<double>() <= 0 ||
            w.get<double>() > 65535)
            return refuse(why, "white_level", "a number of 1 to 65535");
        sensor.white = w.get<double>();
    }
    for (double v : sensor.black)
        if (v >= sensor.white)
            return refuse(why, "black_level",
                          "at or above the white level " + number_text(sensor.white));
    if (j.contains("gains")) {
        if (!numbers(j["gains"], 3, sensor.gains))
            return refuse(why, "gains", "three numbers: red, green, blue");
        for (double g : sensor.gains)
            if (!(g > 0) || g > 1000)
                return refuse(why, "gains", "each above 0 and at most 1000");
    }
    if (j.contains("color_matrix")) {
        if (!numbers(j["color_matrix"], 9, sensor.matrix))
            return refuse(why, "color_matrix", "nine numbers, row by row");
        for (double m : sensor.matrix)
            if (std::fabs(m) > 1000)
                return refuse(why, "color_matrix", "numbers of at most 1000 in magnitude");
        sensor.has_matrix = true;
    }
    return true;
}

bool vid_sensor_says_mono(const std::string& metadata)
{
    const Json j = Json::parse(metadata, nullptr, false);
    VidCfa cfa;
    return !j.is_discarded() && j.is_object() && j.contains("cfa") && j["cfa"].is_string() &&
           vid_cfa_parse(j["cfa"].get<std::string>(), cfa) && cfa == VidCfa::none;
}

std::string vid_sensor_text(const VidSensor& s)
{
    std::string text = s.cfa == VidCfa::none ? "mono" : vid_cfa_name(s.cfa);
    text += ", " + std::to_string(s.bit_depth) + " bits, black ";
    const bool one_black =
        s.black[0] == s.black[1] && s.black[0] == s.black[2] && s.black[0] == s.black[3];
    for (int i = 0; i < (one_black ? 1 : 4); i++)
        text += (i ? " " : "") + number_text(s.black[i]);
    text += ", white " + number_text(s.white);
    if (s.cfa != VidCfa::none)
        text += ", gains " + number_text(s.gains[0]) + " " + number_text(s.gains[1]) + " " +
                number_text(s.gains[2]);
    if (s.has_matrix)
        text += ", colour matrix";
    return text;
}

std::string vid_sensor_json(const VidSensor& s)
{
    Json j;
    j["cfa"] = vid_cfa_name(s.cfa);
    j["bit_depth"] = s.bit_depth;
    j["black_level"] = Json::array({s.black[0], s.black[1], s.black[2], s.black[3]});
    j["white_level"] = s.white;
    j["gains"] = Json::array({s.gains[0], s.gains[1], s.gains[2]});
    if (s.has_matrix)
        j["color_matrix"] =
            Json::array({s.matrix[0], s.matrix[1], s.matrix[2], s.matrix[3], s.matrix[4],
                         s.matrix[5], s.matrix[6], s.matrix[7], s.matrix[8]});
    else
        j["color_matrix"] = nullptr;
    return j.dump();
}
