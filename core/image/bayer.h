// Tile Bayer routines: one-byte colour-filter mosaics to RGB.
//
// A mosaic holds w x h bytes, rows from the top, no padding; the RGB image holds 3 x w x h
// bytes, pixel (x, y) at byte 3 * (y * w + x), channels red, green, blue. A pixel's position
// index is q = (x even ? 1 : 0) + (y even ? 2 : 0); the tile arrangement says which colour
// the sample at each q carries and which role each site plays during interpolation.
//
// The routines keep no state (the tables are constant) and may run at the same time on
// different images; the frame demosaic calls gp_bayer_decode from several workers at once.
#pragma once

// Tile arrangement of a one-byte mosaic. The name spells the top-left 2 x 2 tile, row 0
// then row 1. Values 4 to 7 are 0 to 3 with interlaced rows: each input row holds first the
// samples of the odd columns, then those of the even columns (odd column x at byte x / 2,
// even column x at byte w / 2 + x / 2).
// The underlying type is fixed so that any int, including values outside 0 to 7, is a valid
// BayerTile: such a value expands nothing and interpolates with the roles of arrangement 0.
enum BayerTile : int {
    BAYER_TILE_BGGR = 0,
    BAYER_TILE_GBRG = 1,
    BAYER_TILE_RGGB = 2,
    BAYER_TILE_GRBG = 3,
    BAYER_TILE_BGGR_INTERLACED = 4,
    BAYER_TILE_GBRG_INTERLACED = 5,
    BAYER_TILE_RGGB_INTERLACED = 6,
    BAYER_TILE_GRBG_INTERLACED = 7,
};

// Colour index (0 red, 1 green, 2 blue) of the sample at position index q, per arrangement.
extern const int tile_colours[8][4];

// Writes the w x h mosaic into the 3 x w x h RGB image: each pixel gets its sample in the
// channel of its colour and 0 in the other two. A tile outside 0 to 7 writes nothing.
// Returns 0. w or h below 1 writes nothing.
int gp_bayer_expand(unsigned char* mosaic, int w, int h, unsigned char* rgb, BayerTile tile);

// Completes an expanded RGB image in place: every pixel gets the two channels its site
// lacks, estimated from the neighbours that lie inside the image. Returns 0.
// Images of width or height 1 are handled: a channel with no neighbour inside the image to
// take it from is set to 0.
int gp_bayer_interpolate(unsigned char* rgb, int w, int h, BayerTile tile);

// gp_bayer_expand then gp_bayer_interpolate. Returns 0.
int gp_bayer_decode(unsigned char* mosaic, int w, int h, unsigned char* rgb, BayerTile tile);
