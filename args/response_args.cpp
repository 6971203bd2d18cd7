#include "response_args.h"

#include "host.h"

namespace {

enum ResponseOption { OPT_WAVELENGTH, OPT_SIGMA_ALONG, OPT_SIGMA_ACROSS, OPT_HALF_SIZE, RESPONSE_OPTIONS };

const char* const IMAGES_LABEL = "IMAGES (argument 1)";

int dimension(const mxArray* a, mwSize k)
{
    return k < mxGetNumberOfDimensions(a) ? static_cast<int>(mxGetDimensions(a)[k]) : 1;
}

}  // namespace

void readResponseCall(const OtkCall& c, ResponseState& s)
{
    requireOtkInputs(c, 2, "IMAGES and N");
    const mxArray* images = c.prhs[RESPONSE_ARG_IMAGES];
    const RealArray values = readReal(c, images, IMAGES_LABEL);
    if (mxGetNumberOfDimensions(images) > 3)
        otkError(c, "badSize", "%s: %s must be nRows x nCols x nImages (it has %d dimensions)", c.name, IMAGES_LABEL,
                 static_cast<int>(mxGetNumberOfDimensions(images)));
    for (mwSize k = 0; k < 3; ++k)
        if (static_cast<double>(k < mxGetNumberOfDimensions(images) ? mxGetDimensions(images)[k] : 1) > 2147483647.0)
            otkError(c, "badSize", "%s: %s has a dimension beyond 2^31-1", c.name, IMAGES_LABEL);
    s.nRows = dimension(images, 0);
    s.nCols = dimension(images, 1);
    s.nImages = dimension(images, 2);
    s.images = values.data;
    s.N = static_cast<int>(readScalar(c, c.prhs[RESPONSE_ARG_N], "N (argument 2)", KIND_POSITIVE_INTEGER));

    OptionSlot options[RESPONSE_OPTIONS] = {
        {"Wavelength", nullptr}, {"SigmaAlong", nullptr}, {"SigmaAcross", nullptr}, {"HalfSize", nullptr}};
    readOptions(c, RESPONSE_ARG_FIRST_OPTION, options, RESPONSE_OPTIONS);
    const auto positive = [&](int k, const char* label, double fallback) {
        return options[k].value ? readScalar(c, options[k].value, label, KIND_POSITIVE) : fallback;
    };
    s.wavelength = positive(OPT_WAVELENGTH, "Wavelength (option)", DEFAULT_WAVELENGTH);
    s.sigmaAlong = positive(OPT_SIGMA_ALONG, "SigmaAlong (option)", DEFAULT_SIGMA_ALONG);
    s.sigmaAcross = positive(OPT_SIGMA_ACROSS, "SigmaAcross (option)", DEFAULT_SIGMA_ACROSS);
    s.halfSize = options[OPT_HALF_SIZE].value
                     ? static_cast<int>(readScalar(c, options[OPT_HALF_SIZE].value, "HalfSize (option)", KIND_COUNT))
                     : DEFAULT_HALF_SIZE;
    s.responses = nullptr;
}
