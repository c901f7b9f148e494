// What a clip says about the sensor that took it: the colour-filter pattern (or none: a mono
// sensor), the significant bits of a sample, the black and white levels, the white-balance
// gains and an optional colour matrix. A clip keeps them as documented keys of its metadata
// object (vid_clip.h):
//
//   "cfa"           "RGGB", "BGGR", "GRBG", "GBRG" or "none" (mono)
//   "bit_depth"     1 to 16 (8 at most for one-byte samples)
//   "black_level"   a number, or four: one per site of the 2 x 2 tile, row by row
//   "white_level"   a number above the black level (default 2^bit_depth - 1)
//   "gains"         [red, green, blue], each above 0 (default [1, 1, 1])
//   "color_matrix"  nine numbers, row by row: camera RGB to linear sRGB (default: none)
//
// A clip whose metadata holds none of these keys is not described: it renders as clips always
// have (the fixed two-byte demosaic and one-byte decoder). A described clip renders through
// vid_render.h, each missing key taking its default. Never throws; thread-safe.
#pragma once

#include <string>

#include "vid_format.h"

// The colour-filter patterns, named by the colours of the 2 x 2 tile row by row.
enum class VidCfa { none, rggb, bggr, grbg, gbrg };

struct VidSensor {
    bool described = false; // the metadata holds at least one of the keys
    VidCfa cfa = VidCfa::none;
    bool cfa_given = false; // the metadata names the pattern (mono clips say "none")
    int bit_depth = 16;
    double black[4] = {0, 0, 0, 0}; // per site of the 2 x 2 tile: (0,0) (1,0) (0,1) (1,1)
    double white = 65535;
    double gains[3] = {1, 1, 1};
    bool has_matrix = false;
    double matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
};

// "RGGB", "BGGR", "GRBG", "GBRG", "none".
const char* vid_cfa_name(VidCfa cfa);
// The pattern a name gives (as vid_cfa_name gives it, any case); false for any other name.
bool vid_cfa_parse(const std::string& name, VidCfa& cfa);
// The colour at (x, y) of a pattern: 'R', 'G' or 'B'; 0 for none.
char vid_cfa_site(VidCfa cfa, int x, int y);

// The description a clip of `kind` and `width` has when its metadata says nothing: the
// pattern the stored kind has always been read with (vid_kind.h), none for mono kinds, 8 or 16
// bits by the sample width, black 0, white 2^bits - 1, gains 1, no matrix.
VidSensor vid_sensor_default(VidKind kind, int width);

// The description `metadata` (a JSON object) gives a clip of `kind` and `width`: every key it
// holds, the defaults for the rest. False with `why` naming the key when a key's value cannot
// describe the clip (an unknown pattern, bits out of range or above the sample width, a black
// level at or above the white level, a gain not above 0, a matrix not of nine numbers, a pattern
// on a mono kind or none on a Bayer kind). Metadata that is not a JSON object, and any metadata
// of RGB frames (pictured as they are), describes nothing (true, not described).
bool vid_sensor_parse(const std::string& metadata, VidKind kind, int width, VidSensor& sensor,
                      std::string& why);

// True when `metadata` (a JSON object) names the pattern none: the clip is mono.
bool vid_sensor_says_mono(const std::string& metadata);

// One line for people: "RGGB, 12 bits, black 64, white 4095, gains 1.9 1 1.6" (the matrix
// as "matrix yes").
std::string vid_sensor_text(const VidSensor& sensor);
// The description as a JSON object of the documented keys (every key, defaults included).
std::string vid_sensor_json(const VidSensor& sensor);

// The keys of the description.
extern const char* const kVidSensorKeys[6];
