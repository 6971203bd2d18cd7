// The few FFTW calls the toolbox makes. Where FFTW's header is installed
// (Debian: libfftw3-dev) it is used as it is; a MATLAB build links MATLAB's
// own copy of the library (libmwfftw3), which ships without a header, and
// gets these declarations of the same stable interface instead.
#pragma once

#if defined(__has_include)
#if __has_include(<fftw3.h>)
#include <fftw3.h>
#define OTK_FFTW_HEADER 1
#endif
#endif

#if !defined(OTK_FFTW_HEADER)
#include <cstddef>
extern "C" {
typedef double fftw_complex[2];
typedef struct fftw_plan_s* fftw_plan;
fftw_plan fftw_plan_dft_1d(int n, fftw_complex* in, fftw_complex* out, int sign, unsigned flags);
fftw_plan fftw_plan_many_dft(int rank, const int* n, int howmany, fftw_complex* in, const int* inembed, int istride,
                             int idist, fftw_complex* out, const int* onembed, int ostride, int odist, int sign,
                             unsigned flags);
fftw_plan fftw_plan_dft_r2c_1d(int n, double* in, fftw_complex* out, unsigned flags);
void fftw_execute_dft(const fftw_plan p, fftw_complex* in, fftw_complex* out);
void fftw_execute_dft_r2c(const fftw_plan p, double* in, fftw_complex* out);
void fftw_destroy_plan(fftw_plan p);
void* fftw_malloc(std::size_t n);
void fftw_free(void* p);
char* fftw_export_wisdom_to_string(void);
int fftw_import_wisdom_from_string(const char* input_string);
void fftw_forget_wisdom(void);
}
#define FFTW_FORWARD (-1)
#define FFTW_BACKWARD (+1)
#define FFTW_ESTIMATE (1U << 6)
#endif
