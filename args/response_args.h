// What otk_oriented_responses reads: IMAGES (argument 1), N (argument 2)
// and the filters' options from argument 3 on.
#pragma once

#include "otk_args.h"
#include "responses.h"

enum ResponseArg { RESPONSE_ARG_IMAGES = 0, RESPONSE_ARG_N = 1, RESPONSE_ARG_FIRST_OPTION = 2 };

// The filters of the interpreted definition the function follows.
constexpr double DEFAULT_WAVELENGTH = 6;
constexpr double DEFAULT_SIGMA_ALONG = 3;
constexpr double DEFAULT_SIGMA_ACROSS = 1.5;
constexpr int DEFAULT_HALF_SIZE = 7;

// Everything of s but responses, checked; the images as doubles (the
// caller's when they are double, else converted once). Reads only.
void readResponseCall(const OtkCall& c, ResponseState& s);
