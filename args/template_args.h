// Inputs that Halvery and Wendlow share: positions 0 to 25 mean the same in
// both, so both gateways read the template part of a call here.
#pragma once

#include "args.h"
#include "pooling.h"
#include "template.h"

enum TemplateArg {
    ARG_N_IMAGES = 0,
    ARG_N = 1,
    ARG_RESPONSE_MAPS = 2,
    ARG_UNUSED_GRID = 3,
    ARG_PATCH_HALF = 4,
    ARG_N_ROWS = 5,
    ARG_N_COLS = 6,
    ARG_UNUSED_DOUBLE = 7,
    ARG_ELEM_ORI = 8,
    ARG_ELEM_X = 9,
    ARG_ELEM_Y = 10,
    ARG_ELEM_WEIGHT = 11,
    ARG_ELEM_BIAS = 12,
    ARG_PATCHES = 13,
    ARG_RENDER_MAPS = 14,
    ARG_SHIFT_RANGE = 15,
    ARG_ORI_RANGE = 16,
    ARG_SHIFT_STEP = 17,
    ARG_N_ELEMENTS = 18,
    ARG_SATURATION = 19,
    ARG_SCORES = 20,
    ARG_POOLED_VALUES = 21,
    ARG_UNUSED_ROUNDED = 22,
    ARG_UNUSED_DATA_1 = 23,
    ARG_UNUSED_DATA_2 = 24,
    ARG_UNUSED_DATA_3 = 25,
    TEMPLATE_ARGS = 26
};

// Reads and checks positions 0, 1, 2, 5, 6, 8 to 12 and 15 to 19 into pool
// and tpl (shift tables not yet built). shiftRange and oriRange must not be
// negative, oriRange not above N. Element rows, columns and
// orientations must fit an int after truncation; what orientations are
// allowed beyond that is the caller's business.
void readTemplateCall(const Gateway& g, PoolState& pool, Template& tpl);
