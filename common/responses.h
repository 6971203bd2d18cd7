// Oriented responses of images: at each of N orientations the quadrature
// energy sqrt(even^2 + odd^2) of a pair of Gabor filters, computed with
// FFTW. No host calls here.
//
// The filters of orientation k (0-based) run at theta = pi*k/N from the row
// axis toward the column axis. At the offset (r, c) from the kernel's
// centre, |r|, |c| <= halfSize, with along = r*cos(theta) + c*sin(theta)
// and across = -r*sin(theta) + c*cos(theta):
//   envelope = exp(-(along^2/(2*sigmaAlong^2) + across^2/(2*sigmaAcross^2)))
//   even     = envelope*cos(2*pi*across/wavelength), less
//              envelope*sum(even)/sum(envelope) (so that it sums to 0)
//   odd      = envelope*sin(2*pi*across/wavelength)
// (pi the true one, 3.14159265358979...). Each is convolved with the image
// as a 2-D convolution keeping the central part of the image's size, zeros
// outside the image.
//
// The convolutions go through the frequency domain on a padded grid large
// enough that no wrap-around reaches the kept part. The plans are fixed
// (FFTW_ESTIMATE, made without any wisdom the process holds and without
// FFTW's own threads), so a result is the same bits for any thread count,
// any split of a batch and any order of calls; it differs from the direct
// sums by rounding only (about 1e-15 of the largest response).
#pragma once

struct ResponseState {
    int nImages;
    int N;  // orientations, >= 1
    int nRows;
    int nCols;
    double wavelength;   // pixels per cycle of the carrier, > 0
    double sigmaAlong;   // pixels, > 0
    double sigmaAcross;  // pixels, > 0
    int halfSize;        // the kernels are (2*halfSize+1)^2, >= 0
    // nRows x nCols x nImages, column-major.
    const double* images;
    // nRows x nCols x N x nImages, column-major; every entry is written.
    double* responses;
};

// The length a dimension of n pixels is padded to for a kernel of the
// given half size: a number >= n + halfSize whose prime factors are all 2,
// 3, 5 or 7, the one whose transforms were measured cheapest (up to 4536;
// beyond, the smallest). Depends on the sizes alone.
long long paddedLength(long long n, int halfSize);

// Raises "<Function>:outOfMemory" when the transforms of s cannot be held;
// call before anything is written.
void requireResponseMemory(const ResponseState& s);

// Fills s.responses. Threaded with the toolbox's layer over images and
// orientations.
void orientedResponses(const ResponseState& s);

// Whether the 4-lane AVX2 paths are taken where the processor has them
// (the default), or the SSE2 and scalar ones; returns whether they are
// taken now. Both give the same bits: tests run both.
bool useWideResponses(bool wide);

// The transforms a call cannot avoid and nothing else, for the benchmarks'
// floor: for each image one real-to-complex transform of the padded image
// and N complex inverse transforms of the padded size, on one thread, with
// the plans the call uses and taken as it takes them (down the columns,
// then along the rows a strip at a time), without the copies, products and
// square roots around them. Writes nothing of s but reads s.images.
void responseTransformsOnly(const ResponseState& s);
